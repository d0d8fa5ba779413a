#include "json/json_numbers.h"

#include <charconv>
#include <string>
#include <system_error>
#include <utility>

#include "base/error.h"

namespace tessora::json {

namespace {

bool IsDigit(char16_t unit) {
  return unit >= u'0' && unit <= u'9';
}

// Skips a run of digits; returns how many there were.
std::size_t SkipDigits(std::u16string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && IsDigit(text[at]))
    ++at;
  return at - start;
}

// Whether the text is [-]digits[.digits][(e|E)[+|-]digits] with at least one digit before the
// exponent. The tokenizer lets through "1." and "-.5", which this accepts, and "-.", which it
// refuses; anything that escapes brought in (letters, "inf", "nan", "0x") is refused here before
// the conversion could read it as a number.
bool IsDecimalNumber(std::u16string_view text) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == u'-') ++i;
  std::size_t mantissaDigits = SkipDigits(text, i);
  if (i < text.size() && text[i] == u'.') {
    ++i;
    mantissaDigits += SkipDigits(text, i);
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    if (SkipDigits(text, i) == 0) return false;
  }
  return i == text.size();
}

[[noreturn]] void NotAnInteger(std::u16string_view text) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on operator+ chains here.
  std::u16string message = u"'";
  message.append(text);
  message.append(u"' is not a valid integer value");
  Raise(ErrorKind::kConversion, std::move(message));
}

}  // namespace

std::int64_t ToInteger(std::u16string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == u'-';
  if (negative) ++i;
  if (i == text.size()) NotAnInteger(text);
  // Accumulate the magnitude; the negative range reaches one further than the positive.
  const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) NotAnInteger(text);
    const unsigned digit = text[i] - u'0';
    if (magnitude > (limit - digit) / 10) NotAnInteger(text);
    magnitude = magnitude * 10 + digit;
  }
  // Two's complement: the negation of the magnitude, also for -9223372036854775808.
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

double ToFloat(std::u16string_view text) {
  if (!IsDecimalNumber(text)) Raise(ErrorKind::kConversion, u"");
  // The text is plain ASCII now; std::from_chars ignores the locale and rounds to nearest.
  const std::string ascii(text.begin(), text.end());
  double value = 0;
  const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  // Values beyond the range of a double (1e400, and 1e-400 below the smallest subnormal) fail
  // rather than turn silently into infinity or zero.
  if (error != std::errc() || end != ascii.data() + ascii.size())
    Raise(ErrorKind::kConversion, u"");
  return value;
}

}  // namespace tessora::json
