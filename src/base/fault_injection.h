// A switch for tests: makes the next calls of a platform operation fail with a chosen system error.
#pragma once

namespace tessora::platform {

enum class Fault { kFileOpen, kFileCreate, kConnect, kLoadLibrary, kCodePage, kCount };

// The next `count` calls of the operation fail with the system error `errorCode`.
void InjectFault(Fault fault, int errorCode, int count = 1);
void ClearFaults();
// For the implementations: the error code to fail this call with, or 0 to go on.
int TakeFault(Fault fault);

}  // namespace tessora::platform
