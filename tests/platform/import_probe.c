/* Two DLLs for the library search's test, made from this one file. Built with
   TESSORA_IMPORTED_PROBE, it exports TessoraImportedProbe and, as soon as a process loads it,
   leaves a file "imported-probe-loaded" next to itself. Built without, it imports that function:
   loading it loads the other one through the system's search for imports. */
#include <windows.h>

#if defined(TESSORA_IMPORTED_PROBE)

__declspec(dllexport) int TessoraImportedProbe(void) {
  return 7;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  static const wchar_t kMarker[] = L"imported-probe-loaded";
  wchar_t path[MAX_PATH + sizeof kMarker / sizeof kMarker[0]];
  DWORD length;
  HANDLE file;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/')
    --length;
  lstrcpyW(path + length, kMarker);
  file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}

#else

__declspec(dllimport) int TessoraImportedProbe(void);

__declspec(dllexport) int TessoraImportProbe(void) {
  return TessoraImportedProbe();
}

#endif
