// Windows: each thread of the process suspended for a moment, its registers read and (x86-64) its
// stack unwound through the system's unwind tables; then, under Wine, winedbg's backtraces of the
// same threads. Nothing is allocated while a thread is suspended: it may hold the heap's lock.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "thread_dump.h"

namespace tessora::stress {

namespace {

constexpr int kMaxThreads = 64;
constexpr int kMaxFrames = 24;

struct ThreadState {
  DWORD id = 0;
  bool read = false;
  int frames = 0;
  DWORD64 pc[kMaxFrames] = {};
};

// The frames of a suspended thread, from its context: the instruction pointer, then (x86-64) each
// caller the unwind tables lead to. 32-bit code has no such tables; there only the first is read.
int Frames(CONTEXT& context, DWORD64* pc) {
#if defined(__x86_64__)
  int n = 0;
  while (n < kMaxFrames && context.Rip != 0) {
    pc[n++] = context.Rip;
    DWORD64 imageBase = 0;
    RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (function == nullptr) {
      // A leaf function: the return address is on top of the stack.
      if (context.Rsp == 0) break;
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
      continue;
    }
    void* handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                     &establisher, nullptr);
  }
  return n;
#else
  pc[0] = context.Eip;
  return 1;
#endif
}

void PrintAddress(DWORD64 address) {
  HMODULE module = nullptr;
  char name[MAX_PATH] = "?";
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(address)), &module) &&
      GetModuleFileNameA(module, name, sizeof name) > 0) {
    const char* slash = std::strrchr(name, '\\');
    std::printf("%s+0x%llx", slash != nullptr ? slash + 1 : name,
                static_cast<unsigned long long>(address - reinterpret_cast<ULONG_PTR>(module)));
  } else {
    std::printf("0x%llx", static_cast<unsigned long long>(address));
  }
}

// winedbg, when the process runs under Wine: attaches, prints the backtrace of each thread in
// `states`, detaches.
void RunWinedbg(const ThreadState* states, int count, int seconds) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return;
  char commands[MAX_PATH];
  char folder[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0) return;
  std::snprintf(commands, sizeof commands, "%sstress-winedbg-%lu.txt", folder,
                GetCurrentProcessId());
  FILE* file = std::fopen(commands, "w");
  if (file == nullptr) return;
  std::fprintf(file, "attach 0x%lx\n", GetCurrentProcessId());
  for (int i = 0; i < count; ++i)
    std::fprintf(file, "backtrace 0x%lx\n", states[i].id);
  std::fprintf(file, "detach\nquit\n");
  std::fclose(file);
  char line[2 * MAX_PATH];
  std::snprintf(line, sizeof line, "winedbg --file \"%s\"", commands);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::printf("running: %s\n", line);
  std::fflush(nullptr);
  if (CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0)
      std::printf("winedbg did not finish within %d s\n", seconds);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    std::printf("winedbg could not be started (error %lu)\n", GetLastError());
  }
  DeleteFileA(commands);
}

}  // namespace

unsigned long CurrentThreadId() {
  return GetCurrentThreadId();
}

void DumpThreads(int debuggerSeconds) {
  static ThreadState states[kMaxThreads];
  int count = 0;
  const DWORD self = GetCurrentThreadId();
  const DWORD pid = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more && count < kMaxThreads;
         more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID != pid || entry.th32ThreadID == self) continue;
      ThreadState& state = states[count++];
      state.id = entry.th32ThreadID;
      HANDLE thread =
          OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                     entry.th32ThreadID);
      if (thread == nullptr) continue;
      if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
        alignas(16) CONTEXT context;
        std::memset(&context, 0, sizeof context);
        context.ContextFlags = CONTEXT_FULL;
        if (GetThreadContext(thread, &context)) {
          state.read = true;
          state.frames = Frames(context, state.pc);
        }
        ResumeThread(thread);
      }
      CloseHandle(thread);
    }
    CloseHandle(snapshot);
  }
  std::printf("threads of process %lu (the watchdog is %lu):\n", pid, self);
  for (int i = 0; i < count; ++i) {
    std::printf("  thread %lu:", states[i].id);
    if (!states[i].read) std::printf(" (its context could not be read)");
    for (int f = 0; f < states[i].frames; ++f) {
      std::printf(f == 0 ? " " : " < ");
      PrintAddress(states[i].pc[f]);
    }
    std::printf("\n");
  }
  std::fflush(nullptr);
  RunWinedbg(states, count, debuggerSeconds);
  std::fflush(nullptr);
}

}  // namespace tessora::stress
