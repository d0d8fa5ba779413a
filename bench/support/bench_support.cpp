#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace tessora::bench {

namespace fs = std::filesystem;

namespace {

// The answer starts so in every code page the library may hand it back in.
constexpr char kExpectedStart[] = R"({"name":"Jos)";

std::string Peers() {
  return ShellQuote(TESSORA_PYTHON) + " " + ShellQuote(TESSORA_PEERS_SCRIPT);
}

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

}  // namespace

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool Run(const std::string& command) {
  std::fflush(stdout);
  std::fflush(stderr);
  return std::system(command.c_str()) == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out.flush());
}

bool ExpectedAnswer(const std::string& text) {
  return text.rfind(kExpectedStart, 0) == 0;
}

void Failures::Note(const std::string& what) {
  if (count++ == 0) first = what;
}

bool ParseFlags(int argc, char** argv, const char* program,
                const std::map<std::string, FlagSetter>& valued,
                const std::map<std::string, std::function<void()>>& switches) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const auto onOff = switches.find(flag);
    if (onOff != switches.end()) {
      onOff->second();
      continue;
    }
    const auto setter = valued.find(flag);
    if (setter == valued.end()) {
      std::fprintf(stderr, "%s: unknown option %s\n", program, flag.c_str());
      return false;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "%s: %s needs a value\n", program, flag.c_str());
      return false;
    }
    const std::string value = argv[++i];
    try {
      setter->second(value);
    } catch (const std::exception&) {
      std::fprintf(stderr, "%s: %s: not a number: %s\n", program, flag.c_str(), value.c_str());
      return false;
    }
  }
  return true;
}

int RunGuarded(const char* program, const std::function<int()>& body) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    return body();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", program, failure.what());
    return 2;
  }
}

WorkDir::WorkDir(const std::string& named, const std::string& prefix) : keep_(!named.empty()) {
  if (keep_) {
    path_ = fs::absolute(named);
  } else {
    std::random_device random;
    std::ostringstream name;
    name << prefix << "-" << std::hex << random() << random();
    path_ = fs::temp_directory_path() / name.str();
  }
  fs::create_directories(path_);
}

WorkDir::~WorkDir() {
  std::error_code ignored;
  if (!keep_) fs::remove_all(path_, ignored);
}

bool MakeTestPki(const fs::path& dir) {
  return Run("bash " + ShellQuote(TESSORA_PKI_SCRIPT) + " " + ShellQuote(dir.string()));
}

Nginx::Nginx(fs::path dir) : dir_(std::move(dir)) {}

Nginx::~Nginx() {
  if (started_) Run(Peers() + " stop " + ShellQuote(dir_.string()));
}

int Nginx::Start(const fs::path& pki, bool allowTls13) {
  started_ = true;
  if (!Run(Peers() + " start nginx " + ShellQuote(dir_.string()) + " " + ShellQuote(pki.string()) +
           (allowTls13 ? " --tls13" : ""))) {
    return 0;
  }
  return std::atoi(ReadFile(dir_ / "port").c_str());
}

void SetUpCurlGet(CURL* easy, const std::string& url, const std::string& trustFile, CurlTls tls,
                  bool forbidReuse, std::string& body) {
  const long version = tls == CurlTls::kOnly12 ? static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                                                     static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2)
                                               : static_cast<long>(CURL_SSLVERSION_TLSv1_3) |
                                                     static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_3);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_CAINFO, trustFile.c_str());
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, version);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, forbidReuse ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
}

void PerformCurlGet(CURL* easy, std::string& body, Failures& failures) {
  body.clear();
  long status = 0;
  const CURLcode code = curl_easy_perform(easy);
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) {
    failures.Note(curl_easy_strerror(code));
  } else if (status != 200 || !ExpectedAnswer(body)) {
    failures.Note("HTTP " + std::to_string(status) + " \"" + body + "\"");
  }
}

}  // namespace tessora::bench
