// What a person needs to know about a server certificate, read from its DER encoding: who it was
// issued to and by, the names it is valid for, and when it is valid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessora::cli {

struct CertificateInfo {
  std::string subject;             // "CN=api.tessora.net, O=...", in the certificate's order
  std::string issuer;              // likewise
  std::vector<std::string> names;  // subjectAltName: "DNS:host", "IP:127.0.0.1"
  std::int64_t notBefore = 0;      // seconds since 1970-01-01 00:00 UTC
  std::int64_t notAfter = 0;
};

// Reads an X.509 certificate (DER); nothing when the bytes are not one.
std::optional<CertificateInfo> ReadCertificate(std::string_view der);

// "2000-01-01 00:00:00 UTC"
std::string FormatUtc(std::int64_t secondsSinceEpoch);

// Seconds since 1970-01-01 00:00 UTC of a civil date and time in UTC.
std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second);

}  // namespace tessora::cli
