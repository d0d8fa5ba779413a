/* A stand-in for a provider or engine DLL that a planted openssl.cnf would name: as soon as a
   process loads it, it leaves a file "planted-module-loaded" next to itself. It exports nothing
   OpenSSL looks for, so OpenSSL gives up on it after loading it; by then it has run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  static const wchar_t kMarker[] = L"planted-module-loaded";
  static const char kText[] = "loaded\r\n";
  wchar_t path[MAX_PATH + sizeof kMarker / sizeof kMarker[0]];
  DWORD length;
  DWORD written;
  HANDLE file;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/')
    --length;
  lstrcpyW(path + length, kMarker);
  file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, kText, sizeof kText - 1, &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
