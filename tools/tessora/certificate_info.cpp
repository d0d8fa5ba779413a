#include "certificate_info.h"

#include <cstdio>

namespace tessora::cli {

namespace {

// DER tags used here.
constexpr unsigned char kTagBoolean = 0x01;
constexpr unsigned char kTagInteger = 0x02;
constexpr unsigned char kTagOctetString = 0x04;
constexpr unsigned char kTagOid = 0x06;
constexpr unsigned char kTagUtcTime = 0x17;
constexpr unsigned char kTagGeneralizedTime = 0x18;
constexpr unsigned char kTagSequence = 0x30;
constexpr unsigned char kTagSet = 0x31;
constexpr unsigned char kTagVersion = 0xA0;     // [0] EXPLICIT
constexpr unsigned char kTagExtensions = 0xA3;  // [3] EXPLICIT
constexpr unsigned char kTagDnsName = 0x82;     // GeneralName [2]
constexpr unsigned char kTagIpAddress = 0x87;   // GeneralName [7]

// The encoded object identifiers (content bytes) of the attributes and the extension read here.
constexpr std::string_view kOidSubjectAltName = "\x55\x1D\x11";
struct AttributeName {
  std::string_view oid;
  const char* name;
};
constexpr AttributeName kAttributes[] = {
    {"\x55\x04\x03", "CN"},           {"\x55\x04\x06", "C"}, {"\x55\x04\x07", "L"},
    {"\x55\x04\x08", "ST"},           {"\x55\x04\x0A", "O"}, {"\x55\x04\x0B", "OU"},
    {"\x55\x04\x05", "serialNumber"},
};

// One element: its tag and content.
struct Element {
  unsigned char tag = 0;
  std::string_view content;
};

// Reads elements one after another from a stretch of DER.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool AtEnd() const { return rest_.empty(); }

  std::optional<Element> Next() {
    if (rest_.size() < 2) return std::nullopt;
    Element element;
    element.tag = static_cast<unsigned char>(rest_[0]);
    std::size_t length = static_cast<unsigned char>(rest_[1]);
    std::size_t header = 2;
    if (length & 0x80) {
      const std::size_t octets = length & 0x7F;
      if (octets == 0 || octets > 4 || rest_.size() < 2 + octets) return std::nullopt;
      length = 0;
      for (std::size_t i = 0; i < octets; ++i) {
        length = (length << 8) | static_cast<unsigned char>(rest_[2 + i]);
      }
      header += octets;
    }
    if (rest_.size() - header < length) return std::nullopt;
    element.content = rest_.substr(header, length);
    rest_.remove_prefix(header + length);
    return element;
  }

  // The next element, which must have the tag.
  std::optional<Element> Expect(unsigned char tag) {
    auto element = Next();
    if (!element || element->tag != tag) return std::nullopt;
    return element;
  }

  // The next element when it has the tag; otherwise nothing is consumed.
  std::optional<Element> Optional(unsigned char tag) {
    if (rest_.empty() || static_cast<unsigned char>(rest_[0]) != tag) return std::nullopt;
    return Next();
  }

 private:
  std::string_view rest_;
};

// A Name: "CN=x, O=y" with the attributes named above, in the certificate's order; other
// attributes are left out.
std::string NameText(std::string_view der) {
  std::string text;
  Reader sets(der);
  while (auto set = sets.Expect(kTagSet)) {
    Reader pairs(set->content);
    while (auto pair = pairs.Expect(kTagSequence)) {
      Reader parts(pair->content);
      const auto oid = parts.Expect(kTagOid);
      const auto value = parts.Next();
      if (!oid || !value) continue;
      const char* name = nullptr;
      for (const AttributeName& attribute : kAttributes) {
        if (attribute.oid == oid->content) name = attribute.name;
      }
      if (name == nullptr) continue;
      if (!text.empty()) text += ", ";
      text += std::string(name) + "=" + std::string(value->content);
    }
  }
  return text;
}

int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// UTCTime (YYMMDDHHMMSSZ, years 1950 to 2049) or GeneralizedTime (YYYYMMDDHHMMSSZ).
std::optional<std::int64_t> TimeValue(const Element& element) {
  const std::string_view text = element.content;
  int year;
  std::size_t at;
  if (element.tag == kTagUtcTime) {
    year = Digits(text, 0, 2);
    if (year < 0) return std::nullopt;
    year += year < 50 ? 2000 : 1900;
    at = 2;
  } else if (element.tag == kTagGeneralizedTime) {
    year = Digits(text, 0, 4);
    at = 4;
  } else {
    return std::nullopt;
  }
  const int month = Digits(text, at, 2);
  const int day = Digits(text, at + 2, 2);
  const int hour = Digits(text, at + 4, 2);
  const int minute = Digits(text, at + 6, 2);
  const int second = Digits(text, at + 8, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || minute < 0 ||
      second < 0) {
    return std::nullopt;
  }
  return UtcSeconds(year, month, day, hour, minute, second);
}

std::string IpText(std::string_view bytes) {
  char buffer[64];
  if (bytes.size() == 4) {
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", static_cast<unsigned char>(bytes[0]),
                  static_cast<unsigned char>(bytes[1]), static_cast<unsigned char>(bytes[2]),
                  static_cast<unsigned char>(bytes[3]));
    return buffer;
  }
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (!text.empty()) text += ":";
    std::snprintf(
        buffer, sizeof buffer, "%x",
        (static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]));
    text += buffer;
  }
  return text;
}

void ReadAltNames(std::string_view der, std::vector<std::string>& names) {
  Reader outer(der);
  const auto sequence = outer.Expect(kTagSequence);
  if (!sequence) return;
  Reader entries(sequence->content);
  while (auto entry = entries.Next()) {
    if (entry->tag == kTagDnsName) names.push_back("DNS:" + std::string(entry->content));
    if (entry->tag == kTagIpAddress) names.push_back("IP:" + IpText(entry->content));
  }
}

void ReadExtensions(std::string_view der, std::vector<std::string>& names) {
  Reader outer(der);
  const auto list = outer.Expect(kTagSequence);
  if (!list) return;
  Reader extensions(list->content);
  while (auto extension = extensions.Expect(kTagSequence)) {
    Reader parts(extension->content);
    const auto oid = parts.Expect(kTagOid);
    if (!oid || oid->content != kOidSubjectAltName) continue;
    parts.Optional(kTagBoolean);  // critical
    if (const auto value = parts.Expect(kTagOctetString)) ReadAltNames(value->content, names);
  }
}

}  // namespace

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01 of a date in the proleptic Gregorian calendar (years counted from March,
  // so the leap day comes last).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string FormatUtc(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The inverse of UtcSeconds' day count.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest % 3600 / 60), static_cast<long long>(rest % 60));
  return buffer;
}

std::optional<CertificateInfo> ReadCertificate(std::string_view der) {
  Reader outer(der);
  const auto certificate = outer.Expect(kTagSequence);
  if (!certificate) return std::nullopt;
  Reader parts(certificate->content);
  const auto tbs = parts.Expect(kTagSequence);
  if (!tbs) return std::nullopt;
  Reader fields(tbs->content);
  fields.Optional(kTagVersion);
  const auto serial = fields.Expect(kTagInteger);
  const auto algorithm = fields.Expect(kTagSequence);
  const auto issuer = fields.Expect(kTagSequence);
  const auto validity = fields.Expect(kTagSequence);
  const auto subject = fields.Expect(kTagSequence);
  const auto publicKey = fields.Expect(kTagSequence);
  if (!serial || !algorithm || !issuer || !validity || !subject || !publicKey) return std::nullopt;

  CertificateInfo info;
  info.issuer = NameText(issuer->content);
  info.subject = NameText(subject->content);
  Reader times(validity->content);
  const auto notBefore = times.Next();
  const auto notAfter = times.Next();
  if (!notBefore || !notAfter) return std::nullopt;
  const auto from = TimeValue(*notBefore);
  const auto until = TimeValue(*notAfter);
  if (!from || !until) return std::nullopt;
  info.notBefore = *from;
  info.notAfter = *until;
  while (!fields.AtEnd()) {
    const auto field = fields.Next();
    if (!field) break;
    if (field->tag == kTagExtensions) ReadExtensions(field->content, info.names);
  }
  return info;
}

}  // namespace tessora::cli
