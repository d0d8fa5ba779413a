/*
 * The library's failure without the library: raises the structured exception by which a failure
 * leaves a TessoraNet export (code 0xE054534E, non-continuable, its one parameter pointing to an
 * ANSI message) from the main thread, and says how long the process takes to end.
 *
 *   bare_raise              nobody catches it: the system's unhandled-exception path ends the
 *                           process (under Wine that path first starts the debugger named in
 *                           AeDebug, winedbg --auto, which prints its crash report: the process
 *                           ends only when it is done, seconds later)
 *   bare_raise --filter     an unhandled-exception filter (SetUnhandledExceptionFilter) prints the
 *                           message and lets the process end with the exception's code at once
 *
 * It prints "raising" just before the raise; the time from there to the end of the process is the
 * end's cost (measure it from outside, for instance with `time wine bare_raise.exe`).
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#define FAILURE_CODE 0xE054534EUL

static LONG WINAPI PrintAndEnd(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != FAILURE_CODE) return EXCEPTION_CONTINUE_SEARCH;
  printf("unhandled failure: %s\n",
         record->NumberParameters >= 1 ? (const char*)record->ExceptionInformation[0] : "");
  fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER; /* the process ends with the exception's code */
}

int main(int argc, char** argv) {
  static const char message[] = "Problem in endpoint";
  ULONG_PTR arguments[1];
  if (argc == 2 && strcmp(argv[1], "--filter") == 0) {
    SetUnhandledExceptionFilter(PrintAndEnd);
  } else if (argc != 1) {
    fprintf(stderr, "usage: bare_raise [--filter]\n");
    return 2;
  }
  arguments[0] = (ULONG_PTR)message;
  printf("raising\n");
  fflush(stdout);
  RaiseException(FAILURE_CODE, EXCEPTION_NONCONTINUABLE, 1, arguments);
  printf("not reached\n");
  return 1;
}
