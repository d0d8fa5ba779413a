/*
 * A host built against an installed TessoraNet (or one added with add_subdirectory): prints the
 * library's version and, given an environment and an endpoint file, performs AUTHORIZE and one
 * charge against the sandbox.
 *
 *   consumer_host                                  prints the version
 *   consumer_host ENVIRONMENT ENDPOINT-FILE        also AUTHORIZE + CHARGE_CREATE
 *
 * On Windows it also prints where TessoraNet.dll was loaded from and the file version of its
 * version resource, and after the calls where the OpenSSL 3 DLLs were loaded from (they must lie
 * beside TessoraNet.dll). Link with -lversion there.
 *
 * Exit status 0 when every step went as expected.
 */
#include <stdio.h>
#include <string.h>

#include <TessoraNet.h>

#if defined(_WIN32)
#include <windows.h>

/* The folder of a loaded module, with its trailing backslash; "" when it is not loaded. */
static void ModuleFolder(const char* name, char* folder, DWORD size) {
  HMODULE module = GetModuleHandleA(name);
  DWORD n = module != NULL ? GetModuleFileNameA(module, folder, size) : 0;
  folder[n < size ? n : 0] = '\0';
  char* slash = strrchr(folder, '\\');
  if (slash != NULL) slash[1] = '\0';
}

/* Prints the folder and the file version of TessoraNet.dll; 0 when the version resource names
 * TESSORA_EXPECTED_VERSION (as major.minor.patch.0). */
static int ShowLibrary(void) {
  char path[MAX_PATH];
  HMODULE module = GetModuleHandleA("TessoraNet.dll");
  DWORD n = module != NULL ? GetModuleFileNameA(module, path, MAX_PATH) : 0;
  if (n == 0 || n >= MAX_PATH) return 1;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  static char info[8192];
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (size == 0 || size > sizeof info || !GetFileVersionInfoA(path, 0, size, info) ||
      !VerQueryValueA(info, "\\", (void**)&fixed, &length) || fixed == NULL) {
    fprintf(stderr, "%s has no version resource\n", path);
    return 1;
  }
  char version[64];
  snprintf(
      version, sizeof version, "%lu.%lu.%lu.%lu", (unsigned long)HIWORD(fixed->dwFileVersionMS),
      (unsigned long)LOWORD(fixed->dwFileVersionMS), (unsigned long)HIWORD(fixed->dwFileVersionLS),
      (unsigned long)LOWORD(fixed->dwFileVersionLS));
  printf("TessoraNet.dll %s from %s\n", version, path);
  return strcmp(version, TESSORA_EXPECTED_VERSION ".0") == 0 ? 0 : 1;
}

/* 0 when libssl-3.dll and libcrypto-3.dll (64-bit: libssl-3-x64.dll, libcrypto-3-x64.dll) were
 * loaded from the folder of TessoraNet.dll. */
static int CheckOpenSsl(void) {
  char library[MAX_PATH];
  char ssl[MAX_PATH];
  char crypto[MAX_PATH];
  const int x64 = sizeof(void*) == 8;
  ModuleFolder("TessoraNet.dll", library, MAX_PATH);
  ModuleFolder(x64 ? "libssl-3-x64.dll" : "libssl-3.dll", ssl, MAX_PATH);
  ModuleFolder(x64 ? "libcrypto-3-x64.dll" : "libcrypto-3.dll", crypto, MAX_PATH);
  printf("OpenSSL 3 from %s\n", ssl[0] != '\0' ? ssl : "(not loaded)");
  return library[0] != '\0' && _stricmp(library, ssl) == 0 && _stricmp(library, crypto) == 0 ? 0
                                                                                             : 1;
}
#endif

static int Call(const char* operation, const char* body, int expectedStatus) {
  char* result = NULL;
  const unsigned char answered = TessoraNetTry(operation, "", "", body, &result);
  const int status = TessoraNetLastStatus();
  printf("%s: %d %s\n", operation, status, result != NULL ? result : "(null)");
  TessoraNetFree(result);
  return answered && status == expectedStatus ? 0 : 1;
}

int main(int argc, char** argv) {
  const char* version = TessoraNetVersion();
  printf("TessoraNet %s\n", version);
  if (version == NULL || strcmp(version, TESSORA_EXPECTED_VERSION) != 0) {
    fprintf(stderr, "expected version %s\n", TESSORA_EXPECTED_VERSION);
    return 1;
  }
#if defined(_WIN32)
  if (ShowLibrary() != 0) return 1;
#endif
  if (argc < 3) return 0;
  ConfigureService("sandbox-client", "sandbox-secret", argv[1], argv[2], "");
  if (Call("AUTHORIZE", "", 200) != 0) return 1;
  if (Call("CHARGE_CREATE", "{\"amount\": 1250, \"currency\": \"EUR\"}", 201) != 0) return 1;
#if defined(_WIN32)
  return CheckOpenSsl();
#else
  return 0;
#endif
}
