// Marks the functions the library exports. Windows takes its export table from the .def file;
// ELF builds hide everything else through the version script.
#pragma once

#if defined(_WIN32)
#define TESSORA_EXPORT
#else
#define TESSORA_EXPORT __attribute__((visibility("default")))
#endif
