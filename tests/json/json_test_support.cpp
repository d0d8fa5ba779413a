#include "json_test_support.h"

#include <charconv>
#include <cstdio>

#include <gtest/gtest.h>

#include "json/json_dates.h"
#include "json/json_tree.h"

namespace tessora::json_test {

namespace {

void DumpText(std::string& out, const std::u16string& text) {
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
      out += static_cast<char>(c);
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
      out += code;
    }
  }
}

void DumpValue(std::string& out, const JsonValue& value);

void DumpObject(std::string& out, const JsonObjectData& object) {
  out += '{';
  bool first = true;
  for (const JsonMember& member : object.members) {
    if (!first) out += ',';
    first = false;
    DumpText(out, member.name);
    out += ':';
    DumpValue(out, member.value);
  }
  out += '}';
}

void DumpValue(std::string& out, const JsonValue& value) {
  switch (value.kind) {
    case DataType::kNil:
      break;
    case DataType::kNull:
      out += "null";
      break;
    case DataType::kBoolean:
      out += std::get<bool>(value.data) ? "true" : "false";
      break;
    case DataType::kInteger:
      out += std::to_string(std::get<std::int64_t>(value.data));
      break;
    case DataType::kFloat: {
      char number[32];
      const auto end = std::to_chars(number, number + sizeof number, std::get<double>(value.data));
      out += "float(" + std::string(number, end.ptr) + ")";
      break;
    }
    case DataType::kString:
      out += '"';
      DumpText(out, std::get<std::u16string>(value.data));
      out += '"';
      break;
    case DataType::kDateTime:
    case DataType::kDate:
    case DataType::kTime: {
      const char* name = value.kind == DataType::kDateTime ? "datetime("
                         : value.kind == DataType::kDate   ? "date("
                                                           : "time(";
      out += name;
      DumpText(out, json::FormatDate(value.kind, std::get<double>(value.data)));
      out += ')';
      break;
    }
    case DataType::kArray: {
      out += '[';
      bool first = true;
      for (const JsonValue& item : std::get<JsonArray>(value.data)) {
        if (!first) out += ',';
        first = false;
        DumpValue(out, item);
      }
      out += ']';
      break;
    }
    case DataType::kObject:
      DumpObject(out, *std::get<std::shared_ptr<JsonObjectData>>(value.data));
      break;
  }
}

}  // namespace

std::string DumpTree(const JsonObject& object) {
  if (object.IsEmpty()) return "(empty handle)";
  std::string out;
  DumpObject(out, *object.Data());
  return out;
}

std::string ParseOutcome(std::u16string_view text) {
  try {
    return DumpTree(ParseJsonObject(text));
  } catch (const Error& error) {
    const char* kind = error.Kind() == ErrorKind::kPlain         ? "error: "
                       : error.Kind() == ErrorKind::kConversion  ? "conversion error: "
                       : error.Kind() == ErrorKind::kInvalidCast ? "cast error: "
                                                                 : "other error: ";
    return kind + std::string(error.what());
  }
}

}  // namespace tessora::json_test
