// The parsed tree behind JsonObject handles: values, members and objects. Internal to the reader
// (and its tests, which dump trees).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/datetime.h"
#include "json/json.h"

namespace tessora {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;

// One value. The kind decides which payload is held:
//   kNil, kNull                  nothing (std::monostate)
//   kBoolean                      bool
//   kInteger                      std::int64_t
//   kFloat                        double
//   kDateTime, kDate, kTime     double: the date-time; the kind is also its text format
//   kString                       std::u16string
//   kObject                       std::shared_ptr<JsonObjectData>, never null
//   kArray                        JsonArray
struct JsonValue {
  using Payload = std::variant<std::monostate, bool, std::int64_t, double, std::u16string,
                               std::shared_ptr<JsonObjectData>, JsonArray>;

  DataType kind = DataType::kNil;
  Payload data;
};

struct JsonMember {
  std::u16string name;  // as written, escape sequences decoded
  JsonValue value;      // Kind kNil for a member written without a value
};

// An object: its members in order. No two names are equal under ASCII case-insensitive comparison.
struct JsonObjectData {
  std::vector<JsonMember> members;
  // The names, as written, of members a later member of the same name replaced while the object
  // was read, in that order (for diagnosis: the endpoint file's operations named twice).
  std::vector<std::u16string> replacedNames;

  // The first member whose name equals `name`, letters a-z and A-Z compared alike; or nullptr.
  JsonMember* Find(std::u16string_view name);
};

}  // namespace tessora
