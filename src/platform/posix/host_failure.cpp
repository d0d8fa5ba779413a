// On POSIX a failure leaves an export as the C++ exception itself; a C++ host can catch it as
// std::exception, whose what() is the message in UTF-8.
#include "platform/host_failure.h"

namespace tessora::platform {

void LeaveExport(std::exception_ptr failure, bool /*utf8Message*/) {
  std::rethrow_exception(failure);
}

}  // namespace tessora::platform
