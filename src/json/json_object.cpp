// TJsonObject: lookup by name and the typed getters over the shared tree.
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "json/json.h"
#include "json/json_dates.h"
#include "json/json_tree.h"

namespace tessora {

namespace {

[[noreturn]] void InvalidCast() {
  Raise(ErrorKind::InvalidCast, u"Invalid class typecast");
}

const TJsonValue* FindValue(const std::shared_ptr<TJsonObjectData>& data,
                            std::u16string_view name) {
  if (!data) return nullptr;  // an empty handle has no members
  const TJsonMember* member = data->Find(name);
  return member ? &member->Value : nullptr;
}

bool IsDate(TDataType kind) {
  return kind == TDataType::kDateTime || kind == TDataType::kDate || kind == TDataType::kTime;
}

}  // namespace

TJsonMember* TJsonObjectData::Find(std::u16string_view name) {
  for (TJsonMember& member : Members) {
    if (SameTextAscii(member.Name, name)) return &member;
  }
  return nullptr;
}

TJsonObject::TJsonObject() = default;

TJsonObject::TJsonObject(std::shared_ptr<TJsonObjectData> data) : data_(std::move(data)) {}

std::u16string TJsonObject::GetString(std::u16string_view V) const {
  const TJsonValue* value = FindValue(data_, V);
  if (value == nullptr) return {};
  switch (value->Kind) {
    case TDataType::kNil:  // written without a value: read as no text, like null
    case TDataType::kNull:
      return {};
    case TDataType::kString:
      return std::get<std::u16string>(value->Data);
    default:
      if (IsDate(value->Kind)) return json::FormatDate(value->Kind, std::get<double>(value->Data));
      InvalidCast();
  }
}

std::int64_t TJsonObject::GetInteger(std::u16string_view V) const {
  const TJsonValue* value = FindValue(data_, V);
  if (value == nullptr) return 0;
  switch (value->Kind) {
    case TDataType::kNil:
    case TDataType::kNull:
      return 0;
    case TDataType::kInteger:
      return std::get<std::int64_t>(value->Data);
    default:
      InvalidCast();
  }
}

TJsonObject TJsonObject::GetObject(std::u16string_view V) {
  const TJsonValue* value = FindValue(data_, V);
  if (value == nullptr) {
    auto created = std::make_shared<TJsonObjectData>();
    // Stored under V so that later calls find the same object (no member matches V, so nothing
    // is replaced). An empty handle has nowhere to store it.
    if (data_) {
      TJsonValue stored;
      stored.Kind = TDataType::kObject;
      stored.Data = created;
      data_->Members.push_back(TJsonMember{std::u16string(V), std::move(stored)});
    }
    return TJsonObject(std::move(created));
  }
  switch (value->Kind) {
    case TDataType::kObject:
      return TJsonObject(std::get<std::shared_ptr<TJsonObjectData>>(value->Data));
    case TDataType::kNil:
    case TDataType::kNull:
      // Read as an object without members; the member itself stays as it is.
      return TJsonObject(std::make_shared<TJsonObjectData>());
    default:
      InvalidCast();
  }
}

std::vector<TJsonObject::Member> TJsonObject::GetEnumerator() const {
  std::vector<Member> members;
  if (!data_) return members;
  members.reserve(data_->Members.size());
  for (std::size_t i = 0; i < data_->Members.size(); ++i)
    members.push_back(Member(data_, i));
  return members;
}

TJsonObject::Member::Member(std::shared_ptr<TJsonObjectData> owner, std::size_t index)
    : owner_(std::move(owner)), index_(index), name_(owner_->Members[index].Name) {}

const std::u16string& TJsonObject::Member::Name() const {
  return name_;
}

TDataType TJsonObject::Member::Kind() const {
  return owner_->Members[index_].Value.Kind;
}

TJsonObject TJsonObject::Member::AsObject() const {
  const TJsonValue& value = owner_->Members[index_].Value;
  switch (value.Kind) {
    case TDataType::kObject:
      return TJsonObject(std::get<std::shared_ptr<TJsonObjectData>>(value.Data));
    case TDataType::kNil:
      return TJsonObject();
    default:
      InvalidCast();
  }
}

}  // namespace tessora
