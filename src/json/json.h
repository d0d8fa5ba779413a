// The lenient JSON reader: ParseJsonObject turns text into a tree of values; typed getters read
// members by name (ASCII letter case ignored); members can be walked in order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessora {

enum class DataType {
  kNil,  // a member written without a value
  kNull,
  kObject,
  kArray,
  kString,
  kInteger,
  kFloat,
  kBoolean,
  kDateTime,
  kDate,
  kTime,
};

struct JsonObjectData;  // the shared tree node; defined by the reader

// A handle to an object of a parsed tree. Handles share the tree: any handle keeps the whole tree
// alive. A default-constructed handle is empty (refers to no object); on an empty handle every
// getter behaves as on an object without members, except that GetObject cannot store the new
// object anywhere and only returns it.
class JsonObject {
 public:
  JsonObject();
  explicit JsonObject(std::shared_ptr<JsonObjectData> data);

  bool IsEmpty() const { return data_ == nullptr; }

  // The member's text (dates in their normalised form); empty text when absent, null or written
  // without a value. Raises "Invalid class typecast" for numbers, booleans, arrays and objects.
  std::u16string GetString(std::u16string_view name) const;
  // The member's integer; 0 when absent, null or written without a value. Raises
  // "Invalid class typecast" for every other kind.
  std::int64_t GetInteger(std::u16string_view name) const;
  // The member's object, shared with the tree. An absent member is created as an object without
  // members, stored under `name` and returned. A null member or one written without a value gives a
  // new object without members that is not stored (the tree stays unchanged). Raises
  // "Invalid class typecast" for other kinds.
  JsonObject GetObject(std::u16string_view name);

  class Member {
   public:
    const std::u16string& Name() const;
    // The member's object; an empty handle for a member written without a value; raises
    // "Invalid class typecast" for every other kind.
    JsonObject AsObject() const;
    DataType Kind() const;

   private:
    friend class JsonObject;
    Member(std::shared_ptr<JsonObjectData> owner, std::size_t index);
    // The owning object and the member's place in it: members are only ever appended once the
    // tree is built, so the place stays valid. The name is copied so that Name() stays valid
    // while the owner grows.
    std::shared_ptr<JsonObjectData> owner_;
    std::size_t index_;
    std::u16string name_;
  };
  // The members in list order.
  std::vector<Member> GetEnumerator() const;
  // The names, as written, of members that a later member of the same name (ASCII letter case
  // ignored) replaced while the text was read; empty for an empty handle.
  std::vector<std::u16string> ReplacedNames() const;

  const std::shared_ptr<JsonObjectData>& Data() const { return data_; }

 private:
  std::shared_ptr<JsonObjectData> data_;
};

// How deeply arrays and objects may nest (the root object is level 1).
inline constexpr int kJsonMaxNesting = 512;
// How many values one text may hold, arrays, objects and members written without a value
// included (the root object is one).
inline constexpr std::int64_t kJsonMaxValues = 1000000;

// Parses `json` and returns its root object; an empty text gives an object without members, and
// whatever follows the root object is ignored. Raises the reader's syntax and conversion failures;
// a text whose value is not an object fails with "Expected {" and the position after the token
// found instead, and nesting deeper than kJsonMaxNesting or more than kJsonMaxValues values fail
// where the limit is passed.
JsonObject ParseJsonObject(std::u16string_view json);

}  // namespace tessora
