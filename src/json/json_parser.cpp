// The builder: reads values from the tokenizer's tokens into a tree, leniently.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "json/json.h"
#include "json/json_dates.h"
#include "json/json_tokenizer.h"
#include "json/json_tree.h"
#include "platform/random.h"

namespace tessora {

namespace {

using json::Token;
using json::TokenKind;

// Collects the members of one object as they are read. A member whose name matches one already
// stored (ASCII letter case ignored) replaces it: the earlier one is dropped and the new one goes
// to the end. Small objects are searched member by member; past kLinearLimit members an
// open-addressing index of member places keeps building linear.
class MemberList {
 public:
  explicit MemberList(JsonObjectData& object)
      : members_(object.members), replaced_(object.replacedNames) {}
  MemberList(const MemberList&) = delete;
  MemberList& operator=(const MemberList&) = delete;

  void Store(std::u16string name, JsonValue value) {
    if (slots_.empty()) {
      StoreSmall(std::move(name), std::move(value));
    } else {
      StoreIndexed(std::move(name), std::move(value));
    }
  }

  // Removes the members that were replaced while the index was in use, keeping the order of the
  // others.
  void Finish() {
    if (droppedCount_ == 0) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (dropped_[i]) continue;
      if (kept != i) members_[kept] = std::move(members_[i]);
      ++kept;
    }
    members_.resize(kept);
  }

 private:
  static constexpr std::size_t kLinearLimit = 16;
  static constexpr std::size_t kEmpty = 0;  // a slot holds a member place + 1, or kEmpty

  void StoreSmall(std::u16string name, JsonValue value) {
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (SameTextAscii(members_[i].name, name)) {
        replaced_.push_back(members_[i].name);
        members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    members_.push_back(JsonMember{std::move(name), std::move(value)});
    if (members_.size() > kLinearLimit) {
      for (const JsonMember& member : members_)
        hashes_.push_back(Hash(member.name));
      dropped_.assign(members_.size(), false);
      Rehash(4 * kLinearLimit);
    }
  }

  void StoreIndexed(std::u16string name, JsonValue value) {
    const std::size_t hash = Hash(name);
    std::size_t& slot = SlotFor(name, hash);
    if (slot != kEmpty) {
      replaced_.push_back(members_[slot - 1].name);
      dropped_[slot - 1] = true;
      ++droppedCount_;
    } else {
      ++usedSlots_;
    }
    members_.push_back(JsonMember{std::move(name), std::move(value)});
    hashes_.push_back(hash);
    dropped_.push_back(false);
    slot = members_.size();
    if (2 * usedSlots_ > slots_.size()) Rehash(2 * slots_.size());
  }

  // The slot of the live member named `name`, or the empty slot where it belongs.
  std::size_t& SlotFor(std::u16string_view name, std::size_t hash) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      std::size_t& slot = slots_[i];
      if (slot == kEmpty) return slot;
      const std::size_t place = slot - 1;
      if (hashes_[place] == hash && SameTextAscii(members_[place].name, name)) return slot;
    }
  }

  // Rebuilds the index with `capacity` slots (a power of two) for the live members.
  void Rehash(std::size_t capacity) {
    slots_.assign(capacity, kEmpty);
    usedSlots_ = 0;
    const std::size_t mask = capacity - 1;
    for (std::size_t place = 0; place < members_.size(); ++place) {
      if (dropped_[place]) continue;
      std::size_t i = hashes_[place] & mask;
      while (slots_[i] != kEmpty)
        i = (i + 1) & mask;
      slots_[i] = place + 1;
      ++usedSlots_;
    }
  }

  // SipHash-1-3 over the code units, letters a-z taken as A-Z, under a key drawn once per process:
  // whoever writes the text cannot choose names that all fall into one slot (a server that did
  // would make each member cost a walk over all the others).
  static std::size_t Hash(std::u16string_view name) {
    static const std::uint64_t kHashKey[2] = {platform::SystemRandom64(),
                                              platform::SystemRandom64()};
    std::uint64_t v0 = kHashKey[0] ^ 0x736f6d6570736575ULL;
    std::uint64_t v1 = kHashKey[1] ^ 0x646f72616e646f6dULL;
    std::uint64_t v2 = kHashKey[0] ^ 0x6c7967656e657261ULL;
    std::uint64_t v3 = kHashKey[1] ^ 0x7465646279746573ULL;
    const auto round = [&] {
      v0 += v1;
      v1 = std::rotl(v1, 13) ^ v0;
      v0 = std::rotl(v0, 32);
      v2 += v3;
      v3 = std::rotl(v3, 16) ^ v2;
      v0 += v3;
      v3 = std::rotl(v3, 21) ^ v0;
      v2 += v1;
      v1 = std::rotl(v1, 17) ^ v2;
      v2 = std::rotl(v2, 32);
    };
    const auto absorb = [&](std::uint64_t word) {
      v3 ^= word;
      round();
      v0 ^= word;
    };
    // Four code units (eight bytes, little-endian) to a word; the last word carries the length.
    std::uint64_t word = 0;
    int units = 0;
    for (char16_t c : name) {
      word |= static_cast<std::uint64_t>(AsciiUpper(c)) << (16 * units);
      if (++units == 4) {
        absorb(word);
        word = 0;
        units = 0;
      }
    }
    absorb(word | (static_cast<std::uint64_t>(name.size() * 2) << 56));
    v2 ^= 0xff;
    round();
    round();
    round();
    return static_cast<std::size_t>(v0 ^ v1 ^ v2 ^ v3);
  }

  std::vector<JsonMember>& members_;
  std::vector<std::u16string>& replaced_;
  // Used once the index is: per member place its name's hash and whether it was replaced.
  std::vector<std::size_t> hashes_;
  std::vector<bool> dropped_;
  std::size_t droppedCount_ = 0;
  std::vector<std::size_t> slots_;
  std::size_t usedSlots_ = 0;
};

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

class Builder {
 public:
  explicit Builder(std::u16string_view text) : tokens_(text) {}

  JsonObject ReadRoot() {
    // Only an object can be the root. Anything else where it is due (no token at all, a word such
    // as a plain-text error page, a punctuation mark, an array, a string, a number or a literal)
    // fails at once, with the position after that token, as a missing colon does.
    if (Peek().kind != TokenKind::kOpenBrace) tokens_.Fail(u"Expected {");
    Take();
    Count();
    auto root = std::make_shared<JsonObjectData>();
    Enter();
    ReadObject(*root);
    // Whatever follows the root object is not looked at.
    return JsonObject(std::move(root));
  }

 private:
  // The next token, read now unless one is already waiting.
  const Token& Peek() {
    if (!waiting_) {
      tokens_.Next(token_);
      waiting_ = true;
    }
    return token_;
  }

  void Take() { waiting_ = false; }

  // Each array and object is one level; the builder descends recursively, so the depth is bounded
  // to keep its stack use small and certain (a few hundred kilobytes at most, also on a host thread
  // of a 32-bit process).
  void Enter() {
    if (++depth_ > kJsonMaxNesting) {
      tokens_.Fail(u"Nesting deeper than " + IntToText(kJsonMaxNesting) + u" levels");
    }
  }

  // Each value read, members written without one included, counts against kJsonMaxValues: a value
  // of a few bytes of text takes some tens of bytes in the tree, so a 64 MiB answer of "[{},{},..."
  // would otherwise take gigabytes, more than a 32-bit host has.
  void Count() {
    if (++values_ > kJsonMaxValues) {
      tokens_.Fail(u"More than " + IntToText(kJsonMaxValues) + u" values");
    }
  }

  // Reads a value into `value`; false, with the token left waiting, when there is none.
  bool ReadValue(JsonValue& value) {
    switch (Peek().kind) {
      case TokenKind::kString:
        if (const auto date = json::RecognizeDate(token_.text)) {
          value.kind = date->kind;
          value.data = date->value;
        } else {
          value.kind = DataType::kString;
          value.data = std::move(token_.text);
        }
        break;
      case TokenKind::kInteger:
        value.kind = DataType::kInteger;
        value.data = token_.integer;
        break;
      case TokenKind::kFloat:
        value.kind = DataType::kFloat;
        value.data = token_.number;
        break;
      case TokenKind::kTrue:
      case TokenKind::kFalse:
        value.kind = DataType::kBoolean;
        value.data = token_.kind == TokenKind::kTrue;
        break;
      case TokenKind::kNull:
        value.kind = DataType::kNull;
        break;
      case TokenKind::kOpenBracket: {
        Take();
        Count();
        Enter();
        value.kind = DataType::kArray;
        ReadArray(value.data.emplace<JsonArray>());
        --depth_;
        return true;
      }
      case TokenKind::kOpenBrace: {
        Take();
        Count();
        Enter();
        auto object = std::make_shared<JsonObjectData>();
        ReadObject(*object);
        value.kind = DataType::kObject;
        value.data = std::move(object);
        --depth_;
        return true;
      }
      default:
        return false;
    }
    Take();
    Count();
    return true;
  }

  void ReadArray(JsonArray& items) {
    for (;;) {
      JsonValue item;
      if (ReadValue(item)) items.push_back(std::move(item));
      if (Peek().kind == TokenKind::kComma) {
        Take();
        continue;
      }
      if (Peek().kind != TokenKind::kCloseBracket) tokens_.Fail(u"Unexpected end of input");
      Take();
      return;
    }
  }

  void ReadObject(JsonObjectData& object) {
    MemberList members(object);
    for (;;) {
      const TokenKind kind = Peek().kind;
      const bool isName = kind == TokenKind::kString || kind == TokenKind::kWord ||
                          kind == TokenKind::kTrue || kind == TokenKind::kFalse;
      // A name with a line break in it (only an escape can put one there) is no name: the token
      // stays waiting and the object fails below.
      if (isName && !HasLineBreak(token_.text)) {
        std::u16string name = std::move(token_.text);
        Take();
        if (Peek().kind != TokenKind::kColon) tokens_.Fail(u"Expected :");
        Take();
        JsonValue value;  // kNil: a member written without a value
        if (!ReadValue(value)) Count();
        members.Store(std::move(name), std::move(value));
      }
      if (Peek().kind == TokenKind::kComma) {
        Take();
        continue;
      }
      if (Peek().kind != TokenKind::kCloseBrace) tokens_.Fail(u"Unexpected end of input");
      Take();
      members.Finish();
      return;
    }
  }

  json::Tokenizer tokens_;
  Token token_;
  bool waiting_ = false;
  int depth_ = 0;
  std::int64_t values_ = 0;
};

}  // namespace

JsonObject ParseJsonObject(std::u16string_view json) {
  // An empty text reads as "{}". (A text that merely begins with U+0000 is not empty: it holds no
  // value and fails as such.)
  if (json.empty()) return JsonObject(std::make_shared<JsonObjectData>());
  return Builder(json).ReadRoot();
}

}  // namespace tessora
