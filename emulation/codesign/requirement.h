#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace shelvo::platform {

// What a code requirement is judged against: the identifier the code was signed with and the
// certificate chain of its signature.
struct CodeIdentity {
  std::string identifier;
  std::vector<X509*> chain;    // leaf first, anchor last; borrowed
  bool anchorTrusted = false;  // the chain ends at a configured anchor and the leaf signs code
};

// A compiled code requirement in the platform's requirement language. The whole grammar
// compiles; evaluated are the constants, identifier, anchor apple generic (a chain to a
// configured anchor), anchor trusted, certificate hashes and certificate keys (subject.X,
// field.OID, extension.OID, policy.OID) with every match operator. Terms about the Info
// dictionary, entitlements, cdhash, platform, notarization and Apple's own anchor never hold.
class Requirement {
 public:
  struct Node;

  // Fails with a message naming the fault when the text is not a requirement.
  static Result<Requirement> compile(std::string_view text);

  bool isRequirementSet() const { return isSet_; }
  bool evaluate(const CodeIdentity& identity) const;
  // The expression fully parenthesised, for seeing how it was parsed.
  std::string describe() const;
  // Why the requirement does not hold: the first term of its chain of "and"s that fails, written
  // as describe() writes it ("or" and "!" terms whole); empty when it holds.
  std::string unmetClause(const CodeIdentity& identity) const;

 private:
  std::shared_ptr<const Node> root_;
  bool isSet_ = false;
};

}  // namespace shelvo::platform
