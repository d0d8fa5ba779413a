// Counts the network round trips one API call costs, on an emulated path: a relay on loopback
// (delay_relay.h) delays every chunk by D ms each way (a round trip of 2 x D ms) between the
// clients and a loopback nginx with the test PKI, and holds a new connection's first bytes for one
// round trip as its TCP handshake would. On that one path, in one run, in alternating rounds:
//   library         TessoraNet through the export as it is
//   library-warm    the same with warm connections  (TessoraNetSetOption "connection.reuse" "on")
//   library-tls13   the same with TLS 1.3           (TessoraNetSetOption "tls.max-version" "1.3")
//   curl-new        libcurl, a new easy handle and connection per request, TLS 1.2
//   curl-kept       libcurl, one easy handle kept for all requests, TLS 1.2
//   curl-new-tls13, curl-kept-tls13   the same two with TLS 1.3
// Each configuration and round runs in a child process of its own (the program starts itself
// again with --child), so that nothing one configuration sets or keeps in a process carries into
// another. A child makes one request first, timed apart (loading, first handshake, a connection to
// keep), then N timed ones. TessoraNetSetOption is looked up at run time: a library without it
// gets its two rows marked "not available in this build".
// At the start of every round a probe (PathProbe) measures the path's own round trip: 64 bytes
// there and back through a relay of the same delay to an echo server. The table gives round trips
// both ways: against 2 x D, and against that measured round trip, which includes the relay's own
// forwarding that every round trip of a call pays too.
//
//   round_trip_bench [--delay-ms D] [--requests N] [--rounds R] [--library PATH] [--work DIR]
//                    [--kernel-path --relay-port P]
//
// --delay-ms   the delay each way (default 10: a 20 ms round trip)
// --kernel-path  the kernel delays the packets by D (bench/run-round-trips-kernel-path sets up a
//              network namespace whose loopback queues them to path_delay): the relays forward at
//              once, hold nothing and only count connections, and the TCP handshake itself takes
//              its round trip, with the client's work between connect and first bytes after it.
//              Needs --relay-port P: the relays listen on P and P + 1, the ports whose packets
//              the kernel delays
// --requests   timed requests per configuration and round (default 20)
// --rounds     rounds (default 3); each starts with another configuration
// --library    the library to load (default: libTessoraNet.so next to this program)
// --work DIR   keep the PKI, the server's files and each child's directory (with its
//              "Call Logs.txt") in DIR instead of a temporary directory
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TessoraNet.h"
#include "bench_support.h"
#include "delay_relay.h"
#include "host_loader.h"

namespace {

namespace fs = std::filesystem;
using namespace tessora::bench;

// The extension that sets a library option by name; looked up by name, since the library measured
// may not have it.
using SetOptionFunction = unsigned char (*)(const char* name, const char* value);
constexpr char kSetOptionExport[] = "TessoraNetSetOption";

// Exchanges on the path probe per round.
constexpr int kPathExchanges = 20;

enum class Client { kLibrary, kCurlNew, kCurlKept };

struct Config {
  const char* name;
  const char* description;
  Client client;
  // The library's options (name, value), set on the calling thread before its requests.
  std::vector<std::pair<const char*, const char*>> libraryOptions;
  CurlTls curlTls;
};

const std::vector<Config>& Configs() {
  static const std::vector<Config> kConfigs = {
      {"library", "TessoraNet today", Client::kLibrary, {}, CurlTls::kOnly12},
      {"library-warm",
       "TessoraNet, warm connections",
       Client::kLibrary,
       {{"connection.reuse", "on"}},
       CurlTls::kOnly12},
      {"library-tls13",
       "TessoraNet, TLS 1.3",
       Client::kLibrary,
       {{"tls.max-version", "1.3"}},
       CurlTls::kOnly12},
      {"curl-new",
       "libcurl, new handle per request, TLS 1.2",
       Client::kCurlNew,
       {},
       CurlTls::kOnly12},
      {"curl-kept", "libcurl, one kept handle, TLS 1.2", Client::kCurlKept, {}, CurlTls::kOnly12},
      {"curl-new-tls13",
       "libcurl, new handle per request, TLS 1.3",
       Client::kCurlNew,
       {},
       CurlTls::kOnly13},
      {"curl-kept-tls13",
       "libcurl, one kept handle, TLS 1.3",
       Client::kCurlKept,
       {},
       CurlTls::kOnly13},
  };
  return kConfigs;
}

const Config* FindConfig(const std::string& name) {
  for (const Config& config : Configs()) {
    if (name == config.name) return &config;
  }
  return nullptr;
}

struct Options {
  int delayMs = 10;
  int requests = 20;
  int rounds = 3;
  std::string library;
  std::string work;
  bool kernelPath = false;
  int relayPort = 0;
  // Set in a child: the configuration it measures, the relay's port, its trust file and its
  // directory.
  std::string child;
  int port = 0;
  std::string trustFile;
  std::string dir;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.library = tessora::host::LibraryNextToProgram();
  const std::map<std::string, FlagSetter> valued = {
      {"--delay-ms", [&](const std::string& v) { options.delayMs = std::stoi(v); }},
      {"--requests", [&](const std::string& v) { options.requests = std::stoi(v); }},
      {"--rounds", [&](const std::string& v) { options.rounds = std::stoi(v); }},
      {"--library", [&](const std::string& v) { options.library = v; }},
      {"--work", [&](const std::string& v) { options.work = v; }},
      {"--child", [&](const std::string& v) { options.child = v; }},
      {"--port", [&](const std::string& v) { options.port = std::stoi(v); }},
      {"--trust-file", [&](const std::string& v) { options.trustFile = v; }},
      {"--dir", [&](const std::string& v) { options.dir = v; }},
      {"--relay-port", [&](const std::string& v) { options.relayPort = std::stoi(v); }},
  };
  const std::map<std::string, std::function<void()>> switches = {
      {"--kernel-path", [&] { options.kernelPath = true; }},
  };
  if (!ParseFlags(argc, argv, "round_trip_bench", valued, switches)) return std::nullopt;
  if (options.kernelPath && (options.relayPort < 1024 || options.relayPort > 65534)) {
    std::fprintf(stderr, "round_trip_bench: --kernel-path needs --relay-port 1024 to 65534\n");
    return std::nullopt;
  }
  if (options.requests < 1 || options.requests > 100000 || options.rounds < 1 ||
      options.rounds > 1000) {
    std::fprintf(stderr, "round_trip_bench: --requests is 1 to 100000, --rounds 1 to 1000\n");
    return std::nullopt;
  }
  if (options.delayMs < 1 || options.delayMs > 1000) {
    std::fprintf(stderr, "round_trip_bench: --delay-ms is 1 to 1000\n");
    return std::nullopt;
  }
  if (!options.child.empty() && FindConfig(options.child) == nullptr) {
    std::fprintf(stderr, "round_trip_bench: no configuration %s\n", options.child.c_str());
    return std::nullopt;
  }
  return options;
}

// ---------------------------------------------------------------------------------------------
// The child: one configuration, one round. It writes "result": a status word ("ok",
// "unavailable", "refused", "failed"), then the first request's time and the others' times in ms.

struct Times {
  double first = 0;
  std::vector<double> rest;

  // The time of request `index`, 0 being the first.
  void Add(int index, double ms) {
    if (index == 0) {
      first = ms;
    } else {
      rest.push_back(ms);
    }
  }
};

// Why the calling thread's last call into the library failed, when the library can say.
std::string LastError(const tessora::host::Library& library) {
  const auto lastError =
      reinterpret_cast<decltype(&TessoraNetLastError)>(library.Symbol("TessoraNetLastError"));
  const auto tessoraNetFree =
      reinterpret_cast<decltype(&TessoraNetFree)>(library.Symbol("TessoraNetFree"));
  if (lastError == nullptr || tessoraNetFree == nullptr) return "(no reason given)";
  char* reason = nullptr;
  lastError(&reason);
  std::string text = reason != nullptr ? reason : "";
  if (reason != nullptr) tessoraNetFree(reason);
  return text;
}

// The library on a thread of its own, as a host's worker thread: it configures itself, sets the
// configuration's options, then performs the operation 1 + `count` times. Empty when an option
// was refused.
std::optional<Times> LibraryRequests(const tessora::host::Library& library, const Config& config,
                                     const std::string& environment, int count,
                                     Failures& failures) {
  const auto configureService =
      reinterpret_cast<decltype(&ConfigureService)>(library.Symbol("ConfigureService"));
  const auto tessoraNet = reinterpret_cast<decltype(&TessoraNet)>(library.Symbol("TessoraNet"));
  const auto tessoraNetFree =
      reinterpret_cast<decltype(&TessoraNetFree)>(library.Symbol("TessoraNetFree"));
  const auto setOption = reinterpret_cast<SetOptionFunction>(library.Symbol(kSetOptionExport));
  Times times;
  bool refused = false;
  std::thread worker([&] {
    configureService("bench-client", "bench-secret", environment.c_str(), "endpoints.json", "");
    for (const auto& [name, value] : config.libraryOptions) {
      if (setOption(name, value) == 0) {
        std::printf("%s refused %s=%s: %s\n", kSetOptionExport, name, value,
                    LastError(library).c_str());
        refused = true;
        return;
      }
    }
    for (int i = 0; i <= count; ++i) {
      std::string text;
      const Clock::time_point start = Clock::now();
      try {
        const char* result = tessoraNet(kOperation, "", "", "");
        times.Add(i, Ms(Clock::now() - start));
        text = result != nullptr ? result : "";
        if (tessoraNetFree != nullptr) tessoraNetFree(const_cast<char*>(result));
      } catch (const std::exception& failure) {
        text = std::string("failure: ") + failure.what();
      }
      if (!ExpectedAnswer(text)) failures.Note("\"" + text + "\"");
    }
  });
  worker.join();
  if (refused) return std::nullopt;
  return times;
}

// libcurl: a new easy handle per request (its set-up and clean-up counted), or one handle set up
// before the first request and kept for all.
Times CurlRequests(const Config& config, const std::string& url, const std::string& trustFile,
                   int count, Failures& failures) {
  Times times;
  std::string body;
  CURL* kept = nullptr;
  if (config.client == Client::kCurlKept) {
    kept = curl_easy_init();
    SetUpCurlGet(kept, url, trustFile, config.curlTls, false, body);
  }
  for (int i = 0; i <= count; ++i) {
    const Clock::time_point start = Clock::now();
    CURL* easy = kept;
    if (easy == nullptr) {
      easy = curl_easy_init();
      SetUpCurlGet(easy, url, trustFile, config.curlTls, true, body);
    }
    PerformCurlGet(easy, body, failures);
    if (easy != kept) curl_easy_cleanup(easy);
    times.Add(i, Ms(Clock::now() - start));
  }
  if (kept != nullptr) curl_easy_cleanup(kept);
  return times;
}

int RunChild(const Options& options) {
  const Config& config = *FindConfig(options.child);
  fs::current_path(options.dir);  // the library opens "Call Logs.txt" here when it loads
  std::ofstream result("result");
  if (!WriteFile("endpoints.json", kEndpoints)) {
    std::fprintf(stderr, "round_trip_bench: cannot write the endpoint file in %s\n",
                 options.dir.c_str());
    result << "failed\n";
    return 2;
  }
  const std::string host = "127.0.0.1:" + std::to_string(options.port);
  Failures failures;
  std::optional<Times> times;
  if (config.client == Client::kLibrary) {
    tessora::host::Library library(options.library);
    if (!library.Loaded() || library.Symbol("ConfigureService") == nullptr ||
        library.Symbol("TessoraNet") == nullptr) {
      std::fprintf(stderr, "round_trip_bench: cannot load %s or it lacks an export: %s\n",
                   options.library.c_str(), library.Error().c_str());
      result << "failed\n";
      return 2;
    }
    if (!config.libraryOptions.empty() && library.Symbol(kSetOptionExport) == nullptr) {
      result << "unavailable\n";
      return 0;
    }
    times = LibraryRequests(library, config, host + "/", options.requests, failures);
    if (!times) {
      result << "refused\n";
      return 0;
    }
  } else {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      std::fprintf(stderr, "round_trip_bench: curl_global_init failed\n");
      result << "failed\n";
      return 2;
    }
    times = CurlRequests(config, "https://" + host + kRoute, options.trustFile, options.requests,
                         failures);
    curl_global_cleanup();
  }
  if (failures.count > 0) {
    std::printf("%s: %d requests failed; the first: %s\n", config.name, failures.count,
                failures.first.c_str());
    result << "failed\n";
    return 3;
  }
  result << "ok " << times->first;
  for (const double ms : times->rest)
    result << ' ' << ms;
  result << '\n';
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent: PKI, nginx, the relay, one child per configuration and round, the summary.

struct Outcome {
  std::string status = "ok";  // or "unavailable", "refused"
  std::vector<double> firsts;
  std::vector<double> times;
  std::vector<double> roundMedians;
  long connections = 0;  // opened through the relay by the requests after each child's first
};

int RunParent(const Options& options) {
  WorkDir work(options.work, "tessora-round-trip-bench");
  const fs::path pki = work.Path() / "pki";
  std::printf("== making the test PKI\n");
  if (!MakeTestPki(pki)) {
    std::fprintf(stderr, "round_trip_bench: making the test PKI failed\n");
    return 2;
  }
  Nginx nginx(work.Path() / "nginx");
  const int nginxPort = nginx.Start(pki, true);
  if (nginxPort == 0) {
    std::fprintf(stderr, "round_trip_bench: nginx did not start\n");
    return 2;
  }
  const std::chrono::milliseconds delay(options.delayMs);
  // On a kernel path the packets of the relays' ports are delayed by the kernel's queue instead.
  const std::chrono::milliseconds relayDelay =
      options.kernelPath ? std::chrono::milliseconds(0) : delay;
  DelayRelay relay(nginxPort, relayDelay, options.relayPort);
  if (relay.Port() == 0) {
    std::fprintf(stderr, "round_trip_bench: the relay cannot listen\n");
    return 2;
  }
  const double rtt = 2.0 * options.delayMs;
  // The path's round trip as measured, at the start of every round.
  PathProbe probe(relayDelay, options.kernelPath ? options.relayPort + 1 : 0);
  if (!probe.Ready()) {
    std::fprintf(stderr, "round_trip_bench: the path probe cannot start\n");
    return 2;
  }
  std::vector<double> pathTimes;
  std::printf(
      "== nginx (TLS 1.2 and 1.3) on 127.0.0.1:%d, relay on 127.0.0.1:%d, %d ms each way "
      "(round trip %.0f ms)%s\n",
      nginxPort, relay.Port(), options.delayMs, rtt,
      options.kernelPath ? ", applied by the kernel's queue" : "");
  std::printf("== %d rounds x (1 + %d) requests per configuration, library %s\n", options.rounds,
              options.requests, options.library.c_str());

  const fs::path trustFile = work.Path() / "trust.pem";
  fs::copy_file(pki / "ca.pem", trustFile, fs::copy_options::overwrite_existing);
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const std::vector<Config>& configs = Configs();
  std::map<std::string, Outcome> outcomes;
  for (int round = 0; round < options.rounds; ++round) {
    std::printf("\n== round %d\n", round + 1);
    const std::vector<double> probed = probe.Measure(kPathExchanges);
    if (probed.empty()) {
      std::fprintf(stderr, "round_trip_bench: the path probe failed\n");
      return 2;
    }
    pathTimes.insert(pathTimes.end(), probed.begin(), probed.end());
    std::printf("%-42s median %8.2f ms\n", "the path: 64 bytes there and back", Median(probed));
    // Each round starts with another configuration, so that none always meets a server that has
    // just been idle or busy.
    for (std::size_t k = 0; k < configs.size(); ++k) {
      const Config& config = configs[(k + static_cast<std::size_t>(round)) % configs.size()];
      Outcome& outcome = outcomes[config.name];
      if (outcome.status != "ok") continue;
      const fs::path dir = work.Path() / (std::string(config.name) + "-" + std::to_string(round));
      fs::create_directories(dir);
      const std::string command =
          "SSL_CERT_FILE=" + ShellQuote(trustFile.string()) + " " + ShellQuote(self.string()) +
          " --child " + config.name + " --trust-file " + ShellQuote(trustFile.string()) +
          " --dir " + ShellQuote(dir.string()) + " --port " + std::to_string(relay.Port()) +
          " --requests " + std::to_string(options.requests) + " --library " +
          ShellQuote(options.library);
      const long acceptedBefore = relay.Accepted();
      const bool ran = Run(command);
      const long opened = relay.Accepted() - acceptedBefore;
      std::istringstream result(ReadFile(dir / "result"));
      std::string status;
      result >> status;
      if (!ran || (status != "ok" && status != "unavailable" && status != "refused")) {
        std::fprintf(stderr, "round_trip_bench: the %s run failed\n", config.name);
        return 2;
      }
      if (status != "ok") {
        std::printf("%-42s %s\n", config.description,
                    status == "unavailable" ? "not available in this build" : "option refused");
        outcome.status = status;
        continue;
      }
      double first = 0;
      result >> first;
      std::vector<double> times;
      for (double ms = 0; result >> ms;)
        times.push_back(ms);
      outcome.firsts.push_back(first);
      outcome.times.insert(outcome.times.end(), times.begin(), times.end());
      outcome.roundMedians.push_back(Median(times));
      // The first request opens one connection; the rest is what the timed requests opened.
      outcome.connections += opened - 1;
      std::printf("%-42s first %8.2f ms, median %8.2f ms = %5.2f round trips, %ld connections\n",
                  config.description, first, Median(times), Median(times) / rtt, opened);
    }
  }

  const double pathRtt = Median(pathTimes);
  std::printf(
      "\n== medians over %d rounds, %d ms each way (round trip %.0f ms; measured through the relay "
      "%.2f ms)\n",
      options.rounds, options.delayMs, rtt, pathRtt);
  std::printf(
      "| configuration | ms per call | round trips per call | measured round trips per call "
      "| new connections per call | first call, ms | first call, measured round trips |\n"
      "|---|---|---|---|---|---|---|\n");
  for (const Config& config : configs) {
    const Outcome& outcome = outcomes[config.name];
    if (outcome.status != "ok") {
      std::printf("| %s | %s | | | | | |\n", config.description,
                  outcome.status == "unavailable" ? "not available in this build"
                                                  : "option refused by this build");
      continue;
    }
    const double ms = Median(outcome.times);
    const double first = Median(outcome.firsts);
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %s |\n", config.description, Fixed(ms).c_str(),
        Fixed(ms / rtt).c_str(), Fixed(ms / pathRtt).c_str(),
        Fixed(static_cast<double>(outcome.connections) / static_cast<double>(outcome.times.size()))
            .c_str(),
        Fixed(first).c_str(), Fixed(first / pathRtt).c_str());
  }
  if (!options.work.empty()) std::printf("files kept in %s\n", work.Path().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return RunGuarded("round_trip_bench", [&] {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) return 2;
    // The child works in a directory of its own: it gets the library's path absolute.
    options->library = fs::absolute(options->library).string();
    return options->child.empty() ? RunParent(*options) : RunChild(*options);
  });
}
