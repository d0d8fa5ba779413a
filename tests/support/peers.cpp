#include "support/peers.h"

#include <fstream>

namespace tessora::test {

int PeerPort(const std::string& name) {
  // The fixtures keep their peers in the build tree (tests may change the current directory).
  std::ifstream in(std::string(TESSORA_PEERS_DIR) + "/" + name + "/port");
  int port = 0;
  in >> port;
  return port;
}

}  // namespace tessora::test
