#include "json.h"

#include <cstdint>

namespace tessora::sandbox::json {

const Value* Value::Find(std::string_view name) const {
  for (const auto& member : members) {
    if (member.name == name) return &member.value;
  }
  return nullptr;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : in_(text) {}

  std::optional<Value> Document(std::string& error) {
    Value value;
    SkipSpace();
    if (!ReadValue(value, 0)) {
      error = error_ + " at byte " + std::to_string(pos_);
      return std::nullopt;
    }
    SkipSpace();
    if (pos_ != in_.size()) {
      error = "unexpected text after the value at byte " + std::to_string(pos_);
      return std::nullopt;
    }
    return value;
  }

  // Reads one multi-byte UTF-8 character at the start; its length, or 0 when malformed.
  std::size_t CheckedCharacter(std::string& out) { return Utf8(out) ? pos_ : 0; }

 private:
  bool Fail(const char* message) {
    if (error_.empty()) error_ = message;
    return false;
  }

  void SkipSpace() {
    while (pos_ < in_.size() &&
           (in_[pos_] == ' ' || in_[pos_] == '\t' || in_[pos_] == '\r' || in_[pos_] == '\n')) {
      ++pos_;
    }
  }

  bool Literal(std::string_view word) {
    if (in_.substr(pos_, word.size()) != word) return Fail("invalid literal");
    pos_ += word.size();
    return true;
  }

  bool ReadValue(Value& value, int depth) {
    if (pos_ >= in_.size()) return Fail("unexpected end of text");
    const char c = in_[pos_];
    switch (c) {
      case '{':
        return ReadObject(value, depth + 1);
      case '[':
        return ReadArray(value, depth + 1);
      case '"':
        value.type = Value::Type::kString;
        return ReadString(value.text);
      case 't':
        value.type = Value::Type::kBool;
        value.boolean = true;
        return Literal("true");
      case 'f':
        value.type = Value::Type::kBool;
        return Literal("false");
      case 'n':
        value.type = Value::Type::kNull;
        return Literal("null");
      default:
        value.type = Value::Type::kNumber;
        return ReadNumber(value.text);
    }
  }

  bool ReadObject(Value& value, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    value.type = Value::Type::kObject;
    ++pos_;
    SkipSpace();
    if (pos_ < in_.size() && in_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      if (pos_ >= in_.size() || in_[pos_] != '"') return Fail("expected a member name");
      std::string name;
      if (!ReadString(name)) return false;
      if (value.Find(name) != nullptr) return Fail("duplicate member name");
      SkipSpace();
      if (pos_ >= in_.size() || in_[pos_] != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      Value member;
      if (!ReadValue(member, depth)) return false;
      value.members.push_back(Member{std::move(name), std::move(member)});
      SkipSpace();
      if (pos_ < in_.size() && in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < in_.size() && in_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ReadArray(Value& value, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    value.type = Value::Type::kArray;
    ++pos_;
    SkipSpace();
    if (pos_ < in_.size() && in_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      Value item;
      if (!ReadValue(item, depth)) return false;
      value.items.push_back(std::move(item));
      SkipSpace();
      if (pos_ < in_.size() && in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < in_.size() && in_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool Digits() {
    const std::size_t start = pos_;
    while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9')
      ++pos_;
    return pos_ > start;
  }

  bool ReadNumber(std::string& text) {
    const std::size_t start = pos_;
    if (pos_ < in_.size() && in_[pos_] == '-') ++pos_;
    if (pos_ < in_.size() && in_[pos_] == '0') {
      ++pos_;
    } else if (!Digits()) {
      return Fail("invalid value");
    }
    if (pos_ < in_.size() && in_[pos_] == '.') {
      ++pos_;
      if (!Digits()) return Fail("invalid number");
    }
    if (pos_ < in_.size() && (in_[pos_] == 'e' || in_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < in_.size() && (in_[pos_] == '+' || in_[pos_] == '-')) ++pos_;
      if (!Digits()) return Fail("invalid number");
    }
    text.assign(in_.substr(start, pos_ - start));
    return true;
  }

  bool Hex4(std::uint32_t& unit) {
    if (in_.size() - pos_ < 4) return Fail("invalid \\u escape");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = in_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') {
        unit |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        unit |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        unit |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return Fail("invalid \\u escape");
      }
    }
    return true;
  }

  static void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool Escape(std::string& out) {
    if (pos_ >= in_.size()) return Fail("unterminated string");
    const char c = in_[pos_++];
    switch (c) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return Fail("invalid escape");
    }
    std::uint32_t unit = 0;
    if (!Hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return Fail("lone surrogate");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      std::uint32_t low = 0;
      if (in_.substr(pos_, 2) != "\\u") return Fail("lone surrogate");
      pos_ += 2;
      if (!Hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return Fail("lone surrogate");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, unit);
    return true;
  }

  // One UTF-8 character of at least two bytes, checked (no overlong forms, no surrogates).
  bool Utf8(std::string& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in_[pos_ + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return Fail("invalid UTF-8");
    }
    if (in_.size() - pos_ < length) return Fail("invalid UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      if ((byte(i) & 0xC0) != 0x80) return Fail("invalid UTF-8");
      code = (code << 6) | (byte(i) & 0x3Fu);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      return Fail("invalid UTF-8");
    }
    out.append(in_.substr(pos_, length));
    pos_ += length;
    return true;
  }

  bool ReadString(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < in_.size()) {
      const auto c = static_cast<unsigned char>(in_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\') {
        ++pos_;
        if (!Escape(out)) return false;
      } else if (c < 0x20) {
        return Fail("control character in string");
      } else if (c < 0x80) {
        out += static_cast<char>(c);
        ++pos_;
      } else if (!Utf8(out)) {
        return false;
      }
    }
    return Fail("unterminated string");
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<Value> Parse(std::string_view text, std::string& error) {
  return Reader(text).Document(error);
}

namespace {

// The length of the well-formed UTF-8 character at `pos` of at least two bytes, or 0.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
  std::string ignored;
  Reader reader(text.substr(pos, 4));
  return reader.CheckedCharacter(ignored);
}

}  // namespace

std::string Quote(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      // Text from a request path may be any bytes: answer with valid UTF-8 all the same.
      const std::size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
      } else {
        out.append(text.substr(i, length));
        i += length - 1;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace tessora::sandbox::json
