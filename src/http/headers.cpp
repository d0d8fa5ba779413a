#include "http/headers.h"

#include "base/text.h"

namespace tessora {

namespace {

bool IsBlankOrControl(char16_t unit) {
  return unit <= u' ';
}

}  // namespace

std::u16string_view TrimLeftText(std::u16string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsBlankOrControl(text[begin]))
    ++begin;
  return text.substr(begin);
}

std::u16string_view TrimRightText(std::u16string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlankOrControl(text[end - 1]))
    --end;
  return text.substr(0, end);
}

std::u16string_view TrimText(std::u16string_view text) {
  return TrimRightText(TrimLeftText(text));
}

std::u16string_view HeaderList::NameOf(std::u16string_view line) {
  const std::size_t colon = line.find(u':');
  return colon == std::u16string_view::npos ? line : line.substr(0, colon);
}

bool HeaderList::IsNamed(std::u16string_view line, std::u16string_view name) {
  return line.find(u':') != std::u16string_view::npos && SameTextAscii(NameOf(line), name);
}

void HeaderList::Add(std::u16string_view name, std::u16string_view value) {
  std::u16string line(name);
  line += u": ";
  line += value;
  lines_.push_back(std::move(line));
}

void HeaderList::Set(std::u16string_view name, std::u16string_view value) {
  const std::ptrdiff_t index = IndexOfName(name);
  if (index < 0) {
    Add(name, value);
    return;
  }
  std::u16string line(name);
  line += u": ";
  line += value;
  lines_[static_cast<std::size_t>(index)] = std::move(line);
}

std::ptrdiff_t HeaderList::IndexOfName(std::u16string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (IsNamed(lines_[i], name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::u16string HeaderList::Value(std::u16string_view name) const {
  const std::ptrdiff_t index = IndexOfName(name);
  if (index < 0) return {};
  return ValueAt(static_cast<std::size_t>(index));
}

std::optional<std::u16string> HeaderList::JoinedValues(std::u16string_view name) const {
  std::optional<std::u16string> joined;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::u16string& line = lines_[i];
    // A continuation line belongs to the line before it, whatever it holds.
    if (line.empty() || line[0] == u' ' || line[0] == u'\t') continue;
    if (!IsNamed(line, name)) continue;
    if (joined) {
      *joined += u", ";
      *joined += ValueAt(i);
    } else {
      joined = ValueAt(i);
    }
  }
  return joined;
}

std::u16string HeaderList::ValueAt(std::size_t index) const {
  const std::u16string& line = lines_[index];
  const std::size_t colon = line.find(u':');
  if (colon == std::u16string::npos) return {};
  std::u16string value(TrimText(std::u16string_view(line).substr(colon + 1)));
  // Continuation lines (folded values) begin with a blank or a tab.
  for (std::size_t i = index + 1; i < lines_.size(); ++i) {
    const std::u16string& next = lines_[i];
    if (next.empty() || (next[0] != u' ' && next[0] != u'\t')) break;
    const std::u16string_view part = TrimText(next);
    if (!value.empty() && !part.empty()) value += u' ';
    value += part;
  }
  return value;
}

}  // namespace tessora
