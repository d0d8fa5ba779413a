// An ordered list of header lines, "Name: value", as composed for sending or as received.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessora {

class HeaderList {
 public:
  std::size_t Count() const { return lines_.size(); }
  const std::u16string& operator[](std::size_t index) const { return lines_[index]; }
  const std::vector<std::u16string>& Lines() const { return lines_; }
  bool Empty() const { return lines_.empty(); }
  void Clear() { lines_.clear(); }

  // Appends a raw line as it stands.
  void AddLine(std::u16string line) { lines_.push_back(std::move(line)); }
  // Appends "name: value".
  void Add(std::u16string_view name, std::u16string_view value);
  // Replaces the first line of that name (compared without regard to ASCII case) in place, or
  // appends one.
  void Set(std::u16string_view name, std::u16string_view value);

  // The index of the first line whose name (the text before its first colon) is `name`.
  std::ptrdiff_t IndexOfName(std::u16string_view name) const;
  // The value of the first line named `name`: the text after the colon without leading and
  // trailing blanks, with the lines that follow it and begin with a blank or a tab joined on with
  // one blank. Empty when there is no such line.
  std::u16string Value(std::u16string_view name) const;
  // The values of every line named `name`, each read as Value reads one, joined with ", "; none
  // when there is no such line.
  std::optional<std::u16string> JoinedValues(std::u16string_view name) const;

  // The name of a line: the text before its first colon (the whole line without one).
  static std::u16string_view NameOf(std::u16string_view line);
  // Whether a line is named `name`: the text before its first colon, as it stands, is `name` but
  // for ASCII letter case. A continuation line begins with a blank or a tab and so is named by no
  // header name; a name written with blanks around it is another name.
  static bool IsNamed(std::u16string_view line, std::u16string_view name);

 private:
  // The value of the line at `index` with its continuation lines.
  std::u16string ValueAt(std::size_t index) const;

  std::vector<std::u16string> lines_;
};

// Leading and trailing characters up to U+0020 (blanks and control characters) removed.
std::u16string_view TrimText(std::u16string_view text);
std::u16string_view TrimLeftText(std::u16string_view text);
std::u16string_view TrimRightText(std::u16string_view text);

}  // namespace tessora
