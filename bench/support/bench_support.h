// What the whole-call benchmarks (call_bench, round_trip_bench) share: the operation they call and
// the answer they expect, timing and medians, running commands and files, their work directory,
// the loopback nginx of the tests with the test PKI, the command line, and one libcurl GET.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tessora::bench {

using Clock = std::chrono::steady_clock;

// The operation the benchmarks call and the route nginx answers it on (tests/support/peers.py).
inline constexpr char kOperation[] = "JSON";
inline constexpr char kEndpoints[] =
    R"({"ENDPOINTS": {"JSON": {"route": "/v1/json", "method": "GET"}}})";
inline constexpr char kRoute[] = "/api.tessora.net/v1/json";

double Ms(Clock::duration d);
double Median(std::vector<double> values);

// A value with two decimals, for the tables.
std::string Fixed(double value);

std::string ShellQuote(const std::string& text);
// Runs a shell command; true when it exits with 0.
bool Run(const std::string& command);
std::string ReadFile(const std::filesystem::path& path);
bool WriteFile(const std::filesystem::path& path, const std::string& bytes);

// True when the answer starts as the operation's answer does in every code page the library may
// hand it back in.
bool ExpectedAnswer(const std::string& text);

// Requests of one client that did not bring the expected answer; the first one is shown.
struct Failures {
  int count = 0;
  std::string first;

  void Note(const std::string& what);
};

// The command line: `valued` options take the next argument, `switches` none. Prints what is
// wrong (prefixed with `program`) and returns false on an unknown option, a missing value or a
// value its setter refuses with an exception.
using FlagSetter = std::function<void(const std::string&)>;
bool ParseFlags(int argc, char** argv, const char* program,
                const std::map<std::string, FlagSetter>& valued,
                const std::map<std::string, std::function<void()>>& switches);

// Runs a benchmark's `body` with standard output line-buffered (progress shows through a pipe
// too); a failure escaping it is printed, prefixed with `program`, and gives exit code 2.
int RunGuarded(const char* program, const std::function<int()>& body);

// A directory of its own for the run, removed at the end unless the user named it.
class WorkDir {
 public:
  // `named` empty: a new directory "<prefix>-<random>" in the temporary directory.
  WorkDir(const std::string& named, const std::string& prefix);
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool keep_;
};

// Makes the test PKI (tests/support/make_test_pki.sh) in `dir`; false when that failed.
bool MakeTestPki(const std::filesystem::path& dir);

// The loopback nginx of the tests (tests/support/peers.py), stopped when this goes out of scope.
class Nginx {
 public:
  explicit Nginx(std::filesystem::path dir);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  // Starts nginx with the certificates of `pki`, TLS 1.2 only or, with `allowTls13`, TLS 1.2 and
  // 1.3; the port, 0 when it did not start.
  int Start(const std::filesystem::path& pki, bool allowTls13 = false);

 private:
  std::filesystem::path dir_;
  bool started_ = false;
};

// How a libcurl GET negotiates TLS: exactly 1.2 or exactly 1.3.
enum class CurlTls { kOnly12, kOnly13 };

// Prepares `easy` for a GET of `url` that trusts `trustFile`, with TLS pinned to `tls`, appending
// the body to `body`; `forbidReuse` closes the connection after the answer.
void SetUpCurlGet(CURL* easy, const std::string& url, const std::string& trustFile, CurlTls tls,
                  bool forbidReuse, std::string& body);

// Empties `body`, performs the GET `easy` was set up for (with that `body`) and notes in
// `failures` what did not bring the expected answer.
void PerformCurlGet(CURL* easy, std::string& body, Failures& failures);

}  // namespace tessora::bench
