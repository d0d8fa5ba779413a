// Fuzzes the JSON reader: ParseJsonObject, then every getter and AsObject on every member of the
// tree, checking the reader's promises on the way.
//
// The input bytes become text in one of two ways. When they begin with FF FE (the UTF-16LE
// byte-order mark), the rest are UTF-16LE code units (an odd last byte is dropped), so that any
// code unit reaches the reader: lone surrogates, U+0000, U+FEFF and every other one from U+0080 up.
// Otherwise they are UTF-8, decoded as the library decodes response bodies (invalid sequences
// become U+FFFD); this keeps the seed corpus readable, and escapes still reach any code unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "fuzz_target.h"
#include "json/json.h"

namespace {

using tessora::DataType;
using tessora::Error;
using tessora::ErrorKind;
using tessora::JsonObject;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsWith(std::u16string_view text, std::u16string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::u16string Decode(const std::uint8_t* data, std::size_t size) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < size; i += 2) {
      text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
  }
  return tessora::Utf8ToText(std::string_view(reinterpret_cast<const char*>(data), size));
}

// Runs a getter that may only fail with "Invalid class typecast"; tells whether it succeeded.
template <typename Getter>
bool ReadsOrRefuses(Getter&& getter) {
  try {
    getter();
    return true;
  } catch (const Error& error) {
    Check(error.Kind() == ErrorKind::kInvalidCast && error.Message() == u"Invalid class typecast");
    return false;
  }
}

bool IsDate(DataType kind) {
  return kind == DataType::kDateTime || kind == DataType::kDate || kind == DataType::kTime;
}

void Walk(JsonObject object, int depth) {
  Check(depth <= tessora::kJsonMaxNesting);
  const auto members = object.GetEnumerator();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto& member = members[i];
    const std::u16string& name = member.Name();
    const DataType kind = member.Kind();
    // Names are unique under ASCII case-insensitive comparison, so lookup finds this member.
    for (std::size_t j = i + 1; j < members.size() && j < i + 64; ++j) {
      Check(!tessora::SameTextAscii(name, members[j].Name()));
    }
    std::u16string text;
    const bool isText = ReadsOrRefuses([&] { text = object.GetString(name); });
    Check(isText == (kind == DataType::kString || kind == DataType::kNull ||
                     kind == DataType::kNil || IsDate(kind)));
    if (IsDate(kind)) {
      // The normalised text of a date reads back as the same date.
      const JsonObject again = tessora::ParseJsonObject(u"{\"d\":\"" + text + u"\"}");
      Check(again.GetEnumerator().at(0).Kind() == kind && again.GetString(u"d") == text);
    }
    const bool isInteger = ReadsOrRefuses([&] { object.GetInteger(name); });
    Check(isInteger ==
          (kind == DataType::kInteger || kind == DataType::kNull || kind == DataType::kNil));

    JsonObject child;
    const bool isObject = ReadsOrRefuses([&] { child = member.AsObject(); });
    Check(isObject == (kind == DataType::kObject || kind == DataType::kNil));
    Check(child.IsEmpty() == (kind != DataType::kObject));
    if (kind == DataType::kObject) {
      Check(object.GetObject(name).Data() == child.Data());
      Walk(child, depth + 1);
    }
  }
  // A missing member is created, stored and found again.
  bool present = false;
  for (const auto& member : members)
    present |= tessora::SameTextAscii(member.Name(), u"fuzz");
  if (!present) {
    JsonObject created = object.GetObject(u"FUZZ");
    Check(object.GetObject(u"fuzz").Data() == created.Data());
    Check(object.GetEnumerator().size() == members.size() + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = Decode(data, size);
  JsonObject root;
  try {
    root = tessora::ParseJsonObject(text);
  } catch (const Error& error) {
    const std::u16string& message = error.Message();
    if (error.Kind() == ErrorKind::kConversion) {
      Check(message.empty() || EndsWith(message, u"' is not a valid integer value"));
    } else {
      Check(error.Kind() == ErrorKind::kPlain && EndsWith(message, u")") &&
            message.find(u". (Line: ") != std::u16string::npos);
    }
    return 0;
  }
  Check(!root.IsEmpty());
  Walk(root, 1);
  return 0;
}
