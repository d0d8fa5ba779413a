// A small strict JSON reader for the sandbox's request bodies, and string quoting for its
// answers. Bounded: nesting deeper than kMaxDepth is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessora::sandbox::json {

constexpr int kMaxDepth = 32;

struct Member;

struct Value {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  std::string text;  // a string's UTF-8 text, or a number exactly as written
  std::vector<Value> items;
  // (A member of its own rather than std::pair: a pair needs a complete Value where it is named.)
  std::vector<Member> members;

  // The member called `name`, or nullptr.
  const Value* Find(std::string_view name) const;
};

struct Member {
  std::string name;
  Value value;
};

// Parses one JSON document (RFC 8259: UTF-8, no duplicate member names). On failure returns
// nothing and sets `error` to what is wrong and where.
std::optional<Value> Parse(std::string_view text, std::string& error);

// `text` (UTF-8) as a JSON string literal, quotes included.
std::string Quote(std::string_view text);

}  // namespace tessora::sandbox::json
