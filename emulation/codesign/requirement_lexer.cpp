#include "emulation/codesign/requirement_lexer.h"

#include <array>
#include <cctype>
#include <utility>

namespace shelvo::platform {
namespace {

constexpr std::array<std::string_view, 26> kKeywords{
    "and",    "or",       "always",     "true",        "never",  "false",   "identifier",
    "cdhash", "platform", "notarized",  "anchor",      "apple",  "generic", "certificate",
    "cert",   "trusted",  "info",       "entitlement", "exists", "leaf",    "root",
    "guest",  "host",     "designated", "library",     "plugin"};

constexpr std::array<std::pair<std::string_view, TokenKind>, 4> kTwoCharacterSymbols{{
    {"=>", TokenKind::Arrow},
    {"==", TokenKind::EqualEqual},
    {"<=", TokenKind::LessEqual},
    {">=", TokenKind::GreaterEqual},
}};

constexpr std::array<std::pair<char, TokenKind>, 12> kSymbols{{
    {'(', TokenKind::LeftParen},
    {')', TokenKind::RightParen},
    {'!', TokenKind::Bang},
    {'[', TokenKind::LeftBracket},
    {']', TokenKind::RightBracket},
    {'=', TokenKind::Equal},
    {'<', TokenKind::Less},
    {'>', TokenKind::Greater},
    {'~', TokenKind::Tilde},
    {'*', TokenKind::Star},
    {';', TokenKind::Semicolon},
    {'-', TokenKind::Minus},
}};

bool isKeyword(std::string_view word) {
  for (auto keyword : kKeywords) {
    if (keyword == word) return true;
  }
  return false;
}

bool isLetter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool isHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool isAlnum(char c) {
  return isLetter(c) || isDigit(c);
}
bool isPathCharacter(char c) {
  return c == '/' || isAlnum(c) || c == '.' || c == '_' || c == '-';
}

// Reads one token at a time from the text; each reader starts at the token's first character.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Result<std::vector<Token>> tokens() {
    std::vector<Token> tokens;
    while (true) {
      if (auto skipped = skipBlanksAndComments(); !skipped) return skipped.error();
      if (at_ == text_.size()) break;
      auto token = readToken();
      if (!token) return token.error();
      tokens.push_back(std::move(*token));
    }
    tokens.push_back(Token{TokenKind::End, {}});
    return tokens;
  }

 private:
  Error fault(std::string_view what, std::size_t at) const {
    return Error{std::string(what) + " at offset " + std::to_string(at)};
  }
  bool startsWith(std::string_view prefix) const { return text_.substr(at_).starts_with(prefix); }
  char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }
  // The text from start to here.
  std::string since(std::size_t start) const {
    return std::string(text_.substr(start, at_ - start));
  }
  template <typename Predicate>
  void skipWhile(Predicate predicate) {
    while (at_ < text_.size() && predicate(text_[at_])) ++at_;
  }

  Status skipBlanksAndComments() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\n') {
        ++at_;
      } else if (c == '#' || startsWith("//")) {
        skipWhile([](char ch) { return ch != '\n'; });
      } else if (startsWith("/*")) {
        std::size_t end = text_.find("*/", at_ + 2);
        if (end == std::string_view::npos) return fault("unterminated comment", at_);
        at_ = end + 2;
      } else {
        break;
      }
    }
    return success();
  }

  Result<Token> readToken() {
    char c = peek();
    if (c == '/' && isLetter(peek(1))) return readPath();
    if (c == '"') return readString();
    if (c == 'H' && peek(1) == '"') return readHash();
    if (c == '0' && (peek(1) == 'x' || peek(1) == 'X')) return readHex();
    if (isDigit(c)) return readInteger();
    if (isLetter(c)) return readWord();
    return readSymbol();
  }

  Token readPath() {
    std::size_t start = at_;
    skipWhile(isPathCharacter);
    return Token{TokenKind::Path, since(start)};
  }

  // A quoted string; a backslash takes the next character as it is.
  Result<Token> readString() {
    std::string value;
    ++at_;
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return Token{TokenKind::String, std::move(value)};
      if (c == '\\' && at_ < text_.size()) c = text_[at_++];
      value.push_back(c);
    }
    return fault("unterminated string", at_);
  }

  Result<Token> readHash() {
    std::size_t start = at_ + 2;
    std::size_t end = text_.find('"', start);
    if (end == std::string_view::npos) return fault("unterminated hash", at_);
    std::string hex(text_.substr(start, end - start));
    for (char h : hex) {
      if (!isHexDigit(h)) return fault("invalid hash", start);
    }
    if (hex.size() != 40) return fault("invalid hash length", start);
    at_ = end + 1;
    return Token{TokenKind::Hash, std::move(hex)};
  }

  Token readHex() {
    std::size_t start = at_;
    at_ += 2;
    skipWhile(isHexDigit);
    return Token{TokenKind::Hex, since(start)};
  }

  Token readInteger() {
    std::size_t start = at_;
    skipWhile(isDigit);
    return Token{TokenKind::Integer, since(start)};
  }

  // A dotted key: a word, then dot-separated words or digit runs. Keywords are words too.
  Token readWord() {
    std::size_t start = at_;
    skipWhile(isAlnum);
    while (peek() == '.' && isAlnum(peek(1))) {
      ++at_;
      if (isDigit(peek())) {
        skipWhile(isDigit);
      } else {
        skipWhile(isAlnum);
      }
    }
    std::string word = since(start);
    bool keyword = isKeyword(word);
    return Token{TokenKind::Word, std::move(word), keyword};
  }

  Result<Token> readSymbol() {
    for (const auto& [spelling, kind] : kTwoCharacterSymbols) {
      if (startsWith(spelling)) {
        at_ += spelling.size();
        return Token{kind, {}};
      }
    }
    for (const auto& [symbol, kind] : kSymbols) {
      if (peek() == symbol) {
        ++at_;
        return Token{kind, {}};
      }
    }
    return fault(std::string("unexpected character '") + peek() + "'", at_);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

Result<std::vector<Token>> tokenizeRequirement(std::string_view text) {
  return Lexer(text).tokens();
}

}  // namespace shelvo::platform
