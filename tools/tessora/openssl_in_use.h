// Which OpenSSL the library runs on. The library does not tell (its five exports are fixed), so
// the host looks at the modules loaded into its own process: the Windows library loads OpenSSL
// with its first connection, the Linux library has it linked.
#pragma once

#include <optional>
#include <string>

namespace tessora::cli {

struct OpenSslInUse {
  std::string files;         // "libssl-3.dll + libcrypto-3.dll", with the folder they came from
  std::string version;       // OpenSSL_version / SSLeay_version text: "OpenSSL 3.0.20 ..."
  unsigned long number = 0;  // OpenSSL_version_num / SSLeay: 0xMNN00PPSL
};

// The OpenSSL 3 DLLs a Windows host puts next to the library, of the tool's own width:
// "libssl-3.dll and libcrypto-3.dll" (32-bit), "libssl-3-x64.dll and libcrypto-3-x64.dll" (64-bit).
std::string OpenSsl3Files();

// The OpenSSL loaded into this process, if any.
std::optional<OpenSslInUse> FindOpenSslInUse();

// The summary line's value: files and version.
std::string DescribeOpenSsl(const OpenSslInUse& openssl);

// A warning about a line that no longer receives security fixes (1.0.2 and older), or "".
std::string OpenSslWarning(const OpenSslInUse& openssl);

}  // namespace tessora::cli
