// Lines of text and the parameter lists made from the host's name=value blocks.
#include "catalogue/catalogue.h"
#include "platform/locale.h"

namespace tessora {

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c != u'\r' && c != u'\n') {
      ++i;
      continue;
    }
    lines.emplace_back(text.substr(start, i - start));
    // CR LF is one break; LF CR is two.
    i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::u16string_view ParameterList::Name(std::size_t index) const {
  const std::u16string_view line = lines_[index];
  return line.substr(0, line.find(u'='));
}

std::u16string ParameterList::Value(std::u16string_view name) const {
  for (const std::u16string& line : lines_) {
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string::npos) continue;
    if (platform::SameTextIgnoreCase(std::u16string_view(line).substr(0, equals), name)) {
      return line.substr(equals + 1);
    }
  }
  return {};
}

}  // namespace tessora
