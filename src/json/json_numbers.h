// Conversion of number tokens. The token texts come from the tokenizer, where escape sequences may
// have mixed any code units into them, so both conversions check the whole text.
#pragma once

#include <cstdint>
#include <string_view>

namespace tessora::json {

// A signed 64-bit decimal integer: an optional minus sign and digits, leading zeros allowed.
// Raises "'<text>' is not a valid integer value" otherwise, or when out of range.
std::int64_t ToInteger(std::u16string_view text);

// A decimal number with "." as the separator and an optional exponent, whatever the locale, to the
// nearest double. Raises an error with an empty message when the text is no such number or its
// value lies outside the range of a double.
double ToFloat(std::u16string_view text);

}  // namespace tessora::json
