#include "tools/demo-service/tls_identity.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace shelvo::demo {
namespace {

std::unique_ptr<EVP_PKEY, KeyFree> newKey() {
  std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
  if (!key) throw std::runtime_error("cannot generate a key");
  return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) throw std::runtime_error("bad certificate extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

std::unique_ptr<X509, X509Free> newCertificate(const std::string& commonName, EVP_PKEY* key,
                                               long serial) {
  std::unique_ptr<X509, X509Free> certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30L * 24 * 3600);
  X509_set_pubkey(certificate.get(), key);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return certificate;
}

}  // namespace

TlsIdentity TlsIdentity::generate(const std::string& authorityName) {
  TlsIdentity identity;
  identity.authorityKey = newKey();
  identity.authority = newCertificate(authorityName, identity.authorityKey.get(), 1);
  X509* authority = identity.authority.get();
  X509_set_issuer_name(authority, X509_get_subject_name(authority));
  addExtension(authority, authority, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(authority, authority, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(authority, authority, NID_subject_key_identifier, "hash");
  if (X509_sign(authority, identity.authorityKey.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the authority");
  }

  identity.key = newKey();
  identity.certificate = newCertificate("127.0.0.1", identity.key.get(), 2);
  X509* certificate = identity.certificate.get();
  X509_set_issuer_name(certificate, X509_get_subject_name(authority));
  addExtension(certificate, authority, NID_basic_constraints, "critical,CA:FALSE");
  addExtension(certificate, authority, NID_ext_key_usage, "serverAuth");
  addExtension(certificate, authority, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  addExtension(certificate, authority, NID_authority_key_identifier, "keyid");
  if (X509_sign(certificate, identity.authorityKey.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the server certificate");
  }
  return identity;
}

std::string TlsIdentity::authorityPem() const {
  std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), BIO_free);
  PEM_write_bio_X509(memory.get(), authority.get());
  char* data = nullptr;
  long length = BIO_get_mem_data(memory.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace shelvo::demo
