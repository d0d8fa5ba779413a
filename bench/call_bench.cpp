// Times one API call as a host sees it -- TessoraNet through the export, on a worker thread --
// against libcurl doing the same GET with a new handle and connection per request, both against a
// loopback nginx with the test PKI, in alternating rounds within one process.
//
// Each trust-file configuration runs in a child process of its own (the program starts itself
// again with --child): OpenSSL reads SSL_CERT_FILE inside the process, and a library that keeps
// its trust store for the life of the process must not carry one configuration into the other.
//   one-ca   the test CA alone
//   bundle   the system bundle (/etc/ssl/certs/ca-certificates.crt) followed by the test CA
//
//   call_bench [--requests N] [--rounds R] [--library PATH] [--trust one-ca|bundle|both]
//              [--check-ratio X | --check-targets] [--work DIR] [--port P --pki DIR]
//
// --requests   requests per client and round (default 40)
// --rounds     rounds (default 10); the first request of each client is timed apart
// --library    the library to load (default: libTessoraNet.so next to this program)
// --check-ratio X    exit 1 when a configuration's ratio TessoraNet/libcurl exceeds X
// --check-targets    exit 1 when a configuration misses its target (one-ca 0.8, bundle 0.15)
// --work DIR   keep the PKI, the server's files, the trust files and each child's directory
//              (with its "Call Logs.txt") in DIR instead of a temporary directory
// --port P --pki DIR   use the server already listening on 127.0.0.1:P, whose certificate chain
//              leads to DIR/ca.pem, instead of starting one
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TessoraNet.h"
#include "bench_support.h"
#include "host_loader.h"

namespace {

namespace fs = std::filesystem;
using namespace tessora::bench;

constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

struct TrustConfig {
  const char* name;
  const char* description;
  double target;  // the wanted ratio TessoraNet/libcurl
};

constexpr TrustConfig kTrustConfigs[] = {
    {"one-ca", "test CA only", 0.8},
    {"bundle", "system bundle + test CA", 0.15},
};

struct Options {
  int requests = 40;
  int rounds = 10;
  std::string library;
  std::string trust = "both";
  std::optional<double> checkRatio;
  bool checkTargets = false;
  std::string work;
  int port = 0;
  std::string pki;
  // Set in a child: the configuration it measures, its trust file and its directory.
  std::string child;
  std::string trustFile;
  std::string dir;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.library = tessora::host::LibraryNextToProgram();
  const std::map<std::string, FlagSetter> valued = {
      {"--requests", [&](const std::string& v) { options.requests = std::stoi(v); }},
      {"--rounds", [&](const std::string& v) { options.rounds = std::stoi(v); }},
      {"--library", [&](const std::string& v) { options.library = v; }},
      {"--trust", [&](const std::string& v) { options.trust = v; }},
      {"--check-ratio", [&](const std::string& v) { options.checkRatio = std::stod(v); }},
      {"--work", [&](const std::string& v) { options.work = v; }},
      {"--port", [&](const std::string& v) { options.port = std::stoi(v); }},
      {"--pki", [&](const std::string& v) { options.pki = v; }},
      {"--child", [&](const std::string& v) { options.child = v; }},
      {"--trust-file", [&](const std::string& v) { options.trustFile = v; }},
      {"--dir", [&](const std::string& v) { options.dir = v; }},
  };
  if (!ParseFlags(argc, argv, "call_bench", valued,
                  {{"--check-targets", [&] { options.checkTargets = true; }}})) {
    return std::nullopt;
  }
  if (options.requests < 1 || options.rounds < 1) {
    std::fprintf(stderr, "call_bench: --requests and --rounds must be at least 1\n");
    return std::nullopt;
  }
  if (options.trust != "both" && options.trust != "one-ca" && options.trust != "bundle") {
    std::fprintf(stderr, "call_bench: --trust is one-ca, bundle or both\n");
    return std::nullopt;
  }
  if (options.child.empty() && (options.port != 0) != !options.pki.empty()) {
    std::fprintf(stderr, "call_bench: --port and --pki go together\n");
    return std::nullopt;
  }
  return options;
}

// ---------------------------------------------------------------------------------------------
// The child: one trust-file configuration.

// The resident set and the number of open descriptors of this process.
struct Footprint {
  long rssKb = 0;
  int fds = 0;
};

Footprint MeasureFootprint() {
  Footprint footprint;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) footprint.rssKb = std::atol(line.c_str() + 6);
  }
  std::error_code error;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++footprint.fds;
  }
  if (footprint.fds > 0) --footprint.fds;  // the listing's own descriptor
  return footprint;
}

void PrintFootprint(const char* when) {
  const Footprint footprint = MeasureFootprint();
  std::printf("%-26s RSS %7.1f MB, %3d open descriptors\n", when, footprint.rssKb / 1024.0,
              footprint.fds);
}

struct Exports {
  decltype(&ConfigureService) configureService = nullptr;
  decltype(&TessoraNet) tessoraNet = nullptr;
  // Releases each result when the library offers it, so that the footprint shows the library's
  // own memory, not the results a host keeps.
  decltype(&TessoraNetFree) tessoraNetFree = nullptr;
};

// A round of the library: a new thread configures itself and performs the operation `count`
// times, as a host's worker thread does.
std::vector<double> LibraryRound(const Exports& api, const std::string& environment, int count,
                                 Failures& failures) {
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(count));
  std::thread worker([&] {
    api.configureService("bench-client", "bench-secret", environment.c_str(), "endpoints.json", "");
    for (int i = 0; i < count; ++i) {
      std::string text;
      const Clock::time_point start = Clock::now();
      try {
        const char* result = api.tessoraNet(kOperation, "", "", "");
        times.push_back(Ms(Clock::now() - start));
        text = result != nullptr ? result : "";
        if (api.tessoraNetFree != nullptr) api.tessoraNetFree(const_cast<char*>(result));
      } catch (const std::exception& failure) {
        times.push_back(Ms(Clock::now() - start));
        text = std::string("failure: ") + failure.what();
      }
      if (!ExpectedAnswer(text)) failures.Note("\"" + text + "\"");
    }
  });
  worker.join();
  return times;
}

// A round of libcurl, also on a thread of its own: a new easy handle per request, its connection
// closed after the answer, TLS 1.2 only, the same trust file.
std::vector<double> CurlRound(const std::string& url, const std::string& trustFile, int count,
                              Failures& failures) {
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(count));
  std::thread worker([&] {
    for (int i = 0; i < count; ++i) {
      std::string body;
      const Clock::time_point start = Clock::now();
      CURL* easy = curl_easy_init();
      SetUpCurlGet(easy, url, trustFile, CurlTls::kOnly12, true, body);
      PerformCurlGet(easy, body, failures);
      curl_easy_cleanup(easy);
      times.push_back(Ms(Clock::now() - start));
    }
  });
  worker.join();
  return times;
}

int CountCertificates(const std::string& file) {
  const std::string text = ReadFile(file);
  int count = 0;
  for (std::size_t at = text.find("BEGIN CERTIFICATE"); at != std::string::npos;
       at = text.find("BEGIN CERTIFICATE", at + 1)) {
    ++count;
  }
  return count;
}

int RunChild(const Options& options) {
  fs::current_path(options.dir);  // the library opens "Call Logs.txt" here when it loads
  if (!WriteFile("endpoints.json", kEndpoints)) {
    std::fprintf(stderr, "call_bench: cannot write the endpoint file in %s\n", options.dir.c_str());
    return 2;
  }
  const int certificates = CountCertificates(options.trustFile);
  std::printf("trust file: %s (%d certificate%s)\n", options.trustFile.c_str(), certificates,
              certificates == 1 ? "" : "s");
  PrintFootprint("at start:");

  tessora::host::Library library(options.library);
  if (!library.Loaded()) {
    std::fprintf(stderr, "call_bench: cannot load %s: %s\n", options.library.c_str(),
                 library.Error().c_str());
    return 2;
  }
  Exports api;
  api.configureService =
      reinterpret_cast<decltype(&ConfigureService)>(library.Symbol("ConfigureService"));
  api.tessoraNet = reinterpret_cast<decltype(&TessoraNet)>(library.Symbol("TessoraNet"));
  api.tessoraNetFree =
      reinterpret_cast<decltype(&TessoraNetFree)>(library.Symbol("TessoraNetFree"));
  if (api.configureService == nullptr || api.tessoraNet == nullptr) {
    std::fprintf(stderr, "call_bench: %s lacks an export\n", options.library.c_str());
    return 2;
  }
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "call_bench: curl_global_init failed\n");
    return 2;
  }

  const std::string host = "127.0.0.1:" + std::to_string(options.port);
  const std::string environment = host + "/";
  const std::string url = "https://" + host + kRoute;
  Failures libraryFailures;
  Failures curlFailures;

  // The first request of each client (loading, first use of the TLS library) is timed apart.
  const double libraryFirst = LibraryRound(api, environment, 1, libraryFailures).front();
  const double curlFirst = CurlRound(url, options.trustFile, 1, curlFailures).front();
  std::printf("first request:             TessoraNet %.2f ms, libcurl %.2f ms\n", libraryFirst,
              curlFirst);
  PrintFootprint("after the first requests:");

  std::printf("%5s %15s %12s %7s\n", "round", "TessoraNet ms", "libcurl ms", "ratio");
  std::vector<double> libraryAll;
  std::vector<double> curlAll;
  std::vector<double> roundRatios;
  for (int round = 0; round < options.rounds; ++round) {
    // Alternate which client goes first, so neither always meets a freshly idle server.
    std::vector<double> libraryTimes;
    std::vector<double> curlTimes;
    if (round % 2 == 0) {
      libraryTimes = LibraryRound(api, environment, options.requests, libraryFailures);
      curlTimes = CurlRound(url, options.trustFile, options.requests, curlFailures);
    } else {
      curlTimes = CurlRound(url, options.trustFile, options.requests, curlFailures);
      libraryTimes = LibraryRound(api, environment, options.requests, libraryFailures);
    }
    const double libraryMedian = Median(libraryTimes);
    const double curlMedian = Median(curlTimes);
    std::printf("%5d %15.2f %12.2f %7.2f\n", round + 1, libraryMedian, curlMedian,
                libraryMedian / curlMedian);
    roundRatios.push_back(libraryMedian / curlMedian);
    libraryAll.insert(libraryAll.end(), libraryTimes.begin(), libraryTimes.end());
    curlAll.insert(curlAll.end(), curlTimes.begin(), curlTimes.end());
  }
  const double libraryMedian = Median(libraryAll);
  const double curlMedian = Median(curlAll);
  std::printf("%5s %15.2f %12.2f %7.2f   (%zu requests per client)\n", "all", libraryMedian,
              curlMedian, libraryMedian / curlMedian, libraryAll.size());
  // Load from other processes moves both clients of a round alike: the rounds' own ratios show
  // the comparison with less of that noise.
  const double pairedRatio = Median(roundRatios);
  std::printf("median of the rounds' ratios: %.2f\n", pairedRatio);
  PrintFootprint("after all rounds:");
  curl_global_cleanup();

  int rc = 0;
  for (const auto& [client, failures] :
       {std::pair{"TessoraNet", &libraryFailures}, std::pair{"libcurl", &curlFailures}}) {
    if (failures->count > 0) {
      std::printf("%s: %d requests failed; the first: %s\n", client, failures->count,
                  failures->first.c_str());
      rc = 3;
    }
  }
  std::ofstream result("result");
  result << libraryMedian << ' ' << curlMedian << ' ' << pairedRatio << '\n';
  return rc;
}

// ---------------------------------------------------------------------------------------------
// The parent: PKI, server, trust files, one child per configuration, the summary.

struct Outcome {
  const TrustConfig* config;
  double libraryMs;
  double curlMs;
  double pairedRatio;  // the median of the rounds' ratios
};

int RunParent(const Options& options) {
  WorkDir work(options.work, "tessora-call-bench");
  fs::path pki = options.pki;
  if (pki.empty()) {
    pki = work.Path() / "pki";
    std::printf("== making the test PKI\n");
    if (!MakeTestPki(pki)) {
      std::fprintf(stderr, "call_bench: making the test PKI failed\n");
      return 2;
    }
  }
  pki = fs::absolute(pki);
  if (!fs::exists(pki / "ca.pem")) {
    std::fprintf(stderr, "call_bench: no ca.pem in %s\n", pki.c_str());
    return 2;
  }
  Nginx nginx(work.Path() / "nginx");
  int port = options.port;
  if (port == 0) {
    port = nginx.Start(pki);
    if (port == 0) {
      std::fprintf(stderr, "call_bench: nginx did not start\n");
      return 2;
    }
    std::printf("== nginx on 127.0.0.1:%d\n", port);
  }

  const std::string ca = ReadFile(pki / "ca.pem");
  const fs::path self = fs::read_symlink("/proc/self/exe");
  std::vector<Outcome> outcomes;
  for (const TrustConfig& config : kTrustConfigs) {
    if (options.trust != "both" && options.trust != config.name) continue;
    const fs::path trustFile = work.Path() / (std::string("trust-") + config.name + ".pem");
    std::string trust = ca;
    if (std::string(config.name) == "bundle") {
      if (!fs::exists(kSystemBundle)) {
        std::printf("== %s: skipped, there is no %s\n", config.description, kSystemBundle);
        continue;
      }
      trust = ReadFile(kSystemBundle) + "\n" + ca;
    }
    const fs::path dir = work.Path() / config.name;
    fs::create_directories(dir);
    if (!WriteFile(trustFile, trust)) {
      std::fprintf(stderr, "call_bench: cannot write %s\n", trustFile.c_str());
      return 2;
    }
    std::printf("\n== %s: %d rounds x %d requests per client, library %s\n", config.description,
                options.rounds, options.requests, options.library.c_str());
    const std::string command =
        "SSL_CERT_FILE=" + ShellQuote(trustFile.string()) + " " + ShellQuote(self.string()) +
        " --child " + config.name + " --trust-file " + ShellQuote(trustFile.string()) + " --dir " +
        ShellQuote(dir.string()) + " --port " + std::to_string(port) + " --requests " +
        std::to_string(options.requests) + " --rounds " + std::to_string(options.rounds) +
        " --library " + ShellQuote(options.library);
    const bool ran = Run(command);
    Outcome outcome{&config, 0, 0, 0};
    std::istringstream result(ReadFile(dir / "result"));
    if (!ran || !(result >> outcome.libraryMs >> outcome.curlMs >> outcome.pairedRatio)) {
      std::fprintf(stderr, "call_bench: the %s run failed\n", config.name);
      return 2;
    }
    outcomes.push_back(outcome);
  }

  std::printf("\n== medians, ms per request\n");
  std::printf("| client | trust file | ms per request |\n|---|---|---|\n");
  for (const Outcome& outcome : outcomes) {
    std::printf("| TessoraNet | %s | %s |\n", outcome.config->description,
                Fixed(outcome.libraryMs).c_str());
    std::printf("| libcurl | %s | %s |\n", outcome.config->description,
                Fixed(outcome.curlMs).c_str());
  }
  int rc = 0;
  for (const Outcome& outcome : outcomes) {
    const double ratio = outcome.libraryMs / outcome.curlMs;
    const bool targetMet = ratio <= outcome.config->target;
    std::printf("ratio TessoraNet/libcurl, %s: %.2f (target %.2f: %s; rounds' median %.2f)\n",
                outcome.config->description, ratio, outcome.config->target,
                targetMet ? "met" : "not met", outcome.pairedRatio);
    if (options.checkTargets && !targetMet) rc = 1;
    if (options.checkRatio && ratio > *options.checkRatio) {
      std::printf("  exceeds --check-ratio %.2f\n", *options.checkRatio);
      rc = 1;
    }
  }
  if (!options.work.empty()) std::printf("files kept in %s\n", work.Path().c_str());
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  return RunGuarded("call_bench", [&] {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) return 2;
    // The child works in a directory of its own: it gets the library's path absolute.
    options->library = fs::absolute(options->library).string();
    return options->child.empty() ? RunParent(*options) : RunChild(*options);
  });
}
