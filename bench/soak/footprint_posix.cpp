// Linux: /proc/self/status (VmRSS, Threads), glibc's heap statistics and the entries of
// /proc/self/fd.
#include <dirent.h>
#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "footprint.h"

namespace tessora::soak {

Footprint MeasureFootprint() {
  Footprint footprint;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      footprint.memoryBytes = std::atoll(line.c_str() + 6) * 1024;
    } else if (line.rfind("Threads:", 0) == 0) {
      footprint.threads = std::atoi(line.c_str() + 8);
    }
  }
  const struct mallinfo2 heap = mallinfo2();
  footprint.heapBytes = static_cast<long long>(heap.uordblks + heap.hblkhd);
  DIR* fds = opendir("/proc/self/fd");
  if (fds != nullptr) {
    int entries = 0;
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] != '.') ++entries;
    }
    closedir(fds);
    footprint.handles = entries - 1;  // the listing's own descriptor
  }
  return footprint;
}

const char* HandlesName() {
  return "descriptors";
}

}  // namespace tessora::soak
