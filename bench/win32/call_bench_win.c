/*
 * Times one API call through TessoraNet.dll's export as a Windows host makes it: the DLL loaded
 * at run time, a worker thread (CreateThread) that configures itself and performs the operation
 * again and again against a loopback server. Prints the first request's time and the median of
 * the others. The counterpart of bare_client, which shows what the same DLLs of OpenSSL cost.
 *
 *   call_bench_win --port P [--requests N] [--library TessoraNet.dll]
 *
 * Writes "call-bench-endpoints.json" in the current directory, where the DLL also opens its
 * "Call Logs.txt" (the worker thread's calls are not recorded). The trust file is the DLL's:
 * SSL_CERT_FILE. A failure inside the DLL (a structured exception) ends the program. Each result
 * is given back with TessoraNetFree when the DLL offers it, so that the process's memory and
 * handles, printed at the start, after the first request and at the end, show what the calls
 * keep.
 * The last line reads "median <ms> ms per request" (bench/run-call-bench reads it).
 */
/* clang-format off */
#include <windows.h>
#include <psapi.h>
/* clang-format on */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "TessoraNet.h"

typedef void(TESSORANET_CALL* ConfigureServiceFn)(const char*, const char*, const char*,
                                                  const char*, const char*);
typedef char*(TESSORANET_CALL* TessoraNetFn)(const char*, const char*, const char*, const char*);
typedef void(TESSORANET_CALL* TessoraNetFreeFn)(char*);

static const char kEndpointFile[] = "call-bench-endpoints.json";
static const char kEndpoints[] =
    "{\"ENDPOINTS\": {\"JSON\": {\"route\": \"/v1/json\", \"method\": \"GET\"}}}";
/* The answer of the route (tests/support/peers.py) starts so in every ANSI code page. */
static const char kExpectedStart[] = "{\"name\":\"Jos";

struct Run {
  ConfigureServiceFn configureService;
  TessoraNetFn tessoraNet;
  TessoraNetFreeFn tessoraNetFree; /* NULL when the DLL lacks it */
  char environment[64];
  int requests;
  double first;
  double* times;
  int failures;
};

static double Now(void) {
  static LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

/* The process's working set, private bytes and open handles (the last two where the system
 * counts them: Wine reports 0). */
static void PrintResources(const char* when) {
  PROCESS_MEMORY_COUNTERS_EX memory;
  DWORD handles = 0;
  memset(&memory, 0, sizeof memory);
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&memory, sizeof memory);
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  printf("%-26s working set %6.1f MB", when, (double)memory.WorkingSetSize / 1048576.0);
  if (memory.PrivateUsage != 0)
    printf(", private %6.1f MB", (double)memory.PrivateUsage / 1048576.0);
  if (handles != 0) printf(", %4lu handles", (unsigned long)handles);
  printf("\n");
}

static DWORD WINAPI Worker(LPVOID parameter) {
  struct Run* run = (struct Run*)parameter;
  int i;
  run->configureService("bench-client", "bench-secret", run->environment, kEndpointFile, "");
  for (i = -1; i < run->requests; ++i) {
    const double start = Now();
    char* result = run->tessoraNet("JSON", "", "", "");
    const double ms = Now() - start;
    if (strncmp(result, kExpectedStart, sizeof kExpectedStart - 1) != 0) {
      if (run->failures++ == 0) fprintf(stderr, "call_bench_win: answer \"%s\"\n", result);
    }
    /* Without TessoraNetFree the result buffer is the library's and stays. */
    if (run->tessoraNetFree != NULL) run->tessoraNetFree(result);
    if (i < 0) {
      run->first = ms;
      PrintResources("after the first request:");
    } else {
      run->times[i] = ms;
    }
  }
  return 0;
}

/* Copies the export's address into the function pointer `out`; 0 when the DLL lacks it. */
static int Lookup(HMODULE dll, const char* name, void* out, size_t size) {
  FARPROC address = GetProcAddress(dll, name);
  if (address == NULL) return 0;
  memcpy(out, &address, size);
  return 1;
}

static int CompareDoubles(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double Median(double* values, int count) {
  qsort(values, (size_t)count, sizeof *values, CompareDoubles);
  return count % 2 != 0 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

int main(int argc, char** argv) {
  const char* libraryPath = "TessoraNet.dll";
  struct Run run;
  int port = 0;
  int i;
  FILE* endpoints;
  HMODULE library;
  HANDLE thread;

  memset(&run, 0, sizeof run);
  run.requests = 300;
  for (i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--port") == 0) {
      port = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--requests") == 0) {
      run.requests = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--library") == 0) {
      libraryPath = argv[i + 1];
    } else {
      break;
    }
  }
  if (i != argc || port <= 0 || run.requests < 1) {
    fprintf(stderr, "usage: call_bench_win --port P [--requests N] [--library TessoraNet.dll]\n");
    return 2;
  }
  snprintf(run.environment, sizeof run.environment, "127.0.0.1:%d/", port);

  endpoints = fopen(kEndpointFile, "wb");
  if (endpoints == NULL || fputs(kEndpoints, endpoints) < 0 || fclose(endpoints) != 0) {
    fprintf(stderr, "call_bench_win: cannot write %s\n", kEndpointFile);
    return 2;
  }
  library = LoadLibraryA(libraryPath);
  if (library == NULL) {
    fprintf(stderr, "call_bench_win: cannot load %s (error %lu)\n", libraryPath,
            (unsigned long)GetLastError());
    return 2;
  }
  if (!Lookup(library, "ConfigureService", &run.configureService, sizeof run.configureService) ||
      !Lookup(library, "TessoraNet", &run.tessoraNet, sizeof run.tessoraNet)) {
    fprintf(stderr, "call_bench_win: %s lacks an export\n", libraryPath);
    return 2;
  }
  if (!Lookup(library, "TessoraNetFree", &run.tessoraNetFree, sizeof run.tessoraNetFree)) {
    run.tessoraNetFree = NULL;
  }
  run.times = (double*)malloc(sizeof *run.times * (size_t)run.requests);
  if (run.times == NULL) return 2;
  PrintResources("at start:");

  thread = CreateThread(NULL, 0, Worker, &run, 0, NULL);
  if (thread == NULL) return 2;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  if (run.failures > 0) {
    fprintf(stderr, "call_bench_win: %d requests failed\n", run.failures);
    return 3;
  }
  PrintResources("at the end:");
  printf("first request %.2f ms\n", run.first);
  printf("median %.2f ms per request (%d requests)\n", Median(run.times, run.requests),
         run.requests);
  free(run.times);
  return 0;
}
