#include "json_indent.h"

#include <vector>

namespace tessora::cli {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsStructural(char c) {
  return c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ':' || c == '"';
}

class Indenter {
 public:
  Indenter(std::string_view text, const IndentOptions& options) : in_(text), options_(options) {}

  std::optional<std::string> Run() {
    SkipSpace();
    if (pos_ == in_.size() || (in_[pos_] != '{' && in_[pos_] != '[')) return std::nullopt;
    while (pos_ < in_.size()) {
      const char c = in_[pos_];
      if (IsSpace(c)) {
        SkipSpace();
        // Two scalars separated only by whitespace would be glued together: not JSON.
        if (pos_ < in_.size() && InScalar() && !IsStructural(in_[pos_])) return std::nullopt;
        continue;
      }
      if (!Step(c)) return std::nullopt;
      if (out_.size() > options_.maxOutput) return std::nullopt;
      if (closers_.empty()) break;  // the top-level value is complete
    }
    if (!closers_.empty()) return std::nullopt;
    SkipSpace();
    if (pos_ != in_.size()) return std::nullopt;
    return std::move(out_);
  }

 private:
  bool Step(char c) {
    switch (c) {
      case '"':
        return String();
      case '{':
      case '[':
        return Open(c);
      case '}':
      case ']':
        if (closers_.empty() || closers_.back() != c) return false;
        closers_.pop_back();
        NewLine();
        out_ += c;
        ++pos_;
        return true;
      case ',':
        if (closers_.empty()) return false;
        out_ += ',';
        NewLine();
        ++pos_;
        return true;
      case ':':
        out_ += ": ";
        ++pos_;
        return true;
      default:
        out_ += c;
        ++pos_;
        return true;
    }
  }

  bool Open(char c) {
    if (closers_.size() >= options_.maxDepth) return false;
    const char closer = c == '{' ? '}' : ']';
    ++pos_;
    SkipSpace();
    if (pos_ < in_.size() && in_[pos_] == closer) {  // empty: {} or []
      out_ += c;
      out_ += closer;
      ++pos_;
      return true;
    }
    out_ += c;
    closers_.push_back(closer);
    NewLine();
    return true;
  }

  // Copies a string from its opening to its closing quote, byte for byte.
  bool String() {
    out_ += in_[pos_++];
    while (pos_ < in_.size()) {
      const auto byte = static_cast<unsigned char>(in_[pos_]);
      if (byte == '"') {
        out_ += in_[pos_++];
        return true;
      }
      const bool pair = byte == '\\' || (options_.isLeadByte != nullptr && byte >= 0x80 &&
                                         options_.isLeadByte(byte));
      out_ += in_[pos_++];
      if (pair) {
        if (pos_ == in_.size()) return false;
        out_ += in_[pos_++];
      }
    }
    return false;  // unterminated
  }

  bool InScalar() const {
    return !out_.empty() && !IsStructural(out_.back()) && out_.back() != ' ' && out_.back() != '\n';
  }

  void SkipSpace() {
    while (pos_ < in_.size() && IsSpace(in_[pos_]))
      ++pos_;
  }

  void NewLine() {
    out_ += '\n';
    out_.append(closers_.size() * static_cast<std::size_t>(options_.indent), ' ');
  }

  std::string_view in_;
  const IndentOptions& options_;
  std::size_t pos_ = 0;
  std::string out_;
  std::vector<char> closers_;
};

}  // namespace

std::optional<std::string> IndentJson(std::string_view text, const IndentOptions& options) {
  if (text.size() > options.maxInput) return std::nullopt;
  return Indenter(text, options).Run();
}

std::string ShortenToken(std::string_view token) {
  for (char c : token) {
    // Only printable ASCII is cut: a cut through a multi-byte character would show garbage.
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) {
      return "(not shown)";
    }
  }
  if (token.size() >= 16) {
    return std::string(token.substr(0, 6)) + "..." + std::string(token.substr(token.size() - 4));
  }
  if (token.size() >= 8) return std::string(token.substr(0, 3)) + "...";
  return "...";
}

}  // namespace tessora::cli
