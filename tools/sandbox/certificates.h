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

  X509* ServerCertificate() const { return serverCert_; }
  EVP_PKEY* ServerKey() const { return serverKey_; }
  // The CA certificate in PEM: what a client trusts (SSL_CERT_FILE).
  std::string CaPem() const;

 private:
  void Release();

  EVP_PKEY* caKey_ = nullptr;
  X509* caCert_ = nullptr;
  EVP_PKEY* serverKey_ = nullptr;
  X509* serverCert_ = nullptr;
};

}  // namespace tessora::sandbox
