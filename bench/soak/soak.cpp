// The soak: threads call the library through its exports for a set time against a loopback mix of
// good and failing servers, each thread checking every result against what its server must give,
// while the process's memory, handles and threads are watched.
//
//   soak --peers FILE [--seconds N] [--threads N] [--library PATH] [--dir DIR]
//        [--timeout-ms T] [--margin-ms M] [--hang-ms H] [--only CALLS]
//
// --peers      NAME=PORT lines for the servers on 127.0.0.1 (bench/soak/run-soak writes them):
//              nginx, proxy (tinyproxy), authproxy (tinyproxy with basic authentication),
//              nginx_expired (an expired certificate), reset and stall (soak_peers)
// --seconds    how long the threads call (default 600)
// --threads    calling threads (default 8); the thread that loads the library is one of them, so
//              the traffic log is written too
// --library    the library to load (default: the soak's build of it, soak-library/ next to this
//              program, whose socket time-out is --timeout-ms)
// --dir        the directory to work in: the endpoint file and "Call Logs.txt" (default: the
//              current directory)
// --timeout-ms the library's socket time-out (default: the soak build's)
// --margin-ms  how much longer than the time-out any call may take (default 3000)
// --hang-ms    a call still running after this long hangs: the soak says which and ends with 3
//              (default ten times the time-out and the margin, at least 60000)
// --only       a comma-separated list of the calls below to make instead of the whole mix
//
// Each thread configures itself with its own client id, secret and partner token, and runs
// through the mix (in an order rotated by its number) again and again:
//   json, create, missing, authorize   nginx: 200, 201, 404 and a token (with
//                                      TessoraNetGetInstanceData and TessoraNetTokenExpired)
//   tunnel                             nginx through tinyproxy: 200
//   reset                              the connection reset after the request
//   stall                              no answer: the call ends after the socket time-out
//   expired                            the certificate has expired: no handshake
//   refused_tunnel                     tinyproxy with authentication, no credentials sent: 407
//   unknown                            an operation missing from the endpoint file: a failure
// A thread's passes through the mix go through TessoraNet (its failure caught as a host catches
// it) and TessoraNetTry in turn, so each thread makes every call both ways. Every answer's text is
// compared exactly, as are TessoraNetLastStatus and TessoraNetLastError; every result is released
// with TessoraNetFree.
//
// At each minute (each tenth of the run when it is shorter than ten minutes) it prints the calls
// per second, the call times (p50, p90, p99, max), memory, handles and threads. It exits with 1
// when a result was wrong, a call exceeded its bound, or memory, handles or threads grew beyond
// their tolerance after the first such interval (see Verdict()); with 2 when it could not start;
// with 3 when a call has not returned long after its bound (see Watchdog): a hang is reported with
// the thread and the call, and the soak ends instead of waiting for it.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TessoraNet.h"
#include "footprint.h"
#include "host_loader.h"

namespace tessora::soak {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kEndpointFile[] = "endpoints.json";
constexpr char kEndpoints[] = R"({"ENDPOINTS": {
  "AUTHORIZE": {"route": "/v1/oauth/token", "method": "POST"},
  "JSON": {"route": "/v1/json", "method": "GET"},
  "CREATE": {"route": "/v1/created", "method": "POST"},
  "MISSING": {"route": "/v1/:what", "method": "DELETE"}
}})";
constexpr char kUnknownOperation[] = "NO_SUCH_OPERATION";

// nginx's answers (tests/support/peers.py), as the host receives them: the ANSI code page is
// UTF-8 on Linux (the C locale counts as UTF-8) and 1252 under Wine.
#if defined(_WIN32)
constexpr char kJsonAnswer[] = "{\"name\":\"Jos\xE9\"}";
#else
constexpr char kJsonAnswer[] = "{\"name\":\"Jos\xC3\xA9\"}";
#endif
constexpr char kCreatedAnswer[] = R"({"created":true})";
constexpr char kMissingAnswer[] = R"({"error":"not_found"})";
constexpr char kTokenAnswer[] =
    R"({"access_token":"nginx-token","token_type":"Bearer","expires_in":3600})";
constexpr char kToken[] = "nginx-token";

enum class Target {
  kJson,
  kCreate,
  kMissing,
  kAuthorize,
  kTunnel,
  kReset,
  kStall,
  kExpired,
  kRefusedTunnel,
  kUnknown,
};

constexpr Target kMix[] = {Target::kJson,    Target::kReset,     Target::kCreate,
                           Target::kTunnel,  Target::kStall,     Target::kMissing,
                           Target::kExpired, Target::kAuthorize, Target::kRefusedTunnel,
                           Target::kUnknown};
constexpr int kTargets = static_cast<int>(std::size(kMix));

const char* TargetName(Target target) {
  switch (target) {
    case Target::kJson:
      return "json";
    case Target::kCreate:
      return "create";
    case Target::kMissing:
      return "missing";
    case Target::kAuthorize:
      return "authorize";
    case Target::kTunnel:
      return "tunnel";
    case Target::kReset:
      return "reset";
    case Target::kStall:
      return "stall";
    case Target::kExpired:
      return "expired";
    case Target::kRefusedTunnel:
      return "refused_tunnel";
    case Target::kUnknown:
      return "unknown";
  }
  return "?";
}

struct Options {
  int seconds = 600;
  int threads = 8;
  std::string library;
  std::string peers;
  std::string dir;
  int timeoutMs = TESSORA_SOAK_TIMEOUT_MS;
  int marginMs = 3000;
  // A call still running this long hangs (0: ten times the bound, at least 60 s).
  int hangMs = 0;
  // The calls of the mix (all when empty).
  std::vector<Target> only;
};

struct Exports {
  decltype(&ConfigureService) configureService = nullptr;
  decltype(&ConfigureProxy) configureProxy = nullptr;
  decltype(&TessoraNet) tessoraNet = nullptr;
  decltype(&TessoraNetGetInstanceData) tessoraNetGetInstanceData = nullptr;
  decltype(&TessoraNetTokenExpired) tessoraNetTokenExpired = nullptr;
  decltype(&TessoraNetFree) tessoraNetFree = nullptr;
  decltype(&TessoraNetTry) tessoraNetTry = nullptr;
  decltype(&TessoraNetLastStatus) tessoraNetLastStatus = nullptr;
  decltype(&TessoraNetLastError) tessoraNetLastError = nullptr;
};

template <class T>
bool Resolve(const host::Library& library, T& function, const char* name) {
  function = reinterpret_cast<T>(library.Symbol(name));
  if (function == nullptr) std::fprintf(stderr, "soak: the library lacks %s\n", name);
  return function != nullptr;
}

bool ResolveAll(const host::Library& library, Exports& api) {
  bool all = Resolve(library, api.configureService, "ConfigureService");
  all = Resolve(library, api.configureProxy, "ConfigureProxy") && all;
  all = Resolve(library, api.tessoraNet, "TessoraNet") && all;
  all = Resolve(library, api.tessoraNetGetInstanceData, "TessoraNetGetInstanceData") && all;
  all = Resolve(library, api.tessoraNetTokenExpired, "TessoraNetTokenExpired") && all;
  all = Resolve(library, api.tessoraNetFree, "TessoraNetFree") && all;
  all = Resolve(library, api.tessoraNetTry, "TessoraNetTry") && all;
  all = Resolve(library, api.tessoraNetLastStatus, "TessoraNetLastStatus") && all;
  all = Resolve(library, api.tessoraNetLastError, "TessoraNetLastError") && all;
  return all;
}

// ---------------------------------------------------------------------------------------------
// What every call must give.

struct Expected {
  const char* operation = "";
  const char* parameters = "";
  const char* body = "";
  std::string text;    // the result
  int status = 0;      // TessoraNetLastStatus
  std::string reason;  // TessoraNetLastError
  // Another reason accepted in its place ("" for none).
  std::string otherReason;
  // Whether the call fails (no result; the failure's message is `text`).
  bool failure = false;
  // Whether the call must wait out the socket time-out.
  bool waitsForTimeOut = false;
};

struct Ports {
  int nginx = 0;
  int proxy = 0;
  int authProxy = 0;
  int expired = 0;
  int reset = 0;
  int stall = 0;
};

std::string Environment(int port) {
  return "127.0.0.1:" + std::to_string(port) + "/";
}

std::string HostPort(int port) {
  return "127.0.0.1:" + std::to_string(port);
}

// Where the call goes: the Environment and the proxy (port 0: none).
struct Route {
  int server = 0;
  int proxy = 0;
};

Route RouteOf(Target target, const Ports& ports) {
  switch (target) {
    case Target::kTunnel:
      return {ports.nginx, ports.proxy};
    case Target::kRefusedTunnel:
      return {ports.nginx, ports.authProxy};
    case Target::kReset:
      return {ports.reset, 0};
    case Target::kStall:
      return {ports.stall, 0};
    case Target::kExpired:
      return {ports.expired, 0};
    default:
      return {ports.nginx, 0};
  }
}

// An answer from the server: its text and status, no reason.
Expected Answer(const char* operation, const char* text, int status) {
  Expected expected;
  expected.operation = operation;
  expected.text = text;
  expected.status = status;
  return expected;
}

// No answer: the empty text, status 0 and the reason.
Expected NoAnswer(std::string reason) {
  Expected expected;
  expected.operation = "JSON";
  expected.reason = std::move(reason);
  return expected;
}

Expected ExpectedOf(Target target, const Ports& ports) {
  Expected expected;
  switch (target) {
    case Target::kJson:
    case Target::kTunnel:
      return Answer("JSON", kJsonAnswer, 200);
    case Target::kCreate:
      expected = Answer("CREATE", kCreatedAnswer, 201);
      expected.body = R"({"amount":1})";
      return expected;
    case Target::kMissing:
      expected = Answer("MISSING", kMissingAnswer, 404);
      expected.parameters = "what=nothing";
      return expected;
    case Target::kAuthorize:
      return Answer("AUTHORIZE", kTokenAnswer, 200);
    case Target::kReset:
      expected = NoAnswer("The connection to " + HostPort(ports.reset) +
                          " failed: Socket Error # 10054 Connection reset by peer.");
#if defined(_WIN32)
      // Wine's sockets now and then hand a reset to the reader as an orderly end (the tests skip
      // their reset case under Wine for this); the library's answer to that is this reason.
      expected.otherReason =
          HostPort(ports.reset) + " closed the connection before the answer was complete.";
#endif
      return expected;
    case Target::kStall:
      expected = NoAnswer("Read timed out.");
      expected.waitsForTimeOut = true;
      return expected;
    case Target::kExpired:
      return NoAnswer("TLS handshake with " + HostPort(ports.expired) +
                      " failed: certificate verify failed (certificate has expired)");
    case Target::kRefusedTunnel:
      return NoAnswer("The proxy refused the tunnel: HTTP/1.0 407 Proxy Authentication Required");
    case Target::kUnknown:
      expected.operation = kUnknownOperation;
      expected.text = "Problem in endpoint";
      expected.reason = std::string("Operation ") + kUnknownOperation +
                        " is not in the endpoint file " + kEndpointFile;
      expected.failure = true;
      return expected;
  }
  return expected;
}

// ---------------------------------------------------------------------------------------------
// Counting.

// Call times in buckets 2 % wide from 1 microsecond up: the soak's own memory stays the same
// however long it runs, and a percentile is the upper edge of its bucket (at most the largest
// time).
class TimeHistogram {
 public:
  void Add(double ms) {
    const double steps = std::log(std::max(ms, kFirstMs) / kFirstMs) / std::log(kRatio);
    ++counts_[std::min(static_cast<std::size_t>(steps), kBuckets - 1)];
    ++count_;
    max_ = std::max(max_, ms);
  }

  void Merge(const TimeHistogram& other) {
    for (std::size_t i = 0; i < kBuckets; ++i)
      counts_[i] += other.counts_[i];
    count_ += other.count_;
    max_ = std::max(max_, other.max_);
  }

  long Count() const { return count_; }
  double Max() const { return max_; }

  double Percentile(double fraction) const {
    const auto rank = static_cast<long>(std::ceil(fraction * static_cast<double>(count_)));
    long seen = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
      seen += counts_[i];
      if (seen >= std::max(rank, 1L)) {
        return std::min(max_, kFirstMs * std::pow(kRatio, static_cast<double>(i + 1)));
      }
    }
    return max_;
  }

 private:
  static constexpr double kFirstMs = 0.001;
  static constexpr double kRatio = 1.02;
  static constexpr std::size_t kBuckets = 1200;  // up to about 6 * 10^6 ms

  std::array<long, kBuckets> counts_{};
  long count_ = 0;
  double max_ = 0;
};

struct TargetStats {
  long calls = 0;
  long wrong = 0;
  long overBound = 0;
  TimeHistogram times;
};

struct Sample {
  double atSeconds = 0;
  TimeHistogram times;  // of this interval's calls
  Footprint footprint;
};

// The call each thread is in and since when, for the watchdog.
class InFlight {
 public:
  explicit InFlight(int threads) : slots_(static_cast<std::size_t>(threads)) {}
  void Begin(int thread, Target target, Clock::time_point since) {
    Slot& slot = slots_[static_cast<std::size_t>(thread)];
    slot.since.store(since.time_since_epoch().count());
    slot.target.store(static_cast<int>(target));
  }
  void End(int thread) { slots_[static_cast<std::size_t>(thread)].target.store(-1); }
  // The first thread whose call has lasted longer than `limit`: its number, call and duration.
  std::optional<std::string> Overdue(std::chrono::milliseconds limit) const {
    const Clock::time_point now = Clock::now();
    for (std::size_t n = 0; n < slots_.size(); ++n) {
      const int target = slots_[n].target.load();
      if (target < 0) continue;
      const Clock::time_point since{Clock::duration(slots_[n].since.load())};
      const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
      if (lasted > limit) {
        return "thread " + std::to_string(n) + " has been in its " +
               TargetName(static_cast<Target>(target)) + " call for " +
               std::to_string(lasted.count()) + " ms";
      }
    }
    return std::nullopt;
  }

 private:
  struct Slot {
    std::atomic<int> target{-1};
    std::atomic<Clock::rep> since{0};
  };
  std::vector<Slot> slots_;
};

// Ends the soak with 3 when a call has not returned within `limit` (far beyond every bound the
// library has: a hang), saying which; stops when `done` is set.
void Watchdog(const InFlight& inFlight, std::chrono::milliseconds limit,
              const std::atomic<bool>& done) {
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (const std::optional<std::string> overdue = inFlight.Overdue(limit)) {
      std::printf("soak: FAILED, a call hangs: %s\n", overdue->c_str());
      std::fflush(nullptr);
      std::_Exit(3);
    }
  }
}

class Results {
 public:
  void Record(Target target, double ms, bool right, bool withinBound, const std::string& what) {
    std::lock_guard<std::mutex> guard(lock_);
    TargetStats& stats = targets_[target];
    ++stats.calls;
    stats.times.Add(ms);
    interval_.Add(ms);
    if (!right) {
      ++stats.wrong;
      if (examples_.size() < kExamples) examples_.push_back(what);
    }
    if (!withinBound) {
      ++stats.overBound;
      if (examples_.size() < kExamples) examples_.push_back(what);
    }
  }

  // A wrong result found outside a call (the token after it).
  void RecordWrong(Target target, const std::string& what) {
    std::lock_guard<std::mutex> guard(lock_);
    ++targets_[target].wrong;
    if (examples_.size() < kExamples) examples_.push_back(what);
  }

  // The call times since the last call of this.
  TimeHistogram TakeInterval() {
    std::lock_guard<std::mutex> guard(lock_);
    TimeHistogram times = interval_;
    interval_ = TimeHistogram();
    return times;
  }

  std::map<Target, TargetStats> Targets() const {
    std::lock_guard<std::mutex> guard(lock_);
    return targets_;
  }

  std::vector<std::string> Examples() const {
    std::lock_guard<std::mutex> guard(lock_);
    return examples_;
  }

 private:
  static constexpr std::size_t kExamples = 10;
  mutable std::mutex lock_;
  std::map<Target, TargetStats> targets_;
  TimeHistogram interval_;
  std::vector<std::string> examples_;
};

double Mb(long long bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// ---------------------------------------------------------------------------------------------
// A calling thread.

class Worker {
 public:
  Worker(const Exports& api, const Options& options, const Ports& ports, int number,
         Results& results, InFlight& inFlight)
      : api_(api),
        options_(options),
        ports_(ports),
        number_(number),
        results_(results),
        inFlight_(inFlight) {}

  // Calls until `stop` is set; the first call of each target is checked like all others.
  void Run(const std::atomic<bool>& stop) {
    const std::string client = "soak-client-" + std::to_string(number_);
    const std::string secret = "soak-secret-" + std::to_string(number_);
    const std::string partner = "soak-partner-" + std::to_string(number_);
    // A new thread has no token.
    CheckToken("", 1, Target::kAuthorize, "a new thread");
    for (long round = 0; !stop; ++round) {
      const Target target =
          options_.only.empty()
              ? kMix[(round + number_) % kTargets]
              : options_.only[static_cast<std::size_t>(round + number_) % options_.only.size()];
      const Route route = RouteOf(target, ports_);
      const std::string environment = Environment(route.server);
      api_.configureService(client.c_str(), secret.c_str(), environment.c_str(), kEndpointFile,
                            partner.c_str());
      if (route.proxy != 0) {
        api_.configureProxy("127.0.0.1", route.proxy, "", "");
      } else {
        api_.configureProxy("", 0, "", "");
      }
      // Each pass through the mix goes the other way: TessoraNet, then TessoraNetTry.
      Call(target, ExpectedOf(target, ports_), round / kTargets % 2 == 0);
    }
  }

 private:
  // One call, through TessoraNet or through TessoraNetTry.
  void Call(Target target, const Expected& expected, bool plain) {
    std::string text;
    bool failed = false;
    const Clock::time_point start = Clock::now();
    inFlight_.Begin(number_, target, start);
    if (plain) {
      // A failure leaves the export (a C++ exception, or the structured exception on Windows).
      const std::optional<std::string> failure = host::CatchHostFailure([&] {
        char* result = api_.tessoraNet(expected.operation, expected.parameters, "", expected.body);
        text = Take(result);
      });
      if (failure) {
        failed = true;
        text = *failure;
      }
    } else {
      char* result = nullptr;
      failed = api_.tessoraNetTry(expected.operation, expected.parameters, "", expected.body,
                                  &result) == 0;
      text = Take(result);
    }
    inFlight_.End(number_);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const int status = api_.tessoraNetLastStatus();
    char* reasonBuffer = nullptr;
    api_.tessoraNetLastError(&reasonBuffer);
    const std::string reason = Take(reasonBuffer);

    std::string what;
    if (failed != expected.failure) what += failed ? " failed" : " did not fail";
    if (text != expected.text) what += " gave \"" + text + "\"";
    if (status != expected.status) what += " status " + std::to_string(status);
    if (reason != expected.reason &&
        (expected.otherReason.empty() || reason != expected.otherReason)) {
      what += " reason \"" + reason + "\"";
    }
    if (expected.waitsForTimeOut && ms < options_.timeoutMs) {
      what += " ended before the time-out (" + std::to_string(ms) + " ms)";
    }
    const bool withinBound = ms <= options_.timeoutMs + options_.marginMs;
    const bool right = what.empty();
    if (!withinBound) what += " took " + std::to_string(ms) + " ms";
    results_.Record(target, ms, right, withinBound,
                    "thread " + std::to_string(number_) + ", " + TargetName(target) + ":" + what);
    if (target == Target::kAuthorize && right) CheckToken(kToken, 0, target, "after AUTHORIZE");
  }

  // The thread's token and whether it has expired; counted with `target`'s calls when wrong.
  void CheckToken(const std::string& token, int expired, Target target, const char* when) {
    char* buffer = nullptr;
    api_.tessoraNetGetInstanceData(&buffer);
    const std::string held = Take(buffer);
    const int hasExpired = api_.tessoraNetTokenExpired();
    if (held == token && hasExpired == expired) return;
    results_.RecordWrong(target, "thread " + std::to_string(number_) + ", token " + when + ": \"" +
                                     held + "\", expired " + std::to_string(hasExpired));
  }

  // The text of a result buffer, which is released.
  std::string Take(char* buffer) const {
    std::string text = buffer != nullptr ? buffer : "<null>";
    api_.tessoraNetFree(buffer);
    return text;
  }

  const Exports& api_;
  const Options& options_;
  const Ports& ports_;
  int number_;
  Results& results_;
  InFlight& inFlight_;
};

// ---------------------------------------------------------------------------------------------
// Set-up and report.

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.library = host::ProgramDirectory() + "/soak-library/" +
                    fs::path(host::LibraryNextToProgram()).filename().string();
  using Setter = std::function<void(const std::string&)>;
  const std::map<std::string, Setter> valued = {
      {"--seconds", [&](const std::string& v) { options.seconds = std::stoi(v); }},
      {"--threads", [&](const std::string& v) { options.threads = std::stoi(v); }},
      {"--library", [&](const std::string& v) { options.library = v; }},
      {"--peers", [&](const std::string& v) { options.peers = v; }},
      {"--dir", [&](const std::string& v) { options.dir = v; }},
      {"--timeout-ms", [&](const std::string& v) { options.timeoutMs = std::stoi(v); }},
      {"--margin-ms", [&](const std::string& v) { options.marginMs = std::stoi(v); }},
      {"--hang-ms", [&](const std::string& v) { options.hangMs = std::stoi(v); }},
      {"--only",
       [&](const std::string& v) {
         for (std::size_t start = 0; start <= v.size();) {
           const std::size_t comma = std::min(v.find(',', start), v.size());
           const std::string name = v.substr(start, comma - start);
           const auto* found = std::find_if(std::begin(kMix), std::end(kMix),
                                            [&](Target t) { return name == TargetName(t); });
           if (found == std::end(kMix)) throw std::invalid_argument("no such call: " + name);
           options.only.push_back(*found);
           start = comma + 1;
         }
       }},
  };
  for (int i = 1; i < argc; ++i) {
    const auto setter = valued.find(argv[i]);
    if (setter == valued.end() || i + 1 >= argc) {
      std::fprintf(stderr, "soak: unknown option or missing value: %s\n", argv[i]);
      return std::nullopt;
    }
    try {
      setter->second(argv[++i]);
    } catch (const std::exception&) {
      std::fprintf(stderr, "soak: %s: not valid: %s\n", argv[i - 1], argv[i]);
      return std::nullopt;
    }
  }
  if (options.seconds < 1 || options.threads < 1 || options.timeoutMs < 1 || options.marginMs < 0) {
    std::fprintf(stderr, "soak: --seconds, --threads and --timeout-ms must be at least 1\n");
    return std::nullopt;
  }
  if (options.peers.empty()) {
    std::fprintf(stderr, "soak: --peers FILE is needed (bench/soak/run-soak writes it)\n");
    return std::nullopt;
  }
  return options;
}

std::optional<Ports> ReadPorts(const std::string& file) {
  std::map<std::string, int> named;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) named[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
  }
  Ports ports;
  const std::pair<const char*, int*> wanted[] = {
      {"nginx", &ports.nginx},           {"proxy", &ports.proxy}, {"authproxy", &ports.authProxy},
      {"nginx_expired", &ports.expired}, {"reset", &ports.reset}, {"stall", &ports.stall}};
  bool complete = true;
  for (const auto& [name, port] : wanted) {
    *port = named[name];
    if (*port <= 0) {
      std::fprintf(stderr, "soak: %s names no port for %s\n", file.c_str(), name);
      complete = false;
    }
  }
  return complete ? std::optional<Ports>(ports) : std::nullopt;
}

void PrintSample(const Sample& sample, double intervalSeconds) {
  char heap[32] = "-";  // (unknown on Windows)
  if (sample.footprint.heapBytes > 0) {
    std::snprintf(heap, sizeof heap, "%.2f", Mb(sample.footprint.heapBytes));
  }
  std::printf("%7.0f %8ld %8.1f %8.2f %8.2f %8.2f %9.2f %8.2f %8s %11d %7d\n", sample.atSeconds,
              sample.times.Count(), static_cast<double>(sample.times.Count()) / intervalSeconds,
              sample.times.Percentile(0.5), sample.times.Percentile(0.9),
              sample.times.Percentile(0.99), sample.times.Max(), Mb(sample.footprint.memoryBytes),
              heap, sample.footprint.handles, sample.footprint.threads);
}

// The resource check. The first sample (after the first interval: one minute, or a tenth of a
// shorter run) is the baseline, taken once every thread has made each kind of call and the
// allocator, the TLS context and the session cache have their working size. Every later sample
// must stay within:
//   threads   the baseline exactly: the library starts no thread of its own;
//   handles   the baseline plus one per calling thread: a thread keeps its connection open from
//             one call to its next, so at any moment each thread holds zero or one socket;
//   memory    the baseline plus 4 MiB or 10 % of it, whichever is more: the allocator keeps
//             freed blocks per thread and fragments; the report gives what that allows per call.
bool Verdict(const std::vector<Sample>& samples, const Options& options, long calls) {
  if (samples.size() < 2) {
    std::printf("resources: too few samples to compare\n");
    return true;
  }
  const Footprint& base = samples.front().footprint;
  const long long memoryTolerance = std::max<long long>(4LL * 1024 * 1024, base.memoryBytes / 10);
  const int handleTolerance = options.threads;
  long long memoryMax = 0;
  long long heapMax = 0;
  int handlesMax = 0;
  int threadsMin = base.threads;
  int threadsMax = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const Footprint& f = samples[i].footprint;
    memoryMax = std::max(memoryMax, f.memoryBytes);
    heapMax = std::max(heapMax, f.heapBytes);
    handlesMax = std::max(handlesMax, f.handles);
    threadsMax = std::max(threadsMax, f.threads);
    threadsMin = std::min(threadsMin, f.threads);
  }
  const bool memoryOk = memoryMax <= base.memoryBytes + memoryTolerance;
  const bool handlesOk = handlesMax <= base.handles + handleTolerance;
  const bool threadsOk = threadsMax == base.threads && threadsMin == base.threads;
  std::printf(
      "memory:  %.1f MB after the first interval, at most %.1f MB later (tolerance "
      "%.1f MB, %.0f bytes per call of the run): %s\n",
      Mb(base.memoryBytes), Mb(memoryMax), Mb(memoryTolerance),
      calls > 0 ? static_cast<double>(memoryTolerance) / static_cast<double>(calls) : 0.0,
      memoryOk ? "ok" : "GREW");
  if (base.heapBytes > 0) {
    std::printf("heap in use: %.2f MB after the first interval, at most %.2f MB later\n",
                Mb(base.heapBytes), Mb(heapMax));
  }
  std::printf("%s: %d after the first interval, at most %d later (tolerance %d): %s\n",
              HandlesName(), base.handles, handlesMax, handleTolerance, handlesOk ? "ok" : "GREW");
  std::printf("threads: %d after the first interval, %d to %d later: %s\n", base.threads,
              threadsMin, threadsMax, threadsOk ? "ok" : "CHANGED");
  return memoryOk && handlesOk && threadsOk;
}

int Run(const Options& options) {
  const std::optional<Ports> ports = ReadPorts(options.peers);
  if (!ports) return 2;
  if (!options.dir.empty()) fs::current_path(options.dir);
  {
    std::ofstream endpoints(kEndpointFile, std::ios::binary);
    endpoints << kEndpoints;
    if (!endpoints.flush()) {
      std::fprintf(stderr, "soak: cannot write %s\n", kEndpointFile);
      return 2;
    }
  }
  const Footprint atStart = MeasureFootprint();
  host::Library library(options.library);
  if (!library.Loaded()) {
    std::fprintf(stderr, "soak: cannot load %s: %s\n", options.library.c_str(),
                 library.Error().c_str());
    return 2;
  }
  Exports api;
  if (!ResolveAll(library, api)) return 2;

  const double intervalSeconds = std::min(60.0, options.seconds / 10.0);
  std::printf(
      "soak: %d threads for %d s, library %s (socket time-out %d ms, bound %d ms per "
      "call)\n",
      options.threads, options.seconds, options.library.c_str(), options.timeoutMs,
      options.timeoutMs + options.marginMs);
  std::printf("before loading: %.2f MB (heap %.2f MB), %d %s, %d threads\n",
              Mb(atStart.memoryBytes), Mb(atStart.heapBytes), atStart.handles, HandlesName(),
              atStart.threads);
  std::printf("%7s %8s %8s %8s %8s %8s %9s %8s %8s %11s %7s\n", "s", "calls", "calls/s", "p50 ms",
              "p90 ms", "p99 ms", "max ms", "mem MB", "heap MB", HandlesName(), "threads");

  Results results;
  const Clock::time_point start = Clock::now();
  std::vector<Sample> samples;
  samples.reserve(12);  // no allocation of the soak's own after the baseline
  std::atomic<bool> stop{false};
  // The sampler: at each interval's end, the interval's calls and the process's footprint; after
  // the last one it stops the calling threads, so that every sample sees all of them at work.
  std::thread sampler([&] {
    const int count = std::max(1, static_cast<int>(std::lround(options.seconds / intervalSeconds)));
    for (int n = 1; n <= count; ++n) {
      std::this_thread::sleep_until(
          start + std::chrono::milliseconds(std::llround(n * intervalSeconds * 1000)));
      Sample sample;
      sample.atSeconds = n * intervalSeconds;
      sample.times = results.TakeInterval();
      sample.footprint = MeasureFootprint();
      PrintSample(sample, intervalSeconds);
      samples.push_back(std::move(sample));
    }
    stop = true;
  });

  // A call still running this long after its bound hangs.
  const std::chrono::milliseconds hangLimit(
      options.hangMs > 0 ? options.hangMs
                         : std::max(60000, 10 * (options.timeoutMs + options.marginMs)));
  InFlight inFlight(options.threads);
  std::atomic<bool> done{false};
  std::thread watchdog([&] { Watchdog(inFlight, hangLimit, done); });

  // The loading thread calls too, so the traffic log is written throughout.
  std::vector<std::thread> others;
  for (int number = 1; number < options.threads; ++number) {
    others.emplace_back(
        [&, number] { Worker(api, options, *ports, number, results, inFlight).Run(stop); });
  }
  Worker(api, options, *ports, 0, results, inFlight).Run(stop);
  for (std::thread& other : others)
    other.join();
  sampler.join();
  done = true;
  watchdog.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  std::printf("\n%-15s %8s %6s %6s %8s %8s %9s\n", "call", "count", "wrong", "slow", "p50 ms",
              "p99 ms", "max ms");
  long calls = 0;
  long wrong = 0;
  long slow = 0;
  TimeHistogram all;
  for (const auto& [target, stats] : results.Targets()) {
    std::printf("%-15s %8ld %6ld %6ld %8.2f %8.2f %9.2f\n", TargetName(target), stats.calls,
                stats.wrong, stats.overBound, stats.times.Percentile(0.5),
                stats.times.Percentile(0.99), stats.times.Max());
    calls += stats.calls;
    wrong += stats.wrong;
    slow += stats.overBound;
    all.Merge(stats.times);
  }
  std::printf("%-15s %8ld %6ld %6ld %8.2f %8.2f %9.2f\n", "all", calls, wrong, slow,
              all.Percentile(0.5), all.Percentile(0.99), all.Max());
  std::printf("%.1f calls per second over %.0f s\n", static_cast<double>(calls) / elapsed, elapsed);
  for (const std::string& example : results.Examples())
    std::printf("  %s\n", example.c_str());
  const bool resourcesOk = Verdict(samples, options, calls);
  const bool pass = wrong == 0 && slow == 0 && resourcesOk;
  std::printf("soak: %s (%ld wrong results, %ld calls over %d ms)\n", pass ? "PASSED" : "FAILED",
              wrong, slow, options.timeoutMs + options.marginMs);
  return pass ? 0 : 1;
}

}  // namespace
}  // namespace tessora::soak

int main(int argc, char** argv) {
  // Progress shows through a pipe too (the Windows C library buffers "line-buffered" output fully).
#ifdef _WIN32
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
  const std::optional<tessora::soak::Options> options = tessora::soak::ParseOptions(argc, argv);
  if (!options) return 2;
  try {
    return tessora::soak::Run(*options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "soak: %s\n", failure.what());
    return 2;
  }
}
