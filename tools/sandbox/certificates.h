// The sandbox's own test PKI, made at start with the OpenSSL API: a CA and a server certificate
// it signs, valid for 127.0.0.1 and localhost.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace tessora::sandbox {

class TestPki {
 public:
  // Makes fresh RSA-2048 keys and the two certificates (valid from an hour ago for 30 days).
  // Throws std::runtime_error when OpenSSL fails.
  TestPki();
  ~TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;

  X509* ServerCertificate() const { return server_cert_; }
  EVP_PKEY* ServerKey() const { return server_key_; }
  // The CA certificate in PEM: what a client trusts (SSL_CERT_FILE).
  std::string CaPem() const;

 private:
  void Release();

  EVP_PKEY* ca_key_ = nullptr;
  X509* ca_cert_ = nullptr;
  EVP_PKEY* server_key_ = nullptr;
  X509* server_cert_ = nullptr;
};

}  // namespace tessora::sandbox
