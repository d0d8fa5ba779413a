/*
 * A minimal host program: loads TessoraNet at run time, as business applications do, configures
 * the calling thread and asks for its token state.
 *
 *   host_demo [path-to-library]
 */
#include <stdio.h>
#include <string.h>

#include "TessoraNet.h"

#if defined(_WIN32)
#include <windows.h>
#define DEFAULT_LIBRARY "TessoraNet.dll"
static void* load(const char* path) {
  return (void*)LoadLibraryA(path);
}
/* Copies the export's address into the function pointer `out`. */
static int lookup(void* library, const char* name, void* out, size_t size) {
  FARPROC address = GetProcAddress((HMODULE)library, name);
  if (address == NULL) return 0;
  memcpy(out, &address, size);
  return 1;
}
#else
#include <dlfcn.h>
#define DEFAULT_LIBRARY "./libTessoraNet.so"
static void* load(const char* path) {
  return dlopen(path, RTLD_NOW);
}
static int lookup(void* library, const char* name, void* out, size_t size) {
  void* address = dlsym(library, name);
  if (address == NULL) return 0;
  memcpy(out, &address, size);
  return 1;
}
#endif

typedef void(TESSORANET_CALL* ConfigureServiceFn)(const char*, const char*, const char*,
                                                  const char*, const char*);
typedef void(TESSORANET_CALL* ConfigureProxyFn)(const char*, int, const char*, const char*);
typedef void(TESSORANET_CALL* GetInstanceDataFn)(char**);
typedef unsigned char(TESSORANET_CALL* TokenExpiredFn)(void);

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : DEFAULT_LIBRARY;
  void* library = load(path);
  ConfigureServiceFn configureService;
  ConfigureProxyFn configureProxy;
  GetInstanceDataFn getInstanceData;
  TokenExpiredFn tokenExpired;
  char* token = NULL;

  if (library == NULL) {
    fprintf(stderr, "cannot load %s\n", path);
    return 1;
  }
  if (!lookup(library, "ConfigureService", &configureService, sizeof configureService) ||
      !lookup(library, "ConfigureProxy", &configureProxy, sizeof configureProxy) ||
      !lookup(library, "TessoraNetGetInstanceData", &getInstanceData, sizeof getInstanceData) ||
      !lookup(library, "TessoraNetTokenExpired", &tokenExpired, sizeof tokenExpired)) {
    fprintf(stderr, "%s lacks an export\n", path);
    return 1;
  }

  printf("loaded %s (the traffic log \"Call Logs.txt\" is now open in this directory)\n", path);
  configureService("my-client-id", "my-client-secret", "sandbox.", "endpoints.json", "");
  configureProxy("", 0, "", "");
  printf("configured this thread: client id, secret, environment \"sandbox.\", endpoints.json\n");
  getInstanceData(&token);
  printf("access token: \"%s\"\n", token);
  printf("token expired: %d (no AUTHORIZE call yet)\n", tokenExpired() & 0xFF);
  return 0;
}
