#include "session.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TessoraNet.h"
#include "catalogue/catalogue.h"
#include "console.h"
#include "endpoint_check.h"
#include "help.h"
#include "host_loader.h"
#include "http/secret_mask.h"
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
  // Extensions; nullptr in a library without them.
  decltype(&::TessoraNetFree) free = nullptr;
  decltype(&::TessoraNetLastStatus) lastStatus = nullptr;
  decltype(&::TessoraNetLastError) lastError = nullptr;
  decltype(&::TessoraNetVersion) version = nullptr;
  decltype(&::TessoraNetSetOption) setOption = nullptr;
};

template <class T>
void Resolve(const host::Library& library, T& function, const char* name) {
  function = reinterpret_cast<T>(library.Symbol(name));
}

// Result buffers: released with TessoraNetFree where the library has it; otherwise they stay
// reachable from here until the process ends.
std::vector<char*>& KeptBuffers() {
  static auto* buffers = new std::vector<char*>();
  return *buffers;
}

void Release(const Exports& exports, char* buffer) {
  if (buffer == nullptr) return;
  if (exports.free != nullptr) {
    exports.free(buffer);
  } else {
    KeptBuffers().push_back(buffer);
  }
}

// The traffic log the library writes for the thread that loaded it: "Call Logs.txt" in the
// current directory. The tool reads what each operation added.
constexpr char kCallLog[] = "Call Logs.txt";

std::uint64_t LogSize() {
  std::ifstream in(kCallLog, std::ios::binary | std::ios::ate);
  if (!in) return 0;
  const auto size = in.tellg();
  return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

std::string LogFrom(std::uint64_t offset) {
  std::ifstream in(kCallLog, std::ios::binary);
  if (!in) return {};
  in.seekg(static_cast<std::streamoff>(offset));
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
  std::string line = "token        ";
  if (token == nullptr || *token == '\0') {
    line += "none";
  } else {
    const std::string text(token);
    line += "present, " + ShortenToken(text) + " (" + std::to_string(text.size()) + " bytes)";
  }
  Release(exports, token);
  line += expired != 0 ? ", expired" : ", not expired";
  printer.Info(line);
}

// What the tool adds when the library fails an operation: which file and option the failure is
// about. The library's message stays as it is; these lines follow it. Once the library has read
// the endpoint file (with the first operation that succeeded), a failure can only be about an
// operation the file lacks.
void ExplainFailure(const Configuration& config, const Operation& operation, bool catalogueLoaded,
                    const Printer& printer) {
  const EndpointReport report = CheckEndpointFile(config.endpoints);
  if (catalogueLoaded && report.outcome != EndpointReport::Outcome::kLoaded) return;
  const std::string file = "the endpoint file " + Quoted(config.endpoints) + " (--endpoints)";
  switch (report.outcome) {
    case EndpointReport::Outcome::kNotGiven:
      printer.Error("no endpoint file was given: name it with --endpoints FILE");
      return;
    case EndpointReport::Outcome::kCannotOpen:
      printer.Error(file + " cannot be opened; a relative path counts from the current folder");
      return;
    case EndpointReport::Outcome::kInvalid:
      for (const EndpointOperation& entry : report.operations) {
        if (!entry.methodValid) {
          printer.Error(file + ": operation " + Quoted(entry.name) + " has method " +
                        Quoted(entry.method) + "; the methods are GET, POST, PUT and DELETE");
          return;
        }
      }
      printer.Error("the message is about " + file + " (line and column in it)");
      return;
    case EndpointReport::Outcome::kLoaded:
      break;
  }
  std::vector<std::string> names;
  for (const EndpointOperation& entry : report.operations) {
    if (entry.name == operation.name) return;  // the failure is not about the file
    names.push_back(entry.name);
  }
  std::string listed;
  for (const std::string& name : names)
    listed += (listed.empty() ? "" : ", ") + name;
  printer.Error(file + " has no operation " + Quoted(operation.name) +
                " (names are case-sensitive); it has: " + (listed.empty() ? "none" : listed));
}

// Warnings before a call: a placeholder the route parameters leave in the route, a route
// parameter the route does not use.
void WarnAboutRoute(const EndpointReport& endpoints, const Operation& operation,
                    const Printer& printer) {
  for (const EndpointOperation& entry : endpoints.operations) {
    if (entry.name != operation.name) continue;
    const RouteCheck check = CheckRoute(entry.route, operation.params);
    if (check.tooLong) {
      printer.Error("warning: " + operation.name +
                    ": the route and the --param values make a URL of more than " +
                    std::to_string(UrlResolver::kMaxResolvedUrl) +
                    " characters, which the library refuses to send");
      return;
    }
    for (const std::string& placeholder : check.leftOver) {
      printer.Error("warning: " + operation.name + ": the route " + Quoted(check.route) +
                    " still holds " + placeholder +
                    ", which goes to the server as it is; give --param " + placeholder.substr(1) +
                    "=VALUE");
    }
    for (const std::string& parameter : check.unused) {
      printer.Error("warning: " + operation.name + ": --param " + parameter +
                    " is not used: the route " + Quoted(entry.route) +
                    " has no :" + parameter.substr(0, parameter.find('=')) +
                    " (a query parameter goes with --query)");
    }
    return;
  }
}

// --trace: what the operation added to the traffic log, its HTTP status and why it got no
// answer.
void Trace(const Exports& exports, std::uint64_t logOffset, bool full, const Printer& printer) {
  // Secrets masked unless asked for: a trace is pasted into tickets and chats.
  const std::string records = full ? LogFrom(logOffset) : MaskSecrets(LogFrom(logOffset));
  printer.Info("-- \"" + std::string(kCallLog) + "\", " + std::to_string(records.size()) +
               " bytes added:");
  if (!records.empty()) {
    printer.Info(records.back() == '\n' ? records.substr(0, records.size() - 1) : records);
  }
  if (exports.lastStatus == nullptr || exports.lastError == nullptr) {
    printer.Info("-- status: unknown (the library lacks TessoraNetLastStatus)");
    return;
  }
  const int status = exports.lastStatus();
  char* reason = nullptr;
  exports.lastError(&reason);
  std::string line = "-- status: " + (status == 0 ? std::string("none") : std::to_string(status));
  if (reason != nullptr && *reason != '\0') line += ", failure: " + std::string(reason);
  Release(exports, reason);
  printer.Info(line);
}

}  // namespace

int RunVersion(const Invocation& invocation) {
  WriteText(stdout, "tessora " TESSORA_VERSION "\n");
  const std::string path =
      invocation.library.empty() ? host::LibraryNextToProgram() : invocation.library;
  host::Library library(path);
  if (!library.Loaded()) {
    WriteText(stderr,
              "tessora: cannot load the library " + Quoted(path) + ": " + library.Error() + "\n");
    return kExitCannotLoad;
  }
  const std::string file = library.FilePath();
  WriteText(stdout, "library " + (file.empty() ? path : file) + "\n");
  const auto version =
      reinterpret_cast<decltype(&::TessoraNetVersion)>(library.Symbol("TessoraNetVersion"));
  WriteText(stdout, std::string("version ") +
                        (version != nullptr ? version()
                                            : "unknown (no TessoraNetVersion: older than 3.1)") +
                        "\n");
  const std::string resource = library.ResourceVersion();
  if (!resource.empty()) WriteText(stdout, "file version " + resource + " (version resource)\n");
  return kExitOk;
}

namespace {

// --set KEY=VALUE through TessoraNetSetOption, in order; false after the first one refused.
bool ApplySettings(const Invocation& invocation, const Exports& exports, const Printer& printer) {
  if (invocation.settings.empty()) return true;
  if (exports.setOption == nullptr) {
    printer.Error("this library has no TessoraNetSetOption: --set needs a newer one");
    return false;
  }
  for (const auto& [key, value] : invocation.settings) {
    if (exports.setOption(key.c_str(), value.c_str()) != 0) continue;
    std::string reason;
    if (exports.lastError != nullptr) {
      char* text = nullptr;
      exports.lastError(&text);
      if (text != nullptr) reason = text;
      Release(exports, text);
    }
    printer.Error("--set " + key + "=" + value + " was refused: " + reason);
    return false;
  }
  return true;
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
  Resolve(library, exports.free, "TessoraNetFree");
  Resolve(library, exports.lastStatus, "TessoraNetLastStatus");
  Resolve(library, exports.lastError, "TessoraNetLastError");
  Resolve(library, exports.version, "TessoraNetVersion");
  Resolve(library, exports.setOption, "TessoraNetSetOption");
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
  if (!ApplySettings(invocation, exports, printer)) return kExitUsage;
  PrintConfiguration(invocation, path, printer);
  OpenSslReport openssl;
  openssl.Summary(printer);
  PrintToken(exports, printer);

  // The tool's own reading of the endpoint file, for the warnings before each call.
  const EndpointReport endpoints =
      invocation.operations.empty() ? EndpointReport() : CheckEndpointFile(config.endpoints);
  bool catalogueLoaded = false;  // the library reads the file with the first operation only
  const std::size_t count = invocation.operations.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Operation& operation = invocation.operations[i];
    const std::string parameters = JoinLines(operation.params);
    const std::string queries = JoinLines(operation.queries);
    printer.Info("");
    printer.Info("== " + std::to_string(i + 1) + "/" + std::to_string(count) + " " +
                 operation.name);
    WarnAboutRoute(endpoints, operation, printer);
    const std::uint64_t logOffset = invocation.trace ? LogSize() : 0;
    char* result = nullptr;
    failure = host::CatchHostFailure([&] {
      result = exports.tessoraNet(operation.name.c_str(), parameters.c_str(), queries.c_str(),
                                  bodies[i].c_str());
    });
    openssl.ShowOnceLoaded(printer);
    if (failure) {
      printer.Error("operation " + Quoted(operation.name) + " failed: " + *failure);
      ExplainFailure(config, operation, catalogueLoaded, printer);
      if (invocation.trace) Trace(exports, logOffset, invocation.traceFull, printer);
      if (i + 1 < count) {
        printer.Error("the " + std::to_string(count - i - 1) +
                      " operation(s) after it were not performed");
      }
      return kExitLibraryFailure;
    }
    catalogueLoaded = true;
    printer.Response(result != nullptr ? std::string(result) : std::string());
    Release(exports, result);
    if (invocation.trace) Trace(exports, logOffset, invocation.traceFull, printer);
    PrintToken(exports, printer);
  }
  return kExitOk;
}

}  // namespace tessora::cli
