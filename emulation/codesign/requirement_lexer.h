#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace shelvo::platform {

enum class TokenKind {
  End,
  LeftParen,
  RightParen,
  Bang,
  LeftBracket,
  RightBracket,
  Equal,       // =
  EqualEqual,  // ==
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
  Tilde,
  Star,
  Semicolon,
  Arrow,  // =>
  Minus,
  Word,    // an unquoted dotted key; keywords too
  String,  // a quoted string, unescaped
  Integer,
  Hash,  // H"..." with exactly 40 hex digits
  Hex,   // 0x...
  Path,  // /a/b
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;
  bool keyword = false;
};

// Splits requirement text into tokens; whitespace and comments (#, //, /* */) are skipped.
Result<std::vector<Token>> tokenizeRequirement(std::string_view text);

}  // namespace shelvo::platform
