#include "emulation/codesign/requirement.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <charconv>
#include <functional>
#include <optional>

#include "emulation/codesign/requirement_lexer.h"
#include "emulation/text/numeric_comparison.h"

namespace shelvo::platform {

enum class MatchOp {
  Exists,
  Equal,
  BeginsWith,
  EndsWith,
  Contains,
  Less,
  Greater,
  LessEqual,
  GreaterEqual
};

struct Match {
  MatchOp op = MatchOp::Exists;
  std::string value;
};

enum class NodeKind {
  Constant,
  Not,
  And,
  Or,
  Identifier,
  AnchorApple,
  AnchorAppleGeneric,
  AnchorAppleNamed,
  AnchorTrusted,
  CertificateTrusted,
  CertificateHash,
  CertificateKey,
  Info,
  Entitlement,
  CDHash,
  Platform,
  Notarized,
  Named,
};

struct Requirement::Node {
  explicit Node(NodeKind nodeKind) : kind(nodeKind) {}

  NodeKind kind;
  bool constant = false;
  std::shared_ptr<const Node> left;
  std::shared_ptr<const Node> right;
  std::string text;  // identifier, key, hash or name
  int slot = 0;      // 0 leaf, 1 its issuer, ..., -1 the anchor
  Match match;
};

namespace {

using Node = Requirement::Node;
using NodePtr = std::shared_ptr<const Node>;

// A recursive-descent parser that stops at the first fault: the fault is kept, and from then on
// every token reads as the end, so each rule returns at once and nothing more is built.
class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  // The requirement, or the first fault in it.
  Result<NodePtr> parse(bool& isSet) {
    NodePtr root = parseInput(isSet);
    if (fault_) return *fault_;
    return root;
  }

 private:
  // requirement ";"* EOF, or a set of "type => requirement" entries.
  NodePtr parseInput(bool& isSet) {
    isSet = isRequirementType(peek()) && peek(1).kind == TokenKind::Arrow;
    NodePtr first;
    do {
      if (isSet) {
        if (!isRequirementType(peek())) return fail("expected a requirement type");
        next();
        expect(TokenKind::Arrow, "=>");
      }
      NodePtr requirement = parseExpression();
      if (!first) first = requirement;
      while (peek().kind == TokenKind::Semicolon) next();
    } while (isSet && peek().kind != TokenKind::End);
    if (peek().kind != TokenKind::End) return fail("unexpected " + describeToken(peek()));
    return first;
  }

  const Token& peek(std::size_t ahead = 0) const {
    return tokens_[std::min(position_ + ahead, tokens_.size() - 1)];
  }
  const Token& next() {
    const Token& token = peek();
    if (position_ < tokens_.size() - 1) ++position_;
    return token;
  }
  // Keeps the first fault and skips to the end; returns no node, for the rule to return.
  NodePtr fail(const std::string& message) {
    if (!fault_) fault_ = Error{message};
    position_ = tokens_.size() - 1;
    return nullptr;
  }
  static std::string describeToken(const Token& token) {
    if (token.kind == TokenKind::End) return "end of requirement";
    if (!token.text.empty()) return "\"" + token.text + "\"";
    return "symbol";
  }
  void expect(TokenKind kind, const char* what) {
    if (peek().kind != kind)
      fail(std::string("expected ") + what + " before " + describeToken(peek()));
    next();
  }
  bool isKeyword(const char* word, std::size_t ahead = 0) const {
    const Token& token = peek(ahead);
    return token.kind == TokenKind::Word && token.keyword && token.text == word;
  }
  bool acceptKeyword(const char* word) {
    if (!isKeyword(word)) return false;
    next();
    return true;
  }
  static bool isRequirementType(const Token& token) {
    if (token.kind == TokenKind::Integer) return true;
    return token.kind == TokenKind::Word && token.keyword &&
           (token.text == "guest" || token.text == "host" || token.text == "designated" ||
            token.text == "library" || token.text == "plugin");
  }
  // Evaluating, describing and freeing a requirement recurse over its tree, so its size (and
  // with it its depth) is bounded here.
  NodePtr make(Node node) {
    if (++nodes_ > kMaxNodes) return fail("the requirement is too complex");
    return std::make_shared<const Node>(std::move(node));
  }
  NodePtr constant(bool value) {
    Node node(NodeKind::Constant);
    node.constant = value;
    return make(std::move(node));
  }
  NodePtr unary(NodeKind kind, NodePtr operand) {
    Node node(kind);
    node.left = std::move(operand);
    return make(std::move(node));
  }
  NodePtr binary(NodeKind kind, NodePtr left, NodePtr right) {
    Node node(kind);
    node.left = std::move(left);
    node.right = std::move(right);
    return make(std::move(node));
  }

  NodePtr parseExpression() {
    NodePtr left = parseTerm();
    while (acceptKeyword("or")) left = binary(NodeKind::Or, left, parseTerm());
    return left;
  }

  NodePtr parseTerm() {
    NodePtr left = parsePrimary();
    while (acceptKeyword("and")) left = binary(NodeKind::And, left, parsePrimary());
    return left;
  }

  // A string: an unquoted key that is not a keyword, or a quoted string.
  std::string parseString(const char* what) {
    const Token& token = peek();
    if (token.kind == TokenKind::String || (token.kind == TokenKind::Word && !token.keyword)) {
      return next().text;
    }
    fail(std::string("expected ") + what + " before " + describeToken(token));
    return {};
  }

  void skipEquals() {
    if (peek().kind == TokenKind::Equal || peek().kind == TokenKind::EqualEqual) next();
  }

  Match parseMatch() {
    Match match;
    switch (peek().kind) {
      case TokenKind::Equal:
      case TokenKind::EqualEqual: {
        next();
        bool leading = peek().kind == TokenKind::Star;
        if (leading) next();
        match.value = parseValue();
        bool trailing = peek().kind == TokenKind::Star;
        if (trailing) next();
        match.op = leading && trailing ? MatchOp::Contains
                   : leading           ? MatchOp::EndsWith
                   : trailing          ? MatchOp::BeginsWith
                                       : MatchOp::Equal;
        return match;
      }
      case TokenKind::Tilde:
        match.op = MatchOp::Contains;
        break;
      case TokenKind::Less:
        match.op = MatchOp::Less;
        break;
      case TokenKind::Greater:
        match.op = MatchOp::Greater;
        break;
      case TokenKind::LessEqual:
        match.op = MatchOp::LessEqual;
        break;
      case TokenKind::GreaterEqual:
        match.op = MatchOp::GreaterEqual;
        break;
      default:
        acceptKeyword("exists");  // an empty match means exists
        return match;
    }
    next();
    match.value = parseValue();
    return match;
  }

  std::string parseValue() {
    if (peek().kind == TokenKind::Hex) return next().text;
    return parseString("a value");
  }

  std::string parseBracketKey() {
    expect(TokenKind::LeftBracket, "[");
    std::string key = parseString("a key");
    expect(TokenKind::RightBracket, "]");
    return key;
  }

  int parseSlot() {
    if (acceptKeyword("leaf")) return 0;
    if (acceptKeyword("root")) return -1;
    bool negative = peek().kind == TokenKind::Minus;
    if (negative) next();
    if (peek().kind != TokenKind::Integer) {
      fail("expected a certificate slot");
      return 0;
    }
    const std::string& digits = next().text;
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
      fail("certificate slot " + digits + " is out of range");
    return negative ? -value : value;
  }

  NodePtr parseSlotSpec(int slot) {
    if (peek().kind == TokenKind::LeftBracket) {
      std::string key = parseBracketKey();
      auto dot = key.find('.');
      std::string kind = key.substr(0, dot);
      if (dot == std::string::npos ||
          (kind != "subject" && kind != "field" && kind != "extension" && kind != "policy")) {
        return fail("unrecognized certificate field " + key);
      }
      Node node(NodeKind::CertificateKey);
      node.slot = slot;
      node.text = key;
      node.match = parseMatch();
      return make(std::move(node));
    }
    skipEquals();
    Node node(NodeKind::CertificateHash);
    node.slot = slot;
    if (peek().kind == TokenKind::Hash || peek().kind == TokenKind::Path) {
      node.text = next().text;
    } else {
      node.text = parseString("a certificate hash");
    }
    return make(std::move(node));
  }

  NodePtr parseAnchor() {
    if (acceptKeyword("apple")) {
      if (acceptKeyword("generic")) return make(Node(NodeKind::AnchorAppleGeneric));
      if (peek().kind == TokenKind::String || (peek().kind == TokenKind::Word && !peek().keyword)) {
        Node node(NodeKind::AnchorAppleNamed);
        node.text = next().text;
        return make(std::move(node));
      }
      return make(Node(NodeKind::AnchorApple));
    }
    if (acceptKeyword("generic")) {
      if (!acceptKeyword("apple")) return fail("expected apple after anchor generic");
      return make(Node(NodeKind::AnchorAppleGeneric));
    }
    if (acceptKeyword("trusted")) return make(Node(NodeKind::AnchorTrusted));
    return parseSlotSpec(-1);
  }

  NodePtr parsePrimary() {
    const Token& token = peek();
    if (token.kind == TokenKind::LeftParen) {
      if ((peek(1).kind == TokenKind::String ||
           (peek(1).kind == TokenKind::Word && !peek(1).keyword)) &&
          peek(2).kind == TokenKind::RightParen) {
        next();
        Node node(NodeKind::Named);
        node.text = next().text;
        next();
        return make(std::move(node));
      }
      next();
      if (++nesting_ > kMaxNesting) return fail("the requirement is nested too deeply");
      NodePtr inner = parseExpression();
      expect(TokenKind::RightParen, ")");
      --nesting_;
      return inner;
    }
    if (token.kind == TokenKind::Bang) {
      next();
      if (++nesting_ > kMaxNesting) return fail("the requirement is nested too deeply");
      NodePtr operand = parsePrimary();
      --nesting_;
      return unary(NodeKind::Not, operand);
    }
    if (token.kind != TokenKind::Word || !token.keyword)
      return fail("unexpected " + describeToken(token));
    std::string word = next().text;
    if (word == "always" || word == "true") return constant(true);
    if (word == "never" || word == "false") return constant(false);
    if (word == "identifier") {
      skipEquals();
      Node node(NodeKind::Identifier);
      node.text = parseString("an identifier");
      return make(std::move(node));
    }
    if (word == "cdhash") {
      skipEquals();
      if (peek().kind != TokenKind::Hash) return fail("expected a hash after cdhash");
      Node node(NodeKind::CDHash);
      node.text = next().text;
      return make(std::move(node));
    }
    if (word == "platform") {
      skipEquals();
      if (peek().kind != TokenKind::Integer) return fail("expected a number after platform");
      Node node(NodeKind::Platform);
      node.text = next().text;
      return make(std::move(node));
    }
    if (word == "notarized") return make(Node(NodeKind::Notarized));
    if (word == "info" || word == "entitlement") {
      Node node(word == "info" ? NodeKind::Info : NodeKind::Entitlement);
      node.text = parseBracketKey();
      node.match = parseMatch();
      return make(std::move(node));
    }
    if (word == "anchor") return parseAnchor();
    if (word == "certificate" || word == "cert") {
      if (acceptKeyword("trusted")) return make(Node(NodeKind::AnchorTrusted));
      int slot = parseSlot();
      if (acceptKeyword("trusted")) {
        Node node(NodeKind::CertificateTrusted);
        node.slot = slot;
        return make(std::move(node));
      }
      return parseSlotSpec(slot);
    }
    return fail("unexpected \"" + word + "\"");
  }

  static constexpr std::size_t kMaxNodes = 4096;
  static constexpr std::size_t kMaxNesting = 256;

  std::vector<Token> tokens_;
  std::size_t position_ = 0;
  std::size_t nodes_ = 0;
  std::size_t nesting_ = 0;
  std::optional<Error> fault_;
};

// --- evaluation ---

X509* certificateAt(const CodeIdentity& identity, int slot) {
  auto size = static_cast<int>(identity.chain.size());
  int index = slot >= 0 ? slot : size + slot;
  if (index < 0 || index >= size) return nullptr;
  return identity.chain[static_cast<std::size_t>(index)];
}

std::vector<std::string> subjectValues(X509* certificate, const std::string& attribute) {
  std::vector<std::string> values;
  int nid = OBJ_txt2nid(attribute.c_str());
  if (nid == NID_undef) return values;
  X509_NAME* subject = X509_get_subject_name(certificate);
  for (int index = X509_NAME_get_index_by_NID(subject, nid, -1); index >= 0;
       index = X509_NAME_get_index_by_NID(subject, nid, index)) {
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length >= 0)
      values.emplace_back(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
  }
  return values;
}

bool hasExtension(X509* certificate, const std::string& oid) {
  ASN1_OBJECT* object = OBJ_txt2obj(oid.c_str(), 1);
  if (object == nullptr) return false;
  bool found = X509_get_ext_by_OBJ(certificate, object, -1) >= 0;
  ASN1_OBJECT_free(object);
  return found;
}

bool hasPolicy(X509* certificate, const std::string& oid) {
  auto* policies = static_cast<CERTIFICATEPOLICIES*>(
      X509_get_ext_d2i(certificate, NID_certificate_policies, nullptr, nullptr));
  if (policies == nullptr) return false;
  bool found = false;
  char text[128];
  for (int i = 0; i < sk_POLICYINFO_num(policies) && !found; ++i) {
    OBJ_obj2txt(text, sizeof text, sk_POLICYINFO_value(policies, i)->policyid, 1);
    found = oid == text;
  }
  CERTIFICATEPOLICIES_free(policies);
  return found;
}

bool matches(const Match& match, const std::vector<std::string>& values) {
  for (const auto& value : values) {
    bool hit = false;
    switch (match.op) {
      case MatchOp::Exists:
        hit = true;
        break;
      case MatchOp::Equal:
        hit = value == match.value;
        break;
      case MatchOp::BeginsWith:
        hit = value.starts_with(match.value);
        break;
      case MatchOp::EndsWith:
        hit = value.ends_with(match.value);
        break;
      case MatchOp::Contains:
        hit = value.find(match.value) != std::string::npos;
        break;
      case MatchOp::Less:
        hit = compareNumerically(value, match.value) == ComparisonResult::Ascending;
        break;
      case MatchOp::Greater:
        hit = compareNumerically(value, match.value) == ComparisonResult::Descending;
        break;
      case MatchOp::LessEqual:
        hit = compareNumerically(value, match.value) != ComparisonResult::Descending;
        break;
      case MatchOp::GreaterEqual:
        hit = compareNumerically(value, match.value) != ComparisonResult::Ascending;
        break;
    }
    if (hit) return true;
  }
  return false;
}

std::string sha1Hex(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(certificate, EVP_sha1(), digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0xF]);
  }
  return text;
}

bool evaluateNode(const Node& node, const CodeIdentity& identity) {
  switch (node.kind) {
    case NodeKind::Constant:
      return node.constant;
    case NodeKind::Not:
      return !evaluateNode(*node.left, identity);
    case NodeKind::And:
      return evaluateNode(*node.left, identity) && evaluateNode(*node.right, identity);
    case NodeKind::Or:
      return evaluateNode(*node.left, identity) || evaluateNode(*node.right, identity);
    case NodeKind::Identifier:
      return identity.identifier == node.text;
    case NodeKind::AnchorAppleGeneric:
    case NodeKind::AnchorTrusted:
      return identity.anchorTrusted;
    case NodeKind::CertificateTrusted:
      return identity.anchorTrusted && certificateAt(identity, node.slot) != nullptr;
    case NodeKind::CertificateHash: {
      X509* certificate = certificateAt(identity, node.slot);
      if (certificate == nullptr) return false;
      std::string expected = node.text;
      for (auto& c : expected) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return sha1Hex(certificate) == expected;
    }
    case NodeKind::CertificateKey: {
      X509* certificate = certificateAt(identity, node.slot);
      if (certificate == nullptr) return false;
      auto dot = node.text.find('.');
      std::string kind = node.text.substr(0, dot);
      std::string name = node.text.substr(dot + 1);
      if (kind == "subject") return matches(node.match, subjectValues(certificate, name));
      bool present =
          kind == "policy" ? hasPolicy(certificate, name) : hasExtension(certificate, name);
      // A marker extension is only ever asked for its presence.
      return present && node.match.op == MatchOp::Exists;
    }
    default:
      return false;  // terms about facts this platform does not record
  }
}

std::string describeMatch(const Match& match) {
  std::string value = "\"" + match.value + "\"";
  switch (match.op) {
    case MatchOp::Exists:
      return " exists";
    case MatchOp::Equal:
      return " = " + value;
    case MatchOp::BeginsWith:
      return " = " + value + "*";
    case MatchOp::EndsWith:
      return " = *" + value;
    case MatchOp::Contains:
      return " ~ " + value;
    case MatchOp::Less:
      return " < " + value;
    case MatchOp::Greater:
      return " > " + value;
    case MatchOp::LessEqual:
      return " <= " + value;
    case MatchOp::GreaterEqual:
      return " >= " + value;
  }
  return "";
}

std::string describeNode(const Node& node) {
  auto slotText = [](int slot) {
    return slot == 0    ? std::string("leaf")
           : slot == -1 ? std::string("root")
                        : std::to_string(slot);
  };
  switch (node.kind) {
    case NodeKind::Constant:
      return node.constant ? "always" : "never";
    case NodeKind::Not:
      return "!" + describeNode(*node.left);
    case NodeKind::And:
      return "(" + describeNode(*node.left) + " and " + describeNode(*node.right) + ")";
    case NodeKind::Or:
      return "(" + describeNode(*node.left) + " or " + describeNode(*node.right) + ")";
    case NodeKind::Identifier:
      return "identifier \"" + node.text + "\"";
    case NodeKind::AnchorApple:
      return "anchor apple";
    case NodeKind::AnchorAppleGeneric:
      return "anchor apple generic";
    case NodeKind::AnchorAppleNamed:
      return "anchor apple \"" + node.text + "\"";
    case NodeKind::AnchorTrusted:
      return "anchor trusted";
    case NodeKind::CertificateTrusted:
      return "certificate " + slotText(node.slot) + " trusted";
    case NodeKind::CertificateHash:
      return "certificate " + slotText(node.slot) + " = " + node.text;
    case NodeKind::CertificateKey:
    case NodeKind::Info:
    case NodeKind::Entitlement: {
      std::string head = node.kind == NodeKind::Info ? "info"
                         : node.kind == NodeKind::Entitlement
                             ? "entitlement"
                             : "certificate " + slotText(node.slot);
      return head + "[" + node.text + "]" + describeMatch(node.match);
    }
    case NodeKind::CDHash:
      return "cdhash H\"" + node.text + "\"";
    case NodeKind::Platform:
      return "platform " + node.text;
    case NodeKind::Notarized:
      return "notarized";
    case NodeKind::Named:
      return "(\"" + node.text + "\")";
  }
  return "?";
}

const Node* firstUnmet(const Node& node, const CodeIdentity& identity) {
  if (evaluateNode(node, identity)) return nullptr;
  if (node.kind != NodeKind::And) return &node;
  const Node* left = firstUnmet(*node.left, identity);
  return left != nullptr ? left : firstUnmet(*node.right, identity);
}

}  // namespace

Result<Requirement> Requirement::compile(std::string_view text) {
  auto tokens = tokenizeRequirement(text);
  if (!tokens) return tokens.error();
  Requirement requirement;
  auto root = Parser(std::move(*tokens)).parse(requirement.isSet_);
  if (!root) return root.error();
  requirement.root_ = std::move(*root);
  return requirement;
}

bool Requirement::evaluate(const CodeIdentity& identity) const {
  return root_ && !isSet_ && evaluateNode(*root_, identity);
}

std::string Requirement::describe() const {
  return root_ ? describeNode(*root_) : "";
}

std::string Requirement::unmetClause(const CodeIdentity& identity) const {
  if (!root_) return "";
  if (isSet_) return describe();
  const Node* unmet = firstUnmet(*root_, identity);
  return unmet != nullptr ? describeNode(*unmet) : "";
}

}  // namespace shelvo::platform
