#include "openssl_in_use.h"

namespace tessora::cli {

std::string DescribeOpenSsl(const OpenSslInUse& openssl) {
  return openssl.files + ": " + (openssl.version.empty() ? "version unknown" : openssl.version);
}

std::string OpenSslWarning(const OpenSslInUse& openssl) {
  // 1.1.0 is the first release after the 1.0 line, whose last fixes came out in 2019.
  constexpr unsigned long kRelease110 = 0x10100000UL;
  if (openssl.number == 0 || openssl.number >= kRelease110) return {};
  const std::string name = openssl.version.empty() ? "this OpenSSL" : openssl.version;
  return "warning: " + name + " no longer receives security fixes; put " + OpenSsl3Files() +
         " (OpenSSL 3) next to the TessoraNet library";
}

}  // namespace tessora::cli
