// JsonObject: lookup by name and the typed getters over the shared tree.
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "json/json.h"
#include "json/json_dates.h"
#include "json/json_tree.h"

namespace tessora {

namespace {

[[noreturn]] void InvalidCast() {
  Raise(ErrorKind::kInvalidCast, u"Invalid class typecast");
}

const JsonValue* FindValue(const std::shared_ptr<JsonObjectData>& data, std::u16string_view name) {
  if (!data) return nullptr;  // an empty handle has no members
  const JsonMember* member = data->Find(name);
  return member ? &member->value : nullptr;
}

bool IsDate(DataType kind) {
  return kind == DataType::kDateTime || kind == DataType::kDate || kind == DataType::kTime;
}

}  // namespace

JsonMember* JsonObjectData::Find(std::u16string_view name) {
  for (JsonMember& member : members) {
    if (SameTextAscii(member.name, name)) return &member;
  }
  return nullptr;
}

JsonObject::JsonObject() = default;

JsonObject::JsonObject(std::shared_ptr<JsonObjectData> data) : data_(std::move(data)) {}

std::u16string JsonObject::GetString(std::u16string_view name) const {
  const JsonValue* value = FindValue(data_, name);
  if (value == nullptr) return {};
  switch (value->kind) {
    case DataType::kNil:  // written without a value: read as no text, like null
    case DataType::kNull:
      return {};
    case DataType::kString:
      return std::get<std::u16string>(value->data);
    default:
      if (IsDate(value->kind)) return json::FormatDate(value->kind, std::get<double>(value->data));
      InvalidCast();
  }
}

std::int64_t JsonObject::GetInteger(std::u16string_view name) const {
  const JsonValue* value = FindValue(data_, name);
  if (value == nullptr) return 0;
  switch (value->kind) {
    case DataType::kNil:
    case DataType::kNull:
      return 0;
    case DataType::kInteger:
      return std::get<std::int64_t>(value->data);
    default:
      InvalidCast();
  }
}

JsonObject JsonObject::GetObject(std::u16string_view name) {
  const JsonValue* value = FindValue(data_, name);
  if (value == nullptr) {
    auto created = std::make_shared<JsonObjectData>();
    // Stored under V so that later calls find the same object (no member matches V, so nothing
    // is replaced). An empty handle has nowhere to store it.
    if (data_) {
      JsonValue stored;
      stored.kind = DataType::kObject;
      stored.data = created;
      data_->members.push_back(JsonMember{std::u16string(name), std::move(stored)});
    }
    return JsonObject(std::move(created));
  }
  switch (value->kind) {
    case DataType::kObject:
      return JsonObject(std::get<std::shared_ptr<JsonObjectData>>(value->data));
    case DataType::kNil:
    case DataType::kNull:
      // Read as an object without members; the member itself stays as it is.
      return JsonObject(std::make_shared<JsonObjectData>());
    default:
      InvalidCast();
  }
}

std::vector<std::u16string> JsonObject::ReplacedNames() const {
  return data_ != nullptr ? data_->replacedNames : std::vector<std::u16string>();
}

std::vector<JsonObject::Member> JsonObject::GetEnumerator() const {
  std::vector<Member> members;
  if (!data_) return members;
  members.reserve(data_->members.size());
  for (std::size_t i = 0; i < data_->members.size(); ++i)
    members.push_back(Member(data_, i));
  return members;
}

JsonObject::Member::Member(std::shared_ptr<JsonObjectData> owner, std::size_t index)
    : owner_(std::move(owner)), index_(index), name_(owner_->members[index].name) {}

const std::u16string& JsonObject::Member::Name() const {
  return name_;
}

DataType JsonObject::Member::Kind() const {
  return owner_->members[index_].value.kind;
}

JsonObject JsonObject::Member::AsObject() const {
  const JsonValue& value = owner_->members[index_].value;
  switch (value.kind) {
    case DataType::kObject:
      return JsonObject(std::get<std::shared_ptr<JsonObjectData>>(value.data));
    case DataType::kNil:
      return JsonObject();
    default:
      InvalidCast();
  }
}

}  // namespace tessora
