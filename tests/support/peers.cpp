#include "support/peers.h"

#include <fstream>

namespace tessora::test {

std::string PeerFile(const std::string& name, const std::string& file) {
  // The fixtures keep their peers in the build tree (tests may change the current directory).
  return std::string(TESSORA_PEERS_DIR) + "/" + name + "/" + file;
}

int PeerPort(const std::string& name) {
  std::ifstream in(PeerFile(name, "port"));
  int port = 0;
  in >> port;
  return port;
}

}  // namespace tessora::test
