// The failure path under load: host threads call TessoraNet for an operation that fails, again and
// again, catching the failure as a host does, while a watchdog makes sure no call hangs.
//
//   failure_stress [--calls N] [--threads N] [--library PATH] [--dir DIR] [--hang-ms H]
//                  [--limit-seconds S] [--debugger-seconds D] [--stall-thread T]
//
// --calls            calls in all, shared out evenly among the threads (default 10000)
// --threads          calling threads (default 4)
// --library          the library to load (default: the one next to this program)
// --dir              the directory to work in: the endpoint file (default: the current one)
// --hang-ms          a call still running after this long hangs (default 5000)
// --limit-seconds    the whole run may take this long (default 600)
// --debugger-seconds how long the debugger may take over its backtraces on a hang (default 30)
// --stall-thread     thread T, in its first call, stalls in the host instead of calling the
//                    library: shows what the watchdog prints (default: none)
//
// Two rounds, each with half the calls. In the first the endpoint file does not exist: every call
// fails with "Cannot open file ...", and the process never keeps a catalogue. In the second the
// file exists and lacks the operation: the first call builds the process's catalogue, and every
// call fails with "Problem in endpoint". Each round starts its own threads, each configured with
// ConfigureService, so threads start and end while the library is loaded. Every failure is caught
// with the library's host-side catch (a structured exception on Windows, a C++ exception on POSIX)
// and its message checked.
//
// A watchdog looks at each thread's call in progress every 50 ms. A call that has run longer than
// --hang-ms, or a run longer than --limit-seconds, is a hang: the watchdog prints the thread, its
// number, the call and its duration, then every thread's state (and the debugger's backtraces
// where one can be started), and ends the process with 3. Exit codes: 0 all calls failed as they
// must, in time; 1 a call returned or failed with the wrong message; 2 bad options or no library;
// 3 a hang.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TessoraNet.h"
#include "host_loader.h"
#include "thread_dump.h"

namespace tessora::stress {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kEndpointFile[] = "stress-endpoints.json";
constexpr char kMissingFile[] = "stress-no-such-endpoints.json";
constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},
  "CHARGES": {"route": "/v1/charges", "method": "GET"}
}})";
constexpr char kUnknownOperation[] = "NO_SUCH_OPERATION";
// No server listens there; the failing calls never get as far as connecting.
constexpr char kEnvironment[] = "127.0.0.1:9/";

struct Options {
  int calls = 10000;
  int threads = 4;
  std::string library;
  std::string dir = ".";
  int hangMs = 5000;
  int limitSeconds = 600;
  int debuggerSeconds = 30;
  int stallThread = -1;
};

struct Round {
  const char* name;
  std::string endpointFile;
  std::string expected;  // the text the failure's message must hold
};

// What each calling thread is doing, for the watchdog: plain atomics, read without a lock.
struct Slot {
  std::atomic<long long> callStart{0};  // Clock ticks; 0 between calls
  std::atomic<int> call{0};             // the number of the thread's call in progress or last made
  std::atomic<unsigned long> systemId{0};
};

class Watch {
 public:
  Watch(int threads, std::chrono::milliseconds hang) : slots_(threads), hang_(hang) {}
  Slot& operator[](int thread) { return slots_[static_cast<std::size_t>(thread)]; }
  void SetRound(const char* name) { round_.store(name); }
  // The first thread whose call has run longer than the hang time, described; nothing otherwise.
  std::optional<std::string> Overdue() const {
    const long long now = Clock::now().time_since_epoch().count();
    for (std::size_t n = 0; n < slots_.size(); ++n) {
      const long long start = slots_[n].callStart.load();
      if (start == 0) continue;
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(now - start));
      if (ms > hang_) return Describe(n, ms.count());
    }
    return std::nullopt;
  }
  // Every thread that is inside a call, described.
  std::string InCalls() const {
    const long long now = Clock::now().time_since_epoch().count();
    std::string text;
    for (std::size_t n = 0; n < slots_.size(); ++n) {
      const long long start = slots_[n].callStart.load();
      if (start == 0) continue;
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(now - start));
      text += "  " + Describe(n, ms.count()) + "\n";
    }
    return text.empty() ? "  no thread is inside a call\n" : text;
  }

 private:
  std::string Describe(std::size_t n, long long ms) const {
    return "thread " + std::to_string(n) + " (system id " +
           std::to_string(slots_[n].systemId.load()) + "), round " + round_.load() + ", call " +
           std::to_string(slots_[n].call.load()) + ": TessoraNet(\"" + kUnknownOperation +
           "\") has run for " + std::to_string(ms) + " ms";
  }
  std::vector<Slot> slots_;
  std::chrono::milliseconds hang_;
  std::atomic<const char*> round_{"-"};
};

// Call times of one round, in microseconds.
class Times {
 public:
  void Add(long long us) {
    std::lock_guard<std::mutex> guard(lock_);
    values_.push_back(us);
  }
  std::string Summary() {
    std::lock_guard<std::mutex> guard(lock_);
    if (values_.empty()) return "no calls";
    std::sort(values_.begin(), values_.end());
    auto at = [&](double q) {
      const auto i = static_cast<std::size_t>(q * static_cast<double>(values_.size() - 1));
      return static_cast<double>(values_[i]) / 1000.0;
    };
    char text[160];
    std::snprintf(text, sizeof text, "p50 %.3f ms, p99 %.3f ms, max %.3f ms", at(0.5), at(0.99),
                  at(1.0));
    return text;
  }

 private:
  std::mutex lock_;
  std::vector<long long> values_;
};

struct Exports {
  decltype(&::ConfigureService) configureService = nullptr;
  decltype(&::TessoraNet) tessoraNet = nullptr;
  decltype(&::TessoraNetFree) tessoraNetFree = nullptr;
};

std::atomic<int> gWrong{0};
std::mutex gReportLock;

void ReportWrong(int thread, int call, const std::string& what) {
  if (gWrong.fetch_add(1) >= 10) return;
  std::lock_guard<std::mutex> guard(gReportLock);
  std::printf("failure_stress: thread %d, call %d: %s\n", thread, call, what.c_str());
  std::fflush(nullptr);
}

void CallingThread(int number, int calls, const Round& round, const Exports& exports,
                   const Options& options, Watch& watch, Times& times) {
  Slot& slot = watch[number];
  slot.systemId.store(CurrentThreadId());
  const std::string id = "stress-client-" + std::to_string(number);
  exports.configureService(id.c_str(), "stress-secret", kEnvironment, round.endpointFile.c_str(),
                           "");
  for (int call = 1; call <= calls; ++call) {
    slot.call.store(call);
    const Clock::time_point start = Clock::now();
    slot.callStart.store(start.time_since_epoch().count());
    std::optional<std::string> failure;
    if (number == options.stallThread && call == 1) {
      // Stands for a call that never returns, so that the watchdog's report can be seen.
      std::this_thread::sleep_for(std::chrono::hours(1));
    } else {
      failure = host::CatchHostFailure([&] {
        char* result = exports.tessoraNet(kUnknownOperation, "", "", "");
        exports.tessoraNetFree(result);
      });
    }
    slot.callStart.store(0);
    times.Add(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    if (!failure) {
      ReportWrong(number, call, "the call returned instead of failing");
    } else if (failure->find(round.expected) == std::string::npos) {
      ReportWrong(number, call,
                  "the failure says \"" + *failure + "\", not \"" + round.expected + "\"");
    }
  }
}

[[noreturn]] void ReportHang(const std::string& what, const Watch& watch, const Options& options) {
  std::printf("failure_stress: FAILED, a call hangs: %s\nthreads inside a call:\n%s", what.c_str(),
              watch.InCalls().c_str());
  std::fflush(nullptr);
  DumpThreads(options.debuggerSeconds);
  std::printf("failure_stress: ended after the hang\n");
  std::fflush(nullptr);
  std::_Exit(3);
}

void Watchdog(const Watch& watch, const Options& options, Clock::time_point started,
              const std::atomic<bool>& done) {
  const auto limit = std::chrono::seconds(options.limitSeconds);
  while (!done.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (const std::optional<std::string> overdue = watch.Overdue()) {
      ReportHang(*overdue, watch, options);
    }
    if (Clock::now() - started > limit) {
      ReportHang("the run has taken longer than " + std::to_string(options.limitSeconds) + " s",
                 watch, options);
    }
  }
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.library = host::LibraryNextToProgram();
  using Setter = std::function<void(const std::string&)>;
  const std::map<std::string, Setter> valued = {
      {"--calls", [&](const std::string& v) { options.calls = std::stoi(v); }},
      {"--threads", [&](const std::string& v) { options.threads = std::stoi(v); }},
      {"--library", [&](const std::string& v) { options.library = v; }},
      {"--dir", [&](const std::string& v) { options.dir = v; }},
      {"--hang-ms", [&](const std::string& v) { options.hangMs = std::stoi(v); }},
      {"--limit-seconds", [&](const std::string& v) { options.limitSeconds = std::stoi(v); }},
      {"--debugger-seconds", [&](const std::string& v) { options.debuggerSeconds = std::stoi(v); }},
      {"--stall-thread", [&](const std::string& v) { options.stallThread = std::stoi(v); }},
  };
  for (int i = 1; i < argc; ++i) {
    const auto setter = valued.find(argv[i]);
    if (setter == valued.end() || i + 1 >= argc) {
      std::fprintf(stderr, "failure_stress: unknown option or missing value: %s\n", argv[i]);
      return std::nullopt;
    }
    try {
      setter->second(argv[++i]);
    } catch (const std::exception&) {
      std::fprintf(stderr, "failure_stress: %s: not valid: %s\n", argv[i - 1], argv[i]);
      return std::nullopt;
    }
  }
  if (options.calls < 2 || options.threads < 1 || options.threads > 64 || options.hangMs < 1 ||
      options.limitSeconds < 1 || options.debuggerSeconds < 1) {
    std::fprintf(stderr,
                 "failure_stress: --calls must be at least 2, --threads 1 to 64, the times at "
                 "least 1\n");
    return std::nullopt;
  }
  return options;
}

int Run(int argc, char** argv) {
  const std::optional<Options> parsed = ParseOptions(argc, argv);
  if (!parsed) return 2;
  const Options& options = *parsed;
  std::error_code error;
  fs::current_path(options.dir, error);
  if (error) {
    std::fprintf(stderr, "failure_stress: cannot work in %s: %s\n", options.dir.c_str(),
                 error.message().c_str());
    return 2;
  }
  const std::string folder = fs::current_path().string();
  fs::remove(kMissingFile, error);
  std::ofstream(kEndpointFile, std::ios::binary | std::ios::trunc) << kEndpoints;
  const host::Library library(options.library);
  if (!library.Loaded()) {
    std::fprintf(stderr, "failure_stress: cannot load %s: %s\n", options.library.c_str(),
                 library.Error().c_str());
    return 2;
  }
  Exports exports;
  exports.configureService =
      reinterpret_cast<decltype(exports.configureService)>(library.Symbol("ConfigureService"));
  exports.tessoraNet = reinterpret_cast<decltype(exports.tessoraNet)>(library.Symbol("TessoraNet"));
  exports.tessoraNetFree =
      reinterpret_cast<decltype(exports.tessoraNetFree)>(library.Symbol("TessoraNetFree"));
  if (exports.configureService == nullptr || exports.tessoraNet == nullptr ||
      exports.tessoraNetFree == nullptr) {
    std::fprintf(stderr, "failure_stress: %s lacks an export\n", options.library.c_str());
    return 2;
  }
  const Round rounds[] = {
      {"missing-file", (fs::path(folder) / kMissingFile).string(), "Cannot open file"},
      {"unknown-operation", (fs::path(folder) / kEndpointFile).string(), "Problem in endpoint"},
  };
  std::printf(
      "failure_stress: %d calls on %d threads, a call hangs after %d ms, the run after %d s\n",
      options.calls, options.threads, options.hangMs, options.limitSeconds);
  std::fflush(nullptr);

  Watch watch(options.threads, std::chrono::milliseconds(options.hangMs));
  std::atomic<bool> done{false};
  const Clock::time_point started = Clock::now();
  std::thread watchdog(Watchdog, std::cref(watch), std::cref(options), started, std::cref(done));
  const int roundCount = static_cast<int>(std::size(rounds));
  for (int r = 0; r < roundCount; ++r) {
    const Round& round = rounds[r];
    watch.SetRound(round.name);
    // This round's share of the calls, spread as evenly as they go over the threads.
    const int roundCalls = options.calls / roundCount + (r < options.calls % roundCount ? 1 : 0);
    Times times;
    const Clock::time_point roundStart = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < options.threads; ++t) {
      const int calls = roundCalls / options.threads + (t < roundCalls % options.threads ? 1 : 0);
      threads.emplace_back(CallingThread, t, calls, std::cref(round), std::cref(exports),
                           std::cref(options), std::ref(watch), std::ref(times));
    }
    for (std::thread& thread : threads)
      thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - roundStart).count();
    std::printf("failure_stress: round %s: %d calls in %.2f s (%.0f calls/s); %s\n", round.name,
                roundCalls, seconds, roundCalls / seconds, times.Summary().c_str());
    std::fflush(nullptr);
  }
  done.store(true);
  watchdog.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const int wrong = gWrong.load();
  std::printf("failure_stress: %s: %d calls in %.2f s, %d wrong, no hang\n",
              wrong == 0 ? "passed" : "FAILED", options.calls, seconds, wrong);
  return wrong == 0 ? 0 : 1;
}

}  // namespace
}  // namespace tessora::stress

int main(int argc, char** argv) {
  return tessora::stress::Run(argc, argv);
}
