// How a failure leaves an exported function.
#pragma once

#include <exception>

namespace tessora::platform {

// Code of the structured exception by which a failure leaves an export on Windows.
constexpr unsigned long kHostFailureCode = 0xE054534EUL;

// Hands a failure to the host: on Windows a non-continuable structured exception whose first
// parameter is the message in the ANSI code page, or in UTF-8 when `utf8Message` (a thread whose
// host text is UTF-8); on POSIX the C++ exception itself, whose message is UTF-8 either way.
[[noreturn]] void LeaveExport(std::exception_ptr failure, bool utf8Message = false);

}  // namespace tessora::platform
