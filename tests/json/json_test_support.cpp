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

void DumpValue(std::string& out, const TJsonValue& value);

void DumpObject(std::string& out, const TJsonObjectData& object) {
  out += '{';
  bool first = true;
  for (const TJsonMember& member : object.Members) {
    if (!first) out += ',';
    first = false;
    DumpText(out, member.Name);
    out += ':';
    DumpValue(out, member.Value);
  }
  out += '}';
}

void DumpValue(std::string& out, const TJsonValue& value) {
  switch (value.Kind) {
    case TDataType::kNil:
      break;
    case TDataType::kNull:
      out += "null";
      break;
    case TDataType::kBoolean:
      out += std::get<bool>(value.Data) ? "true" : "false";
      break;
    case TDataType::kInteger:
      out += std::to_string(std::get<std::int64_t>(value.Data));
      break;
    case TDataType::kFloat: {
      char number[32];
      const auto end = std::to_chars(number, number + sizeof number, std::get<double>(value.Data));
      out += "float(" + std::string(number, end.ptr) + ")";
      break;
    }
    case TDataType::kString:
      out += '"';
      DumpText(out, std::get<std::u16string>(value.Data));
      out += '"';
      break;
    case TDataType::kDateTime:
    case TDataType::kDate:
    case TDataType::kTime: {
      const char* name = value.Kind == TDataType::kDateTime ? "datetime("
                         : value.Kind == TDataType::kDate   ? "date("
                                                             : "time(";
      out += name;
      DumpText(out, json::FormatDate(value.Kind, std::get<double>(value.Data)));
      out += ')';
      break;
    }
    case TDataType::kArray: {
      out += '[';
      bool first = true;
      for (const TJsonValue& item : std::get<TJsonArray>(value.Data)) {
        if (!first) out += ',';
        first = false;
        DumpValue(out, item);
      }
      out += ']';
      break;
    }
    case TDataType::kObject:
      DumpObject(out, *std::get<std::shared_ptr<TJsonObjectData>>(value.Data));
      break;
  }
}

}  // namespace

std::string DumpTree(const TJsonObject& object) {
  if (object.IsEmpty()) return "(empty handle)";
  std::string out;
  DumpObject(out, *object.Data());
  return out;
}

std::string ParseOutcome(std::u16string_view text) {
  try {
    return DumpTree(ParseJsonObject(text));
  } catch (const Error& error) {
    const char* kind = error.Kind() == ErrorKind::Plain         ? "error: "
                       : error.Kind() == ErrorKind::Conversion  ? "conversion error: "
                       : error.Kind() == ErrorKind::InvalidCast ? "cast error: "
                                                                : "other error: ";
    return kind + std::string(error.what());
  }
}

Error FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error;
  }
  ADD_FAILURE() << "no failure raised";
  return Error(ErrorKind::Plain, u"");
}

}  // namespace tessora::json_test
