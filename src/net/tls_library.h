// The TLS library as the rest of the library and its tools see it: whether it can be used, where
// the Windows loader looks for it first, and its release when the library unloads. (The function
// table itself stays inside net/.)
#pragma once

#include <string>

namespace tessora {

// Loads and initialises the TLS library if that has not happened yet; whether it can be used.
bool TlsLibraryAvailable();

// Whether the TLS library can negotiate TLS 1.3 (OpenSSL 1.1.1 and later; not the 1.0 line);
// loads it first.
bool TlsLibraryHasTls13();

// Releases what the library made with the TLS library (the shared client context and its
// sessions), then the TLS library itself where it was loaded at run time (Windows).
void ReleaseTlsLibrary();

// For the end of the process: from here on a connection that closes makes no call into the TLS
// library and only closes its socket (no closing alert, no session kept; its TLS state is left to
// the process's end). By then the TLS library may have run its own clean-up at exit (OpenSSL 3
// does so before the library's end-of-process code, on Linux and on Windows), and on Windows the
// other threads have been stopped wherever they were, perhaps holding the TLS library's locks or
// the shared sessions'. `false` (for tests) returns to the normal close.
void LeaveTlsLibraryAlone(bool alone = true);
bool TlsLibraryLeftAlone();

// Windows: the folder searched first for the OpenSSL 3 libraries, in place of the folder of the
// module holding this code (`tessora doctor` gives the folder of TessoraNet.dll). Elsewhere
// nothing.
void SearchTlsLibraryFirstIn(const std::u16string& folder);

}  // namespace tessora
