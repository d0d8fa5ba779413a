// Start-up and shutdown of the library.
#pragma once

#include <memory>
#include <string>

namespace tessora {

class TrafficLog;

// The name of the traffic log by default, relative to the current directory at load.
inline constexpr char16_t kCallLogFileName[] = u"Call Logs.txt";

// Creates the traffic log and opens its file, `fileName` ("off": none). A log that cannot be opened
// or created does not stop the library: the result is then nullptr and the library works without
// a log.
std::unique_ptr<TrafficLog> OpenCallLog(const std::u16string& fileName = kCallLogFileName);

}  // namespace tessora
