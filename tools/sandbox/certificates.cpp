#include "certificates.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <stdexcept>

namespace tessora::sandbox {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  const unsigned long code = ERR_get_error();
  char text[256] = "";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  throw std::runtime_error("cannot make the test certificates (" + what + "): " + text);
}

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  if (key == nullptr) Fail("key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
  if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1) Fail(value);
  X509_EXTENSION_free(extension);
}

// A certificate for `key` named `common_name`; self-signed when `issuer` is null.
X509* NewCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey) {
  X509* cert = X509_new();
  std::uint64_t serial = 0;
  if (cert == nullptr || X509_set_version(cert, 2) != 1 ||
      RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1 ||
      ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial >> 1) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(cert), -3600) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600) == nullptr ||
      X509_set_pubkey(cert, key) != 1) {
    Fail(commonName);
  }
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Tessora Sandbox"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  const bool selfSigned = issuer == nullptr;
  X509_set_issuer_name(cert, selfSigned ? name : X509_get_subject_name(issuer));
  X509* signer = selfSigned ? cert : issuer;
  AddExtension(cert, signer, NID_subject_key_identifier, "hash");
  AddExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
  if (selfSigned) {
    AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert, signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  if (X509_sign(cert, selfSigned ? key : issuerKey, EVP_sha256()) == 0) Fail("signature");
  return cert;
}

}  // namespace

TestPki::TestPki() {
  try {
    caKey_ = NewKey();
    caCert_ = NewCertificate(caKey_, "Tessora Sandbox Test CA", nullptr, nullptr);
    serverKey_ = NewKey();
    serverCert_ = NewCertificate(serverKey_, "127.0.0.1", caCert_, caKey_);
  } catch (...) {
    Release();
    throw;
  }
}

TestPki::~TestPki() {
  Release();
}

void TestPki::Release() {
  X509_free(serverCert_);
  EVP_PKEY_free(serverKey_);
  X509_free(caCert_);
  EVP_PKEY_free(caKey_);
  serverCert_ = nullptr;
  serverKey_ = nullptr;
  caCert_ = nullptr;
  caKey_ = nullptr;
}

std::string TestPki::CaPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr || PEM_write_bio_X509(bio, caCert_) != 1) {
    BIO_free(bio);
    Fail("PEM");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return pem;
}

}  // namespace tessora::sandbox
