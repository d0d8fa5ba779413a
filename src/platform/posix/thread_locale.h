// The calling thread's locale for a while (uselocale): conversions that read the thread's locale
// (iconv's transliterations, getaddrinfo's names) then use the one named, whatever the host set.
#pragma once

#include <locale.h>

namespace tessora::platform {

class ScopedThreadLocale {
 public:
  // Uses the named locale's character classes (LC_CTYPE) while it lives; an empty or unknown name
  // leaves the thread's locale as it is.
  explicit ScopedThreadLocale(const char* name)
      : locale_(*name == '\0' ? static_cast<locale_t>(nullptr)
                              : newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))),
        previous_(locale_ == static_cast<locale_t>(nullptr) ? static_cast<locale_t>(nullptr)
                                                            : uselocale(locale_)) {}
  ~ScopedThreadLocale() {
    if (locale_ == static_cast<locale_t>(nullptr)) return;
    uselocale(previous_);
    freelocale(locale_);
  }
  ScopedThreadLocale(const ScopedThreadLocale&) = delete;
  ScopedThreadLocale& operator=(const ScopedThreadLocale&) = delete;

 private:
  locale_t locale_;
  locale_t previous_;
};

}  // namespace tessora::platform
