// A host that ends the process with exit() while its threads still hold what the library gave
// them: two threads are inside a call (a TLS handshake with a server that never answers), three
// are idle with a connection to the nginx peer, and so is the thread that loaded the library (and
// owns the traffic log). The library must release nothing of theirs at exit and the process must
// end normally, with exit code 0.
//
// Run by unload_e2e_test (UnloadTest.ExitWhileThreadsAreInCallsOrIdle) in a directory that holds
// the endpoint file; the log ("Call Logs.txt") is left there for the test to read. Other exit
// codes: 2 nothing to test with, 3 the threads did not get where they should.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "support/host_library.h"
#include "support/peers.h"
#include "support/test_socket.h"

#if defined(__SANITIZE_THREAD__)
#include <openssl/crypto.h>
#endif

// Under AddressSanitizer, no leak check at the end: the process ends with threads that hold what
// the library gave them, on purpose. (And LeakSanitizer of GCC 12 on glibc 2.36 crashes at exit,
// "Tracer caught signal 11", scanning the dynamic TLS of live threads that used a thread_local
// of a library loaded with dlopen.)
// NOLINTNEXTLINE(readability-identifier-naming)
extern "C" const char* __lsan_default_options();
// NOLINTNEXTLINE(readability-identifier-naming): the name the sanitizer run-time looks for
extern "C" const char* __lsan_default_options() {
  return "detect_leaks=0";
}

namespace {

using tessora::test::HostLibrary;

constexpr int kIdleThreads = 3;
constexpr int kThreadsInCall = 2;
constexpr auto kWaitLimit = std::chrono::seconds(60);

// Never destroyed: threads still use it while the process exits.
struct Shared {
  std::mutex lock;
  std::condition_variable changed;
  HostLibrary* library = nullptr;
  int called = 0;
  std::string apiEnvironment;
  std::string silentEnvironment;
};
Shared& State() {
  static auto* state = new Shared;
  return *state;
}

void Call(const HostLibrary& library, const std::string& environment) {
  library.configureService("client", "secret", environment.c_str(), "endpoints.json", "");
  char* result = nullptr;
  library.tessoraNetTry("JSON", "", "", "", &result);
  library.tessoraNetFree(result);
}

// Makes a call that is answered, says so, then stays idle until the process ends.
void CallThenIdle(const HostLibrary& library) {
  Shared& s = State();
  Call(library, s.apiEnvironment);
  std::unique_lock<std::mutex> guard(s.lock);
  ++s.called;
  s.changed.notify_all();
  s.changed.wait(guard, [] { return false; });
}

}  // namespace

int main() {
#if defined(__SANITIZE_THREAD__)
  // OpenSSL's own clean-up at exit frees its global state while the threads here are inside its
  // calls, which ThreadSanitizer reports (an OpenSSL matter for any host that exits so). A host
  // can turn that clean-up off; here it is, so that what the library does at exit is checked.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
#endif
  Shared& s = State();
  const int apiPort = tessora::test::PeerPort("nginx");
  int silentPort = 0;
  const tessora::platform::SocketHandle listener =
      tessora::test::ListenOnLoopback(silentPort, kThreadsInCall);
  if (apiPort == 0 || listener == tessora::platform::kNoSocket) return 2;
  s.apiEnvironment = "127.0.0.1:" + std::to_string(apiPort) + "/";
  s.silentEnvironment = "127.0.0.1:" + std::to_string(silentPort) + "/";

  std::thread([] {
    auto* library = new HostLibrary;  // loaded on this thread, which so gets the log
    {
      std::lock_guard<std::mutex> guard(State().lock);
      State().library = library;
      State().changed.notify_all();
    }
    if (library->Loaded()) CallThenIdle(*library);
  }).detach();
  HostLibrary* library = nullptr;
  {
    std::unique_lock<std::mutex> guard(s.lock);
    s.changed.wait(guard, [&] { return s.library != nullptr; });
    library = s.library;
  }
  if (!library->Loaded()) return 2;
  for (int i = 0; i < kIdleThreads; ++i)
    std::thread([library] { CallThenIdle(*library); }).detach();
  {
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.changed.wait_for(guard, kWaitLimit, [&] { return s.called == kIdleThreads + 1; })) {
      return 3;
    }
  }
  // Each of these threads stays inside its call, waiting for the server's TLS answer. The process
  // ends once both have sent their first handshake message: the threads are then in that wait, as
  // a call that is under way most of the time is, not in the middle of making the connection.
  // (Wine, unlike Windows, waits for ever at exit on a lock that a thread it stopped was holding,
  // such as the process heap's.)
  for (int i = 0; i < kThreadsInCall; ++i)
    std::thread([library] { Call(*library, State().silentEnvironment); }).detach();
  for (int i = 0; i < kThreadsInCall; ++i) {
    constexpr int kWaitMs = 10000;
    const tessora::platform::SocketHandle connection =
        tessora::test::AcceptConnection(listener, kWaitMs);
    char first = 0;
    if (connection == tessora::platform::kNoSocket ||
        !tessora::platform::WaitReadable(connection, kWaitMs) ||
        tessora::platform::SocketReceive(connection, &first, 1) != 1) {
      return 3;
    }
  }
  // What a thread does between its send and its wait (a few instructions) is done by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::fflush(stdout);
  std::exit(0);
}
