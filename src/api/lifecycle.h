// Start-up and shutdown of the library.
#pragma once

#include <memory>

namespace tessora {

class TrafficLog;

// The name of the traffic log, relative to the current directory at load.
inline constexpr char16_t kCallLogFileName[] = u"Call Logs.txt";

// Creates the traffic log and opens its file. A log that cannot be opened or created does not stop
// the library: the result is then nullptr and the library works without a log.
std::unique_ptr<TrafficLog> OpenCallLog();

}  // namespace tessora
