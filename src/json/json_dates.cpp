#include "json/json_dates.h"

#include <cstddef>
#include <string_view>

#include "platform/clock.h"

namespace tessora::json {

namespace {

// The recognised forms, as patterns read left to right. Pattern letters: Y year, M month, D day,
// h hour, m minute, s second, f digit of the fraction of a second, ~ the sign of an offset,
// o offset hours, i offset minutes (each letter one ASCII digit); Z the upper-case letter Z, which
// marks the value as UTC; [ ] an optional part. Every other character stands for itself.
struct DateForm {
  std::string_view pattern;
  DataType kind;
};

constexpr DateForm kDateForms[] = {
    {"YYYY-MM-DD", DataType::kDate},
    {"YYYY-MM-DDThh:mm:ss[Z][.f[f[f]][Z]][~oo:ii]", DataType::kDateTime},
    {"hh:mm:ss[Z][.f[f[f]]][~oo:ii]", DataType::kTime},
};

constexpr bool BracketsBalance(std::string_view pattern) {
  int depth = 0;
  for (const char c : pattern) {
    if (c == '[') ++depth;
    if (c == ']' && --depth < 0) return false;
  }
  return depth == 0;
}
static_assert(BracketsBalance(kDateForms[0].pattern) && BracketsBalance(kDateForms[1].pattern) &&
              BracketsBalance(kDateForms[2].pattern));

// Strings outside these lengths are never dates (the longest form would need 31 code units, so
// the upper bound also excludes some well-formed date-times).
constexpr std::size_t kShortestDate = 5;
constexpr std::size_t kLongestDate = 25;

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int fraction = 0, fractionDigits = 0;
  bool utc = false;
  int offsetSign = 0;  // +1 or -1 when an offset is written
  int offsetHour = 0, offsetMinute = 0;
};

std::size_t ClosingBracket(std::string_view pattern, std::size_t open) {
  int depth = 0;
  for (std::size_t p = open; p < pattern.size(); ++p) {
    if (pattern[p] == '[') ++depth;
    if (pattern[p] == ']' && --depth == 0) return p;
  }
  return pattern.size();  // not reached: the patterns are checked at compile time
}

int* DigitField(char letter, Fields& fields) {
  switch (letter) {
    case 'Y':
      return &fields.year;
    case 'M':
      return &fields.month;
    case 'D':
      return &fields.day;
    case 'h':
      return &fields.hour;
    case 'm':
      return &fields.minute;
    case 's':
      return &fields.second;
    case 'f':
      return &fields.fraction;
    case 'o':
      return &fields.offsetHour;
    case 'i':
      return &fields.offsetMinute;
    default:
      return nullptr;
  }
}

// Whether text[textAt..] as a whole has the form pattern[patternAt..], filling `fields` with what
// it reads. An optional part is tried with its content first, then without; the forms are a few
// dozen characters, so the search stays small.
bool Match(std::string_view pattern, std::size_t patternAt, std::u16string_view text,
           std::size_t textAt, Fields& fields) {
  while (patternAt < pattern.size()) {
    const char c = pattern[patternAt];
    if (c == '[') {
      Fields with = fields;
      if (Match(pattern, patternAt + 1, text, textAt, with)) {
        fields = with;
        return true;
      }
      patternAt = ClosingBracket(pattern, patternAt) + 1;
      continue;
    }
    if (c == ']') {  // the end of an optional part that was entered
      ++patternAt;
      continue;
    }
    if (textAt == text.size()) return false;
    const char16_t u = text[textAt];
    if (int* field = DigitField(c, fields)) {
      if (u < u'0' || u > u'9') return false;
      *field = *field * 10 + (u - u'0');
      if (c == 'f') ++fields.fractionDigits;
    } else if (c == '~') {
      if (u != u'+' && u != u'-') return false;
      fields.offsetSign = u == u'+' ? 1 : -1;
    } else {
      if (u != static_cast<char16_t>(c)) return false;
      if (c == 'Z') fields.utc = true;
    }
    ++patternAt;
    ++textAt;
  }
  return textAt == text.size();
}

// The date and time `minutes` later (earlier when negative); seconds and milliseconds stay.
DateTimeParts AddMinutes(const DateTimeParts& parts, long long minutes) {
  constexpr long long kMinutesPerDay = 1440;
  long long total = DaysFromCivil(parts.year, parts.month, parts.day) * kMinutesPerDay +
                    parts.hour * 60LL + parts.minute + minutes;
  long long days = total / kMinutesPerDay;
  long long minuteOfDay = total % kMinutesPerDay;
  if (minuteOfDay < 0) {
    minuteOfDay += kMinutesPerDay;
    --days;
  }
  DateTimeParts out = parts;
  CivilFromDays(days, out.year, out.month, out.day);
  out.hour = static_cast<int>(minuteOfDay / 60);
  out.minute = static_cast<int>(minuteOfDay % 60);
  return out;
}

std::optional<RecognizedDate> ToDate(DataType kind, const Fields& fields) {
  DateTimeParts parts;  // a time alone lies on 1899-12-30, day 0
  if (kind != DataType::kTime) {
    parts.year = fields.year;
    parts.month = fields.month;
    parts.day = fields.day;
  }
  parts.hour = fields.hour;
  parts.minute = fields.minute;
  parts.second = fields.second;
  static constexpr int kFractionScale[] = {0, 100, 10, 1};
  parts.millisecond = fields.fraction * kFractionScale[fields.fractionDigits];
  // Not a calendar date (month 13, 30 February, year 0000) or not a time of day: a plain string.
  if (!EncodeDateTime(parts)) return std::nullopt;

  if (fields.utc || fields.offsetSign != 0) {
    // The value is converted to local time once, however many marks it carries: Z alone means
    // UTC, a written offset (with or without Z) is subtracted to give UTC.
    const long long offset = fields.offsetSign * (fields.offsetHour * 60LL + fields.offsetMinute);
    const DateTimeParts utc = AddMinutes(parts, -offset);
    // When the platform cannot convert that moment (Windows knows no time-zone rules before
    // 1601), the value is kept in UTC, unconverted.
    parts = platform::UtcToLocal(utc).value_or(utc);
  }
  // An offset can move a date at the edge of the calendar out of years 1 to 9999: a plain string.
  const std::optional<DateTime> value = EncodeDateTime(parts);
  if (!value) return std::nullopt;
  return RecognizedDate{kind, *value};
}

void AppendDigits(std::u16string& out, int value, int width) {
  char16_t digits[8] = {};
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::optional<RecognizedDate> RecognizeDate(std::u16string_view text) {
  if (text.size() < kShortestDate || text.size() > kLongestDate) return std::nullopt;
  while (!text.empty() && text.front() <= u' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ')
    text.remove_suffix(1);
  for (const DateForm& form : kDateForms) {
    Fields fields;
    // The forms exclude each other, so the first that matches decides.
    if (Match(form.pattern, 0, text, 0, fields)) return ToDate(form.kind, fields);
  }
  return std::nullopt;
}

std::u16string FormatDate(DataType kind, DateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::u16string out;
  out.reserve(23);
  if (kind != DataType::kTime) {
    AppendDigits(out, p.year, 4);
    out += u'-';
    AppendDigits(out, p.month, 2);
    out += u'-';
    AppendDigits(out, p.day, 2);
  }
  if (kind == DataType::kDateTime) out += u'T';
  if (kind != DataType::kDate) {
    AppendDigits(out, p.hour, 2);
    out += u':';
    AppendDigits(out, p.minute, 2);
    out += u':';
    AppendDigits(out, p.second, 2);
    out += u'.';
    AppendDigits(out, p.millisecond, 3);
  }
  return out;
}

}  // namespace tessora::json
