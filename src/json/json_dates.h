// Strings that look like ISO 8601 dates or times are held as date values and read back in one
// fixed, locale-independent format.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/datetime.h"
#include "json/json.h"

namespace tessora::json {

struct RecognizedDate {
  DataType kind;   // kDateTime, kDate or kTime
  DateTime value;  // local time
};

// The date value a decoded string stands for, or nothing when it stays a string.
std::optional<RecognizedDate> RecognizeDate(std::u16string_view text);

// The normalised text of a date value: 2024-03-05T14:07:09.250, 2024-03-05 or 14:07:09.250.
std::u16string FormatDate(DataType kind, DateTime value);

}  // namespace tessora::json
