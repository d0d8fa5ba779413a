// What the soak watches of its own process: memory, open handles and threads.
#pragma once

namespace tessora::soak {

struct Footprint {
  // The resident set (Linux) or working set (Windows), in bytes.
  long long memoryBytes = 0;
  // Bytes the C library's heap has handed out and not yet taken back (Linux; 0 where unknown):
  // a leak raises it, the allocator keeping freed pages for later raises only the resident set.
  long long heapBytes = 0;
  // Open file descriptors (Linux) or open handles (Windows).
  int handles = 0;
  int threads = 0;
};

// What the process holds right now; fields that cannot be read stay 0.
Footprint MeasureFootprint();

// What `handles` counts, for the report: "descriptors" or "handles".
const char* HandlesName();

}  // namespace tessora::soak
