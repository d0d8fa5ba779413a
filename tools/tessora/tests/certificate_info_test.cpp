// Reading server certificates for the doctor: the test PKI's certificates, and what is not one.
#include "certificate_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base64.h"

namespace tessora::cli {
namespace {

// The DER bytes of a PEM file's first certificate.
std::string PemToDer(const std::string& pem) {
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::size_t start = pem.find(begin);
  const std::size_t end = pem.find("-----END CERTIFICATE-----");
  if (start == std::string::npos || end == std::string::npos) return {};
  std::string base64;
  for (std::size_t i = start + begin.size(); i < end; ++i) {
    if (pem[i] != '\r' && pem[i] != '\n') base64 += pem[i];
  }
  return tools::DecodeBase64(base64).value_or(std::string());
}

std::string TestCertificate(const std::string& name) {
  const char* pki = std::getenv("TESSORA_TEST_PKI");
  if (pki == nullptr) return {};
  std::ifstream in(std::string(pki) + "/" + name + ".pem", std::ios::binary);
  return PemToDer(std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST(CertificateInfoTest, ServerCertificate) {
  const std::string der = TestCertificate("server");
  ASSERT_FALSE(der.empty()) << "TESSORA_TEST_PKI must name the test PKI";
  const auto info = ReadCertificate(der);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->subject, "CN=server");
  EXPECT_EQ(info->issuer, "CN=TessoraNet Test CA");
  const std::vector<std::string> names = {"IP:127.0.0.1", "DNS:localhost", "DNS:api.tessora.net"};
  EXPECT_EQ(info->names, names);
  EXPECT_LT(info->notBefore, info->notAfter);
}

TEST(CertificateInfoTest, ExpiredCertificateValidity) {
  const auto info = ReadCertificate(TestCertificate("expired"));
  ASSERT_TRUE(info);
  EXPECT_EQ(FormatUtc(info->notBefore), "2000-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtc(info->notAfter), "2001-01-01 00:00:00 UTC");
}

TEST(CertificateInfoTest, OtherHostAndSelfSigned) {
  const auto other = ReadCertificate(TestCertificate("other"));
  ASSERT_TRUE(other);
  const std::vector<std::string> names = {"DNS:other.example.com", "IP:192.0.2.1"};
  EXPECT_EQ(other->names, names);
  const auto self = ReadCertificate(TestCertificate("selfsigned"));
  ASSERT_TRUE(self);
  EXPECT_EQ(self->subject, "CN=localhost");
  EXPECT_EQ(self->issuer, "CN=localhost");
}

TEST(CertificateInfoTest, NotACertificate) {
  EXPECT_FALSE(ReadCertificate(""));
  EXPECT_FALSE(ReadCertificate("\x30\x03\x02\x01\x01"));
  EXPECT_FALSE(ReadCertificate(std::string("\x30\x82\xFF\xFF", 4)));  // longer than the bytes
  const std::string der = TestCertificate("server");
  ASSERT_FALSE(der.empty());
  EXPECT_FALSE(ReadCertificate(der.substr(0, der.size() / 2)));
}

TEST(CertificateInfoTest, UtcDates) {
  EXPECT_EQ(UtcSeconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(UtcSeconds(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(FormatUtc(951868800), "2000-03-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtc(UtcSeconds(2049, 12, 31, 23, 59, 59)), "2049-12-31 23:59:59 UTC");
  EXPECT_EQ(FormatUtc(UtcSeconds(2024, 2, 29, 12, 0, 1)), "2024-02-29 12:00:01 UTC");
}

}  // namespace
}  // namespace tessora::cli
