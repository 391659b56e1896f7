#include "emulation/codesign/requirement_lexer.h"

#include <array>
#include <cctype>

namespace shelvo::platform {
namespace {

constexpr std::array<std::string_view, 26> kKeywords{
    "and",    "or",       "always",     "true",        "never",  "false",   "identifier",
    "cdhash", "platform", "notarized",  "anchor",      "apple",  "generic", "certificate",
    "cert",   "trusted",  "info",       "entitlement", "exists", "leaf",    "root",
    "guest",  "host",     "designated", "library",     "plugin"};

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
bool isAlnum(char c) {
  return isLetter(c) || isDigit(c);
}

Error lexError(std::string_view what, std::size_t at) {
  return Error{std::string(what) + " at offset " + std::to_string(at)};
}

}  // namespace

Result<std::vector<Token>> tokenizeRequirement(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  auto push = [&](TokenKind kind, std::string value = {}, bool keyword = false) {
    tokens.push_back(Token{kind, std::move(value), keyword});
  };
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      ++i;
    } else if (c == '#' || text.substr(i, 2) == "//") {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (text.substr(i, 2) == "/*") {
      std::size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) return lexError("unterminated comment", i);
      i = end + 2;
    } else if (c == '/' && i + 1 < text.size() && isLetter(text[i + 1])) {
      std::size_t start = i;
      while (i < text.size() && (text[i] == '/' || isAlnum(text[i]) || text[i] == '.' ||
                                 text[i] == '_' || text[i] == '-')) {
        ++i;
      }
      push(TokenKind::Path, std::string(text.substr(start, i - start)));
    } else if (c == '"') {
      std::string value;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\\' && i + 1 < text.size()) {
          value.push_back(text[i + 1]);
          i += 2;
        } else if (text[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          value.push_back(text[i++]);
        }
      }
      if (!closed) return lexError("unterminated string", i);
      push(TokenKind::String, std::move(value));
    } else if (c == 'H' && i + 1 < text.size() && text[i + 1] == '"') {
      std::size_t start = i + 2;
      std::size_t end = text.find('"', start);
      if (end == std::string_view::npos) return lexError("unterminated hash", i);
      std::string hex(text.substr(start, end - start));
      for (char h : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(h))) return lexError("invalid hash", start);
      }
      if (hex.size() != 40) return lexError("invalid hash length", start);
      push(TokenKind::Hash, std::move(hex));
      i = end + 1;
    } else if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      std::size_t start = i;
      i += 2;
      while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
      push(TokenKind::Hex, std::string(text.substr(start, i - start)));
    } else if (isDigit(c)) {
      std::size_t start = i;
      while (i < text.size() && isDigit(text[i])) ++i;
      push(TokenKind::Integer, std::string(text.substr(start, i - start)));
    } else if (isLetter(c)) {
      // A dotted key: a word, then dot-separated words or digit runs.
      std::size_t start = i;
      while (i < text.size() && isAlnum(text[i])) ++i;
      while (i + 1 < text.size() && text[i] == '.' && isAlnum(text[i + 1])) {
        ++i;
        if (isDigit(text[i])) {
          while (i < text.size() && isDigit(text[i])) ++i;
        } else {
          while (i < text.size() && isAlnum(text[i])) ++i;
        }
      }
      std::string word(text.substr(start, i - start));
      bool keyword = isKeyword(word);
      push(TokenKind::Word, std::move(word), keyword);
    } else {
      std::string_view two = text.substr(i, 2);
      if (two == "=>") {
        push(TokenKind::Arrow);
        i += 2;
      } else if (two == "==") {
        push(TokenKind::EqualEqual);
        i += 2;
      } else if (two == "<=") {
        push(TokenKind::LessEqual);
        i += 2;
      } else if (two == ">=") {
        push(TokenKind::GreaterEqual);
        i += 2;
      } else {
        TokenKind kind;
        switch (c) {
          case '(':
            kind = TokenKind::LeftParen;
            break;
          case ')':
            kind = TokenKind::RightParen;
            break;
          case '!':
            kind = TokenKind::Bang;
            break;
          case '[':
            kind = TokenKind::LeftBracket;
            break;
          case ']':
            kind = TokenKind::RightBracket;
            break;
          case '=':
            kind = TokenKind::Equal;
            break;
          case '<':
            kind = TokenKind::Less;
            break;
          case '>':
            kind = TokenKind::Greater;
            break;
          case '~':
            kind = TokenKind::Tilde;
            break;
          case '*':
            kind = TokenKind::Star;
            break;
          case ';':
            kind = TokenKind::Semicolon;
            break;
          case '-':
            kind = TokenKind::Minus;
            break;
          default:
            return lexError(std::string("unexpected character '") + c + "'", i);
        }
        push(kind);
        ++i;
      }
    }
  }
  push(TokenKind::End);
  return tokens;
}

}  // namespace shelvo::platform
