// Whether a leak checker (LeakSanitizer, with AddressSanitizer) watches this build: then
// TESSORA_LEAK_CHECKER is defined and the checker's interface (__lsan_ignore_object,
// __lsan_disable, __lsan_enable) is declared, for what is kept or left on purpose.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TESSORA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSORA_LEAK_CHECKER 1
#endif
#endif
#if defined(TESSORA_LEAK_CHECKER)
#include <sanitizer/lsan_interface.h>
#endif
