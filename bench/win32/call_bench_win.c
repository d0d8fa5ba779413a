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
 * SSL_CERT_FILE. A failure inside the DLL (a structured exception) ends the program.
 * The last line reads "median <ms> ms per request" (bench/run-call-bench reads it).
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "TessoraNet.h"

typedef void(TESSORANET_CALL* ConfigureServiceFn)(const char*, const char*, const char*,
                                                  const char*, const char*);
typedef char*(TESSORANET_CALL* TessoraNetFn)(const char*, const char*, const char*, const char*);

static const char kEndpointFile[] = "call-bench-endpoints.json";
static const char kEndpoints[] =
    "{\"ENDPOINTS\": {\"JSON\": {\"route\": \"/v1/json\", \"method\": \"GET\"}}}";
/* The answer of the route (tests/support/peers.py) starts so in every ANSI code page. */
static const char kExpectedStart[] = "{\"name\":\"Jos";

struct Run {
  ConfigureServiceFn configureService;
  TessoraNetFn tessoraNet;
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

static DWORD WINAPI Worker(LPVOID parameter) {
  struct Run* run = (struct Run*)parameter;
  int i;
  run->configureService("bench-client", "bench-secret", run->environment, kEndpointFile, "");
  for (i = -1; i < run->requests; ++i) {
    const double start = Now();
    /* The result buffer is the library's and is never released. */
    const char* result = run->tessoraNet("JSON", "", "", "");
    const double ms = Now() - start;
    if (strncmp(result, kExpectedStart, sizeof kExpectedStart - 1) != 0) {
      if (run->failures++ == 0) fprintf(stderr, "call_bench_win: answer \"%s\"\n", result);
    }
    if (i < 0) {
      run->first = ms;
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
  run.times = (double*)malloc(sizeof *run.times * (size_t)run.requests);
  if (run.times == NULL) return 2;

  thread = CreateThread(NULL, 0, Worker, &run, 0, NULL);
  if (thread == NULL) return 2;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  if (run.failures > 0) {
    fprintf(stderr, "call_bench_win: %d requests failed\n", run.failures);
    return 3;
  }
  printf("first request %.2f ms\n", run.first);
  printf("median %.2f ms per request (%d requests)\n", Median(run.times, run.requests),
         run.requests);
  free(run.times);
  return 0;
}
