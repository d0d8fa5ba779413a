// The real peers (nginx, tinyproxy) that CTest fixtures start from tests/support/peers.py.
#pragma once

#include <string>

namespace tessora::test {

// The port of the peer `name` ("nginx", "proxy", "authproxy"), or 0 when it is not running.
int PeerPort(const std::string& name);

// The path of a file in the directory of the peer `name` (its "access.log", for nginx).
std::string PeerFile(const std::string& name, const std::string& file);

// The credentials of the "authproxy" peer (tests/http/CMakeLists.txt starts it).
inline constexpr char kProxyUser[] = "tessora";
inline constexpr char kProxyPassword[] = "proxy-secret";

}  // namespace tessora::test
