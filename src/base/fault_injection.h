// A switch for tests: makes the next calls of a platform operation fail with a chosen system error.
#pragma once

namespace tessora::platform {

// kLinkedFile: the next file opened for appending reads as a link (a symbolic link, or on Windows
// any reparse point), whatever it really is: Wine creates no real links to test with. kResolve:
// the next bounded name resolution fails with the error, or with platform::kHangingConnect
// waits out its bound as a resolver that never answers does.
enum class Fault {
  kFileOpen,
  kFileCreate,
  kConnect,
  kLoadLibrary,
  kCodePage,
  kLinkedFile,
  kResolve,
  kCount
};

// The next `count` calls of the operation fail with the system error `errorCode`.
void InjectFault(Fault fault, int errorCode, int count = 1);
void ClearFaults();
// For the implementations: the error code to fail this call with, or 0 to go on.
int TakeFault(Fault fault);

}  // namespace tessora::platform
