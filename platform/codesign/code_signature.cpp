#include "platform/codesign/code_signature.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "emulation/codesign/security_status.h"
#include "platform/env/files.h"
#include "platform/env/unique_fd.h"

namespace shelvo::platform {
namespace {

constexpr std::size_t kMaxSignature = 1024 * 1024;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct CmsFree {
  void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
struct StoreFree {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct StoreContextFree {
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using CertificateStack = std::unique_ptr<STACK_OF(X509), StackFree>;

Bio memoryBio(const std::string& bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return std::string(data != nullptr ? data : "", static_cast<std::size_t>(std::max(0L, length)));
}

std::vector<X509Certificate> readCertificates(const std::filesystem::path& file) {
  std::vector<X509Certificate> certificates;
  auto text = readFile(file, kMaxSignature);
  if (!text) return certificates;
  Bio bio = memoryBio(*text);
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certificates.emplace_back(certificate);
  }
  ERR_clear_error();
  return certificates;
}

bool signsCode(X509* leaf) {
  return (X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(leaf) & XKU_CODE_SIGN) != 0;
}

// The signer's chain: verified up to an anchor when it reaches one, otherwise the signer and
// the issuers found among the signature's own certificates.
void buildChain(X509* signer, STACK_OF(X509) * included, const TrustAnchors& anchors,
                SigningInformation& information) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  for (const auto& anchor : anchors.certificates()) X509_STORE_add_cert(store.get(), anchor.get());
  // A code signature outlives its certificate: validity periods are not enforced.
  X509_STORE_set_flags(store.get(), X509_V_FLAG_NO_CHECK_TIME);
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  std::unique_ptr<X509_STORE_CTX, StoreContextFree> context(X509_STORE_CTX_new());
  if (X509_STORE_CTX_init(context.get(), store.get(), signer, included) == 1 &&
      X509_verify_cert(context.get()) == 1) {
    CertificateStack chain(X509_STORE_CTX_get1_chain(context.get()));
    for (int i = 0; i < sk_X509_num(chain.get()); ++i) {
      X509* certificate = sk_X509_value(chain.get(), i);
      X509_up_ref(certificate);
      information.chain.emplace_back(certificate);
    }
    information.anchorTrusted = signsCode(signer);
    return;
  }
  X509* current = signer;
  while (current != nullptr && information.chain.size() < 16) {
    X509_up_ref(current);
    information.chain.emplace_back(current);
    X509* issuer = nullptr;
    for (int i = 0; i < sk_X509_num(included); ++i) {
      X509* candidate = sk_X509_value(included, i);
      if (candidate != current && X509_check_issued(candidate, current) == X509_V_OK)
        issuer = candidate;
    }
    current = issuer;
  }
  information.anchorTrusted = false;
}

}  // namespace

std::optional<CodeDirectory> parseCodeDirectory(std::string_view json) {
  auto directory = nlohmann::json::parse(json, nullptr, false);
  if (directory.is_discarded() || !directory.is_object()) return std::nullopt;
  auto field = [&](const char* name) -> const nlohmann::json* {
    auto found = directory.find(name);
    return found == directory.end() ? nullptr : &*found;
  };
  // Every field of the type it must have; never read through a throwing accessor.
  const auto* version = field("version");
  const auto* algorithm = field("hashAlgorithm");
  const auto* identifier = field("identifier");
  const auto* hash = field("executableHash");
  if (version == nullptr || !version->is_number_integer() || *version != 1 ||
      algorithm == nullptr || !algorithm->is_string() || *algorithm != "sha256" ||
      identifier == nullptr || !identifier->is_string() || hash == nullptr || !hash->is_string()) {
    return std::nullopt;
  }
  return CodeDirectory{identifier->get<std::string>(), hash->get<std::string>()};
}

CodeIdentity SigningInformation::identity() const {
  CodeIdentity identity{identifier, {}, anchorTrusted};
  for (const auto& certificate : chain) identity.chain.push_back(certificate.get());
  return identity;
}

TrustAnchors TrustAnchors::load(const std::filesystem::path& folder) {
  TrustAnchors anchors;
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() == ".pem") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    for (auto& certificate : readCertificates(file))
      anchors.certificates_.push_back(std::move(certificate));
  }
  return anchors;
}

std::filesystem::path TrustAnchors::folder(const RootPrefix& root) {
  return root.resolve("/etc/shelvo/anchors");
}

std::string sha256OfFile(int fd) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) return "";
  std::vector<char> buffer(1 << 16);
  off_t offset = 0;
  while (true) {
    ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "";
    if (n == 0) break;
    EVP_DigestUpdate(digest.get(), buffer.data(), static_cast<std::size_t>(n));
    offset += n;
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(digest.get(), value, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[value[i] >> 4]);
    text.push_back(kHex[value[i] & 0xF]);
  }
  return text;
}

Result<SigningInformation> verifyCodeSignature(int executableFd,
                                               const std::filesystem::path& signatureFile,
                                               const TrustAnchors& anchors) {
  auto signature = readFile(signatureFile, kMaxSignature);
  if (!signature) {
    // Only a missing file means unsigned; anything else is a failure to read it.
    if (signature.error().is(ErrorKind::notFound)) return securityError(errSecCSUnsigned);
    return Error{signature.error().message, errSecCSBadResource, {}, ErrorKind::signing};
  }
  Bio input = memoryBio(*signature);
  std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_bio(input.get(), nullptr));
  if (!cms) return securityError(errSecCSSignatureFailed);
  // The signature itself; whom the signer chains to is judged by the requirement.
  Bio content(BIO_new(BIO_s_mem()));
  if (CMS_verify(cms.get(), nullptr, nullptr, nullptr, content.get(),
                 CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    ERR_clear_error();
    return securityError(errSecCSSignatureFailed);
  }
  auto directory = parseCodeDirectory(bioText(content.get()));
  if (!directory) return securityError(errSecCSSignatureFailed);
  std::string actual = sha256OfFile(executableFd);
  if (actual.empty() || actual != directory->executableHash) {
    return securityError(errSecCSSignatureFailed);
  }
  STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
  if (signers == nullptr || sk_X509_num(signers) < 1) {
    sk_X509_free(signers);
    return securityError(errSecCSSignatureFailed);
  }
  X509* signer = sk_X509_value(signers, 0);
  CertificateStack included(CMS_get1_certs(cms.get()));
  SigningInformation information;
  information.identifier = directory->identifier;
  buildChain(signer, included.get(), anchors, information);
  sk_X509_free(signers);
  ERR_clear_error();
  return information;
}

Status signExecutable(const std::filesystem::path& executable, const std::string& identifier,
                      const std::filesystem::path& keyFile,
                      const std::filesystem::path& certificateFile,
                      const std::filesystem::path& chainFile) {
  UniqueFd file(::open(executable.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return Error{"cannot read " + executable.string()};
  std::string hash = sha256OfFile(file.get());
  if (hash.empty()) return Error{"cannot read " + executable.string()};
  auto certificates = readCertificates(certificateFile);
  if (certificates.empty()) return Error{"no certificate in " + certificateFile.string()};
  auto keyText = readFile(keyFile, kMaxSignature);
  if (!keyText) return Error{"cannot read " + keyFile.string()};
  Bio keyBio = memoryBio(*keyText);
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  if (!key) return Error{"no private key in " + keyFile.string()};
  CertificateStack chain(sk_X509_new_null());
  if (!chainFile.empty()) {
    auto extra = readCertificates(chainFile);
    if (extra.empty()) return Error{"no certificate in " + chainFile.string()};
    for (auto& certificate : extra) sk_X509_push(chain.get(), certificate.release());
  }
  nlohmann::json directory = {{"version", 1},
                              {"identifier", identifier},
                              {"hashAlgorithm", "sha256"},
                              {"executableHash", hash}};
  std::string content = directory.dump();
  Bio contentBio = memoryBio(content);
  std::unique_ptr<CMS_ContentInfo, CmsFree> cms(
      CMS_sign(certificates.front().get(), key.get(), chain.get(), contentBio.get(), CMS_BINARY));
  if (!cms) return Error{"signing failed (does the key belong to the certificate?)"};
  Bio output(BIO_new(BIO_s_mem()));
  if (i2d_CMS_bio(output.get(), cms.get()) != 1) return Error{"cannot encode the signature"};
  std::filesystem::path signatureFile = executable;
  signatureFile += ".sig";
  auto written = replaceFileAtomically(signatureFile, bioText(output.get()), 0644);
  if (!written) return written;
  return success();
}

}  // namespace shelvo::platform
