#pragma once

#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulation/codesign/requirement.h"
#include "platform/system/root_prefix.h"

namespace shelvo::platform {

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Certificate = std::unique_ptr<X509, X509Free>;

// The certificates a signature chain must end at: the PEM files of a folder
// ($SHELVO_ROOT/etc/shelvo/anchors for the programs).
class TrustAnchors {
 public:
  static TrustAnchors load(const std::filesystem::path& folder);
  static std::filesystem::path folder(const RootPrefix& root);
  const std::vector<X509Certificate>& certificates() const { return certificates_; }

 private:
  std::vector<X509Certificate> certificates_;
};

// What a valid signature says about the code it signs.
struct SigningInformation {
  std::string identifier;
  std::vector<X509Certificate> chain;  // leaf first
  bool anchorTrusted = false;

  CodeIdentity identity() const;
};

// The signed content of a signature: {"version":1,"identifier":…,"hashAlgorithm":"sha256",
// "executableHash":…}. Nothing when it is not JSON or a field is missing or of another type.
struct CodeDirectory {
  std::string identifier;
  std::string executableHash;
};
std::optional<CodeDirectory> parseCodeDirectory(std::string_view json);

// Checks the signature file of an executable (the detached CMS SignedData beside it, P.sig)
// against the bytes read from executableFd, which must be the file that runs. A failure's code
// is a security status: unsigned (no signature file), a bad resource (a signature file that
// cannot be read; the message says why), or an invalid signature.
Result<SigningInformation> verifyCodeSignature(int executableFd,
                                               const std::filesystem::path& signatureFile,
                                               const TrustAnchors& anchors);

// Signs an executable: writes P.sig with the identifier and the executable's SHA-256, signed
// with key and certificate, the chain's certificates included.
Status signExecutable(const std::filesystem::path& executable, const std::string& identifier,
                      const std::filesystem::path& keyFile,
                      const std::filesystem::path& certificateFile,
                      const std::filesystem::path& chainFile);

// The SHA-256 of everything readable from fd, from its start, in lowercase hex; empty on error.
std::string sha256OfFile(int fd);

}  // namespace shelvo::platform
