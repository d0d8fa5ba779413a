// On Windows a failure leaves an export as a non-continuable structured exception. Its single
// parameter points to the message in the ANSI code page (or UTF-8), held in a per-thread buffer
// that stays valid until the thread's next failure.
#include "platform/host_failure.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "platform/codepage.h"

namespace tessora::platform {

namespace {
// Plain storage (no destructor), so it needs no per-thread clean-up.
thread_local char tMessage[1024];
}  // namespace

void LeaveExport(std::exception_ptr failure, bool utf8Message) {
  std::string message;
  try {
    std::rethrow_exception(failure);
  } catch (const Error& error) {
    message = utf8Message ? TextToUtf8(error.Message()) : TextToAnsi(error.Message());
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
    message = "Unknown failure";
  }
  std::size_t n = message.size() < sizeof tMessage ? message.size() : sizeof tMessage - 1;
  // A UTF-8 message cut short ends before a whole character, not inside one.
  if (utf8Message && n < message.size()) {
    while (n > 0 && (static_cast<unsigned char>(message[n]) & 0xC0) == 0x80)
      --n;
  }
  std::memcpy(tMessage, message.data(), n);
  tMessage[n] = '\0';
  // Every C++ object of the failed call has been destroyed by now; only the raise remains.
  message = std::string();
  failure = nullptr;
  const ULONG_PTR arguments[1] = {reinterpret_cast<ULONG_PTR>(tMessage)};
  RaiseException(kHostFailureCode, EXCEPTION_NONCONTINUABLE, 1, arguments);
  std::abort();  // not reached: a non-continuable exception does not return
}

}  // namespace tessora::platform
