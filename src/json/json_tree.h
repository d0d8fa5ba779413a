// The parsed tree behind TJsonObject handles: values, members and objects. Internal to the reader
// (and its tests, which dump trees).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/json.h"
#include "platform/datetime.h"

namespace tessora {

struct TJsonValue;
using TJsonArray = std::vector<TJsonValue>;

// One value. The kind decides which payload is held:
//   dtNil, dtNull                  nothing (std::monostate)
//   dtBoolean                      bool
//   dtInteger                      std::int64_t
//   dtFloat                        double
//   dtDateTime, dtDate, dtTime     double: the date-time; the kind is also its text format
//   dtString                       std::u16string
//   dtObject                       std::shared_ptr<TJsonObjectData>, never null
//   dtArray                        TJsonArray
struct TJsonValue {
  using Payload = std::variant<std::monostate, bool, std::int64_t, double, std::u16string,
                               std::shared_ptr<TJsonObjectData>, TJsonArray>;

  TDataType Kind = TDataType::dtNil;
  Payload Data;
};

struct TJsonMember {
  std::u16string Name;  // as written, escape sequences decoded
  TJsonValue Value;     // Kind dtNil for a member written without a value
};

// An object: its members in order. No two names are equal under ASCII case-insensitive comparison.
struct TJsonObjectData {
  std::vector<TJsonMember> Members;

  // The first member whose name equals `name`, letters a-z and A-Z compared alike; or nullptr.
  TJsonMember* Find(std::u16string_view name);
};

}  // namespace tessora
