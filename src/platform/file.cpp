#include "platform/file.h"

#include "base/error.h"

namespace tessora::platform {

void RaiseFileError(bool create, const std::u16string& path, int code) {
  std::u16string message = create ? u"Cannot create file \"" : u"Cannot open file \"";
  message += ExpandFileName(path);
  message += u"\". ";
  message += SystemErrorMessage(code);
  Raise(create ? ErrorKind::kFileCreate : ErrorKind::kFileOpen, std::move(message), code);
}

void RaiseNotARegularFile(const std::u16string& path) {
  Raise(ErrorKind::kFileOpen,
        u"Cannot open file \"" + ExpandFileName(path) + u"\". It is not a regular file");
}

}  // namespace tessora::platform

namespace tessora::platform {

// System messages end in periods and line breaks ("Access is denied.\r\n"); the library's messages
// put their own punctuation around them.
std::u16string TrimSystemMessage(std::u16string message) {
  while (!message.empty()) {
    const char16_t c = message.back();
    if (c != u' ' && c != u'\r' && c != u'\n' && c != u'.') break;
    message.pop_back();
  }
  return message;
}

}  // namespace tessora::platform
