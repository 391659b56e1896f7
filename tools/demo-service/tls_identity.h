#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace shelvo::demo {

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A throw-away certificate authority and a server certificate it issued for 127.0.0.1 and
// localhost: what a loopback HTTPS service needs, and the CA file its clients trust.
struct TlsIdentity {
  std::unique_ptr<X509, X509Free> authority;
  std::unique_ptr<EVP_PKEY, KeyFree> authorityKey;
  std::unique_ptr<X509, X509Free> certificate;
  std::unique_ptr<EVP_PKEY, KeyFree> key;

  static TlsIdentity generate(const std::string& authorityName = "Shelvo Demo CA");
  std::string authorityPem() const;
};

}  // namespace shelvo::demo
