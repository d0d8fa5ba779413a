// Unloading the library while host threads that used it are ending, or are still alive: the host
// survives, and what those threads held is released, round after round. Each test loads and
// unloads the library 200 times against the nginx peer and counts the process's descriptors
// (Linux: /proc/self/fd) or handles (Windows) before and after.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_loader.h"
#include "support/host_library.h"
#include "support/latch.h"
#include "support/peers.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

namespace tessora::test {
namespace {

constexpr char kEndpoints[] = R"({"ENDPOINTS": {"JSON": {"route": "/v1/json", "method": "GET"}}})";
constexpr int kRounds = 200;
constexpr int kThreads = 4;
constexpr int kCallsPerThread = 2;

#if defined(_WIN32)
// The process's handles by their type ("File", "Event", "Thread", ...), from the system's list of
// all handles. (Wine's GetProcessHandleCount always reports 0.)
std::map<std::wstring, std::size_t> HandlesByType() {
  struct Entry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
  };
  struct List {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  struct TypeName {
    USHORT length;
    USHORT maximumLength;
    wchar_t* buffer;
  };
  constexpr ULONG kSystemExtendedHandleInformation = 64;
  constexpr ULONG kObjectTypeInformation = 2;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004UL);
  using QuerySystem = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto querySystem = reinterpret_cast<QuerySystem>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
  const auto queryObject = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
  std::map<std::wstring, std::size_t> counts;
  if (querySystem == nullptr || queryObject == nullptr) return counts;
  for (ULONG size = 1 << 16; size <= (1UL << 30); size *= 2) {
    std::vector<unsigned char> buffer(size);
    ULONG needed = 0;
    const LONG status = querySystem(kSystemExtendedHandleInformation, buffer.data(), size, &needed);
    if (status == kInfoLengthMismatch) continue;
    if (status != 0) return counts;
    const auto* list = reinterpret_cast<const List*>(buffer.data());
    for (ULONG_PTR i = 0; i < list->count; ++i) {
      if (list->entries[i].processId != GetCurrentProcessId()) continue;
      alignas(8) unsigned char type[512] = {};
      const auto handle = reinterpret_cast<HANDLE>(list->entries[i].handle);
      if (queryObject(handle, kObjectTypeInformation, type, sizeof type, nullptr) != 0) continue;
      const auto* name = reinterpret_cast<const TypeName*>(type);
      ++counts[std::wstring(name->buffer, name->length / sizeof(wchar_t))];
    }
    break;
  }
  return counts;
}
#endif

// What the process holds open: descriptors on Linux; on Windows handles of files and sockets
// (both of the type "File"), as the handles of the C++ run-time's per-thread records are not the
// library's (see docs/platform.md).
std::size_t OpenHandles() {
#if defined(_WIN32)
  return HandlesByType()[L"File"];
#else
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
#endif
}

// What RunProgramNextToThis gives back for a program that had not ended after kProgramLimit (it
// is then stopped): a hang of its own, told apart from the test's time-out.
constexpr int kProgramHung = -2;
constexpr auto kProgramLimit = std::chrono::seconds(60);

// Runs a program next to this one, without arguments, in the current directory; its exit code,
// -1 when it could not be run or did not end by itself (a signal), or kProgramHung.
int RunProgramNextToThis(const std::string& name) {
#if defined(_WIN32)
  std::string command = host::ProgramDirectory() + "\\" + name + ".exe";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  const auto limitMs = std::chrono::duration_cast<std::chrono::milliseconds>(kProgramLimit);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limitMs.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return kProgramHung;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
#else
  std::string path = host::ProgramDirectory() + "/" + name;
  char* argv[] = {path.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kProgramLimit;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) break;
    if (ended == -1) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return kProgramHung;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

class UnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir_.Path() / "endpoints.json", kEndpoints);
    const int port = PeerPort("nginx");
    ASSERT_NE(port, 0) << "the nginx peer is not running";
    environment_ = "127.0.0.1:" + std::to_string(port) + "/";
  }

  // A few calls on the calling thread, as a host thread makes them; true when nginx answered all.
  bool MakeCalls(const HostLibrary& library) const {
    library.configureService("client", "secret", environment_.c_str(), "endpoints.json", "");
    bool answered = true;
    for (int i = 0; i < kCallsPerThread; ++i) {
      char* result = nullptr;
      library.tessoraNetTry("JSON", "", "", "", &result);
      if (result == nullptr || std::string(result).rfind(R"({"name":"Jos)", 0) != 0) {
        answered = false;
      }
      library.tessoraNetFree(result);
    }
    return answered;
  }

  TempDir dir_;
  ScopedCurrentDir cwd_{dir_.Path()};
  std::string environment_;
};

// Threads that the host detaches make their calls and say so; the host then unloads the library
// while they are still ending, which runs their end-of-thread clean-up at the same time.
TEST_F(UnloadTest, DetachedThreadsThatAreEndingWhileTheLibraryUnloads) {
  std::size_t before = 0;
  std::atomic<int> unanswered{0};
  for (int round = 0; round < kRounds; ++round) {
    auto library = std::make_unique<HostLibrary>();
    ASSERT_TRUE(library->Loaded());
    // Shared, so that a detached thread may still be leaving CountDown when the round ends.
    auto done = std::make_shared<Latch>(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      std::thread([this, done, &unanswered, lib = library.get()] {
        if (!MakeCalls(*lib)) ++unanswered;
        done->CountDown();
      }).detach();
    }
    done->Wait();
    library.reset();
    // The first round has loaded what stays for the process (the TLS library among it).
    if (round == 0) before = OpenHandles();
  }
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(OpenHandles(), before);
}

// Threads still alive when the library unloads, not inside a call: their settings are released,
// and with them their connections.
TEST_F(UnloadTest, LiveThreadsHaveTheirConnectionsClosedAtUnload) {
  std::size_t before = 0;
  std::atomic<int> unanswered{0};
  for (int round = 0; round < kRounds; ++round) {
    auto library = std::make_unique<HostLibrary>();
    ASSERT_TRUE(library->Loaded());
    Latch called(kThreads);
    Latch unloaded(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, lib = library.get()] {
        if (!MakeCalls(*lib)) ++unanswered;
        called.CountDown();
        unloaded.Wait();
      });
    }
    called.Wait();
    library.reset();
    unloaded.CountDown();
    for (std::thread& thread : threads)
      thread.join();
    if (round == 0) before = OpenHandles();
  }
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(OpenHandles(), before);
}

// A host that unloads the library right after a call whose host name was not found (the resolver
// answers at once) and loads it again gets a fresh library: no token, the catalogue read anew.
TEST_F(UnloadTest, AnUnloadRightAfterANameNotFoundUnloadsTheLibrary) {
#if defined(__SANITIZE_THREAD__)
  // The bounded lookup uses glibc's asynchronous lookup, whose threads glibc starts itself, unseen
  // by ThreadSanitizer: their first allocation crashes its runtime.
  GTEST_SKIP() << "no name lookups under ThreadSanitizer";
#endif
  WriteFileBytes(dir_.Path() / "endpoints.json",
                 R"({"ENDPOINTS": {"AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},)"
                 R"( "JSON": {"route": "/v1/json", "method": "GET"}}})");
  constexpr int kLoads = 20;
  for (int round = 0; round < kLoads; ++round) {
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.tessoraNetTokenExpired(), 1) << "round " << round;
    library.configureService("client", "secret", environment_.c_str(), "endpoints.json", "");
    char* result = nullptr;
    library.tessoraNetTry("AUTHORIZE", "", "", "", &result);
    library.tessoraNetFree(result);
    ASSERT_EQ(library.tessoraNetTokenExpired(), 0) << "round " << round;
    library.configureService("client", "secret", "no-such-host..invalid/", "endpoints.json", "");
    result = nullptr;
    EXPECT_EQ(library.tessoraNetTry("JSON", "", "", "", &result), 1);
    EXPECT_STREQ(result, "");  // a request that could not be made
    library.tessoraNetFree(result);
  }
}

// The process ends (exit()) while threads hold connections: some inside a call, some idle, among
// them the thread that loaded the library. Nothing of theirs is released: the process ends
// normally, and the loading thread's log records its connection but no disconnection.
TEST_F(UnloadTest, ExitWhileThreadsAreInCallsOrIdle) {
  ASSERT_EQ(RunProgramNextToThis("unload_exit_host"), 0)
      << "2: no peer to call, 3: the threads did not get into their calls, -2: it did not end";
  const std::string log = ReadFileBytes(dir_.Path() / "Call Logs.txt");
  EXPECT_NE(log.find("Stat Connected."), std::string::npos) << log;
  EXPECT_EQ(log.find("Stat Disconnected."), std::string::npos) << log;
}

}  // namespace
}  // namespace tessora::test
