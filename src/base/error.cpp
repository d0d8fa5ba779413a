#include "base/error.h"

#include <utility>

#include "base/text.h"

namespace tessora {

Error::Error(ErrorKind kind, std::u16string message, int code)
    : kind_(kind), message_(std::move(message)), code_(code), utf8_(TextToUtf8(message_)) {}

void Raise(std::u16string message) {
  throw Error(ErrorKind::kPlain, std::move(message));
}

void Raise(ErrorKind kind, std::u16string message, int code) {
  throw Error(kind, std::move(message), code);
}

}  // namespace tessora
