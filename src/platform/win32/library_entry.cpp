// The DLL entry point. The C runtime calls it after the library's components have started (and
// before they shut down); each notification runs on the thread it concerns.
#include "platform/library_entry.h"

#include <windows.h>

#include "platform/thread_storage.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return tessora::LibraryStartup() ? TRUE : FALSE;
    case DLL_THREAD_DETACH:
      tessora::platform::NotifyThreadEnd();
      break;
    case DLL_PROCESS_DETACH:
      // A reserved argument means the process is ending (its other threads have been stopped);
      // none means FreeLibrary.
      tessora::LibraryShutdown(reserved != nullptr ? tessora::ShutdownCause::kProcessExit
                                                   : tessora::ShutdownCause::kUnload);
      break;
    default:
      break;
  }
  return TRUE;
}
