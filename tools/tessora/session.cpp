#include "session.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TessoraNet.h"
#include "console.h"
#include "help.h"
#include "host_loader.h"
#include "json_indent.h"
#include "openssl_in_use.h"

namespace tessora::cli {

namespace {

constexpr std::size_t kMaxBodyFile = 64u << 20;

// The library's functions, looked up by name.
struct Exports {
  decltype(&::ConfigureService) configureService = nullptr;
  decltype(&::ConfigureProxy) configureProxy = nullptr;
  decltype(&::TessoraNet) tessoraNet = nullptr;
  decltype(&::TessoraNetGetInstanceData) getInstanceData = nullptr;
  decltype(&::TessoraNetTokenExpired) tokenExpired = nullptr;
};

template <class T>
void Resolve(const host::Library& library, T& function, const char* name) {
  function = reinterpret_cast<T>(library.Symbol(name));
}

// Result buffers belong to the library and are never released by a host; they stay reachable
// from here until the process ends.
std::vector<char*>& KeptBuffers() {
  static auto* buffers = new std::vector<char*>();
  return *buffers;
}

class Printer {
 public:
  explicit Printer(bool raw) : raw_(raw) {}

  // Lines about the session: standard output, or standard error in raw mode.
  void Info(const std::string& line) const {
    std::FILE* stream = raw_ ? stderr : stdout;
    WriteText(stream, line + "\n");
  }

  void Error(const std::string& line) const {
    std::fflush(stdout);
    WriteText(stderr, "tessora: " + line + "\n");
  }

  void Response(const std::string& text) const {
    if (raw_) {
      WriteText(stdout, text + "\n");
      return;
    }
    if (text.empty()) {
      Info(
          "(empty response: an empty body, or the exchange failed before a response; see "
          "\"Call Logs.txt\")");
      return;
    }
    IndentOptions options;
    options.isLeadByte = &IsAnsiLeadByte;
    if (auto indented = IndentJson(text, options)) {
      WriteText(stdout, *indented + "\n");
      return;
    }
    WriteText(stdout, text);
    if (text.back() != '\n') WriteText(stdout, "\n");
    if (text.rfind("HTTP/", 0) == 0 && text.find('\n') == std::string::npos) {
      Info("(a bare status line: the exchange failed after it; see \"Call Logs.txt\")");
    }
  }

 private:
  bool raw_;
};

// The summary's OpenSSL line. The Windows library loads OpenSSL with its first connection, so the
// line may come only after the first operation; it is shown once, with a warning when the line
// no longer receives security fixes.
class OpenSslReport {
 public:
  void Summary(const Printer& printer) {
    if (!ShowOnceLoaded(printer)) {
      printer.Info("openssl      not loaded yet: the library loads it for its first connection");
    }
  }

  bool ShowOnceLoaded(const Printer& printer) {
    if (shown_) return true;
    const std::optional<OpenSslInUse> openssl = FindOpenSslInUse();
    if (!openssl) return false;
    shown_ = true;
    printer.Info("openssl      " + DescribeOpenSsl(*openssl));
    const std::string warning = OpenSslWarning(*openssl);
    if (!warning.empty()) printer.Error(warning);
    return true;
  }

 private:
  bool shown_ = false;
};

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string ValueOrNone(const std::string& text) {
  return text.empty() ? "(none)" : Quoted(text);
}

// Reads the body files before anything is sent, so a typo costs no request.
bool ReadBodies(const Invocation& invocation, std::vector<std::string>& bodies,
                const Printer& printer) {
  for (const Operation& operation : invocation.operations) {
    if (!operation.bodyFile) {
      bodies.push_back(operation.body.value_or(""));
      continue;
    }
    std::ifstream in(*operation.bodyFile, std::ios::binary);
    if (!in) {
      printer.Error("cannot read the body file " + Quoted(*operation.bodyFile) + " (operation " +
                    Quoted(operation.name) + ")");
      return false;
    }
    std::string bytes;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
      bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
      if (bytes.size() > kMaxBodyFile) {
        printer.Error("the body file " + Quoted(*operation.bodyFile) + " is larger than 64 MiB");
        return false;
      }
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes = Utf8ToAnsi(bytes.substr(3));
    bodies.push_back(bytes);
  }
  return true;
}

void PrintConfiguration(const Invocation& invocation, const std::string& path,
                        const Printer& printer) {
  const Configuration& config = invocation.config;
  printer.Info("library      " + path);
  printer.Info("endpoints    " + ValueOrNone(config.endpoints));
  printer.Info("environment  " + ValueOrNone(config.environment));
  std::string client = ValueOrNone(config.clientId);
  client += config.clientSecret.empty()
                ? ", no secret"
                : ", secret of " + std::to_string(config.clientSecret.size()) + " bytes";
  printer.Info("client id    " + client);
  printer.Info("partner      " +
               (config.partnerToken.empty() ? std::string("(none)") : std::string("token set")));
  std::string proxy = "(none)";
  if (!config.proxyHost.empty()) {
    proxy = config.proxyHost + ":" + std::to_string(config.proxyPort);
    if (!config.proxyUser.empty()) proxy += ", user " + Quoted(config.proxyUser);
  }
  printer.Info("proxy        " + proxy);
}

void PrintToken(const Exports& exports, const Printer& printer) {
  char* token = nullptr;
  unsigned expired = 1;
  const auto failure = host::CatchHostFailure([&] {
    exports.getInstanceData(&token);
    expired = exports.tokenExpired() & 0xFFu;
  });
  if (failure) {
    printer.Error("cannot read the token state: " + *failure);
    return;
  }
  if (token != nullptr) KeptBuffers().push_back(token);
  std::string line = "token        ";
  if (token == nullptr || *token == '\0') {
    line += "none";
  } else {
    const std::string text(token);
    line += "present, " + ShortenToken(text) + " (" + std::to_string(text.size()) + " bytes)";
  }
  line += expired != 0 ? ", expired" : ", not expired";
  printer.Info(line);
}

}  // namespace

int RunSession(const Invocation& invocation) {
  const Printer printer(invocation.raw);
  std::vector<std::string> bodies;
  if (!ReadBodies(invocation, bodies, printer)) return kExitUsage;

  const std::string path =
      invocation.library.empty() ? host::LibraryNextToProgram() : invocation.library;
  host::Library library(path);
  if (!library.Loaded()) {
    printer.Error("cannot load the library " + Quoted(path) + ": " + library.Error());
    return kExitCannotLoad;
  }
  Exports exports;
  Resolve(library, exports.configureService, "ConfigureService");
  Resolve(library, exports.configureProxy, "ConfigureProxy");
  Resolve(library, exports.tessoraNet, "TessoraNet");
  Resolve(library, exports.getInstanceData, "TessoraNetGetInstanceData");
  Resolve(library, exports.tokenExpired, "TessoraNetTokenExpired");
  if (exports.configureService == nullptr || exports.configureProxy == nullptr ||
      exports.getInstanceData == nullptr || exports.tokenExpired == nullptr) {
    printer.Error(Quoted(path) +
                  " is not the TessoraNet library: it lacks ConfigureService, "
                  "ConfigureProxy, TessoraNetGetInstanceData or TessoraNetTokenExpired");
    return kExitCannotLoad;
  }
  if (!invocation.operations.empty() && exports.tessoraNet == nullptr) {
    printer.Error(Quoted(path) +
                  " does not export TessoraNet, so it cannot perform operations; "
                  "run without operations to configure only");
    return kExitCannotLoad;
  }

  const Configuration& config = invocation.config;
  auto failure = host::CatchHostFailure([&] {
    exports.configureService(config.clientId.c_str(), config.clientSecret.c_str(),
                             config.environment.c_str(), config.endpoints.c_str(),
                             config.partnerToken.c_str());
    exports.configureProxy(config.proxyHost.c_str(), config.proxyPort, config.proxyUser.c_str(),
                           config.proxyPassword.c_str());
  });
  if (failure) {
    printer.Error("the configuration failed: " + *failure);
    return kExitLibraryFailure;
  }
  PrintConfiguration(invocation, path, printer);
  OpenSslReport openssl;
  openssl.Summary(printer);
  PrintToken(exports, printer);

  const std::size_t count = invocation.operations.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Operation& operation = invocation.operations[i];
    const std::string parameters = JoinLines(operation.params);
    const std::string queries = JoinLines(operation.queries);
    printer.Info("");
    printer.Info("== " + std::to_string(i + 1) + "/" + std::to_string(count) + " " +
                 operation.name);
    char* result = nullptr;
    failure = host::CatchHostFailure([&] {
      result = exports.tessoraNet(operation.name.c_str(), parameters.c_str(), queries.c_str(),
                                  bodies[i].c_str());
    });
    openssl.ShowOnceLoaded(printer);
    if (failure) {
      printer.Error("operation " + Quoted(operation.name) + " failed: " + *failure);
      if (i + 1 < count) {
        printer.Error("the " + std::to_string(count - i - 1) +
                      " operation(s) after it were not performed");
      }
      return kExitLibraryFailure;
    }
    if (result != nullptr) KeptBuffers().push_back(result);
    printer.Response(result != nullptr ? std::string(result) : std::string());
    PrintToken(exports, printer);
  }
  return kExitOk;
}

}  // namespace tessora::cli
