#include "doctor.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "certificate_info.h"
#include "console.h"
#include "endpoint_check.h"
#include "help.h"
#include "host_loader.h"
#include "http/client.h"
#include "http/request_profile.h"
#include "net/tcp_connect.h"
#include "net/tls_channel.h"
#include "net/tls_context.h"
#include "net/tls_library.h"
#include "openssl_in_use.h"
#include "platform/codepage.h"
#include "platform/socket.h"
#include "settings_report.h"

namespace tessora::cli {

namespace {

enum class Status { kOk, kWarn, kFail, kSkip };

// The lines of the report, and whether any check failed.
class Report {
 public:
  void Line(Status status, const std::string& check, const std::string& finding,
            const std::string& whatToDo = {}) {
    static const char* const kLabels[] = {"OK  ", "WARN", "FAIL", "SKIP"};
    std::string name = check;
    name.resize(kCheckWidth, ' ');
    WriteText(stdout,
              std::string(kLabels[static_cast<int>(status)]) + "  " + name + finding + "\n");
    if (!whatToDo.empty()) Detail("what to do: " + whatToDo);
    if (status == Status::kFail) ++failures_;
    if (status == Status::kWarn) ++warnings_;
  }

  static void Detail(const std::string& text) {
    WriteText(stdout, std::string(6 + kCheckWidth, ' ') + text + "\n");
  }

  int Failures() const { return failures_; }
  int Warnings() const { return warnings_; }

 private:
  static constexpr std::size_t kCheckWidth = 17;
  int failures_ = 0;
  int warnings_ = 0;
};

std::string Ansi(std::u16string_view text) {
  return platform::TextToAnsi(text);
}

// A failure's message on one line.
std::string OneLine(const Error& failure) {
  std::string text = Ansi(failure.Message());
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
    text.replace(at, 2, " ");
  return text;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

// Where the connection goes first: the API host, or the proxy.
struct Target {
  std::string host;
  int port = 0;
  bool proxy = false;
  std::string Name() const { return host + ":" + std::to_string(port); }
};

class Doctor {
 public:
  explicit Doctor(const Invocation& invocation) : invocation_(invocation) {}

  int Run() {
    platform::InitAnsiCodePage();
    CheckLibrary();
    CheckOpenSsl();
    CheckEndpointFileLine();
    CheckSettings();
    CheckBaseUrl();
    CheckCredentials();
    const bool resolved = CheckNameResolution();
    const bool connected = resolved && CheckTcpConnect();
    CheckTunnelAndHandshake(connected);
    CheckClock();
    // What the library does when it unloads: the shared client context and its sessions go while
    // the TLS library can still free them, then the TLS library itself (Windows).
    ReleaseTlsLibrary();
    std::string summary = "tessora doctor: ";
    if (report_.Failures() == 0 && report_.Warnings() == 0) {
      summary += "every check passed";
    } else {
      summary += report_.Failures() == 0 ? std::string("no check failed")
                                         : std::to_string(report_.Failures()) + " failed";
      if (report_.Warnings() > 0) {
        summary += ", " + std::to_string(report_.Warnings()) + " with a warning";
      }
    }
    WriteText(stdout, "\n" + summary + "\n");
    return report_.Failures() == 0 ? kExitOk : kExitLibraryFailure;
  }

 private:
  void CheckLibrary() {
    const std::string path =
        invocation_.library.empty() ? host::LibraryNextToProgram() : invocation_.library;
    // Loaded for this check only, and unloaded before the tool's own TLS code starts: the DLL
    // releases OpenSSL's global state when it unloads, which must not happen under a TLS library
    // the tool is using.
    const host::Library library(path);
    if (!library.Loaded()) {
      report_.Line(Status::kFail, "library", "cannot load " + Quoted(path) + ": " + library.Error(),
                   "give the library's path with --library PATH; a library that is there but "
                   "does not load lacks a library it needs (ldd / Dependency Walker tell which)");
      return;
    }
    libraryFile_ = library.FilePath().empty() ? path : library.FilePath();
    using VersionFunction = const char* (*)();
    const auto version = reinterpret_cast<VersionFunction>(library.Symbol("TessoraNetVersion"));
    if (library.Symbol("TessoraNet") == nullptr || library.Symbol("ConfigureService") == nullptr) {
      report_.Line(Status::kFail, "library", libraryFile_ + " is not the TessoraNet library",
                   "give the TessoraNet library with --library PATH");
      return;
    }
    if (version == nullptr) {
      report_.Line(Status::kWarn, "library",
                   libraryFile_ + ", version unknown (no TessoraNetVersion: older than 3.1)",
                   "update to a library with the extension exports");
      return;
    }
    report_.Line(Status::kOk, "library", libraryFile_ + ", version " + version());
  }

  void CheckOpenSsl() {
    // On Windows the library loads OpenSSL from its own folder first: the tool's loader searches
    // that folder too, so that it finds the same files. Linux: the system OpenSSL, linked.
    if (!libraryFile_.empty()) {
      const std::u16string folder = platform::AnsiToText(Folder(libraryFile_));
      SearchTlsLibraryFirstIn(folder);
    }
    tlsLibrary_ = TlsLibraryAvailable();
    const std::optional<OpenSslInUse> inUse = FindOpenSslInUse();
    if (!tlsLibrary_ || !inUse) {
      report_.Line(Status::kFail, "openssl",
                   "no usable OpenSSL found (TLS 1.2 needs OpenSSL 1.0.1 or later)",
                   "put " + OpenSsl3Files() +
                       " (OpenSSL 3) next to the TessoraNet library; on Linux install the "
                       "OpenSSL 3 runtime (libssl3)");
      return;
    }
    const std::string warning = OpenSslWarning(*inUse);
    if (!warning.empty()) {
      report_.Line(Status::kWarn, "openssl", DescribeOpenSsl(*inUse),
                   warning.substr(warning.find(';') + 2));
      return;
    }
    report_.Line(Status::kOk, "openssl", DescribeOpenSsl(*inUse));
  }

  void CheckEndpointFileLine() {
    const std::string& path = invocation_.config.endpoints;
    const EndpointReport endpoints = CheckEndpointFile(path);
    fileSettings_ = endpoints.settings;
    const std::string name = Quoted(path) + " (--endpoints)";
    switch (endpoints.outcome) {
      case EndpointReport::Outcome::kNotGiven:
        report_.Line(Status::kFail, "endpoint file", "none given",
                     "name the endpoint file with --endpoints FILE");
        return;
      case EndpointReport::Outcome::kCannotOpen:
        report_.Line(Status::kFail, "endpoint file",
                     name + " cannot be opened: " + endpoints.message,
                     "check the path; a relative path counts from the current folder");
        return;
      case EndpointReport::Outcome::kInvalid: {
        std::string finding = name + ": " + endpoints.message;
        std::string whatToDo = "correct the file at the line and column given";
        std::vector<std::string> bad;
        for (const EndpointOperation& operation : endpoints.operations) {
          if (!operation.methodValid) {
            bad.push_back(Quoted(operation.name) + " has method " + Quoted(operation.method));
          }
        }
        if (!bad.empty()) {
          finding += " (" + Joined(bad, ", ") + ")";
          whatToDo = "give every operation a \"method\" of GET, POST, PUT or DELETE";
        } else if (endpoints.message == "Invalid class typecast") {
          whatToDo =
              "\"ENDPOINTS\" must be an object whose members are objects with the strings "
              "\"route\" and \"method\"";
        }
        if (endpoints.looksLikeUtf16WithoutMark) {
          whatToDo =
              "the file looks like UTF-16 without a byte-order mark: save it as UTF-8 or "
              "with a byte-order mark";
        }
        report_.Line(Status::kFail, "endpoint file", finding, whatToDo);
        return;
      }
      case EndpointReport::Outcome::kLoaded:
        break;
    }
    const std::string finding = name + ": " + std::to_string(endpoints.operations.size()) +
                                " operation(s), " + endpoints.encoding;
    if (endpoints.operations.empty()) {
      report_.Line(Status::kWarn, "endpoint file", finding,
                   "list the operations under \"ENDPOINTS\": with none, every call fails with "
                   "\"Problem in endpoint\"");
    } else if (!endpoints.namedTwice.empty()) {
      std::vector<std::string> quoted;
      for (const std::string& twice : endpoints.namedTwice)
        quoted.push_back(Quoted(twice));
      report_.Line(Status::kWarn, "endpoint file",
                   finding + "; named more than once: " + Joined(quoted, ", ") +
                       " (the last one counts, letter case ignored)",
                   "give every operation one entry under \"ENDPOINTS\"");
    } else {
      report_.Line(Status::kOk, "endpoint file", finding);
    }
    for (const EndpointOperation& operation : endpoints.operations) {
      std::string line = operation.name + "  " + operation.method + " " + operation.route;
      if (!operation.placeholders.empty()) {
        line += "  (--param for " + Joined(operation.placeholders, ", ") + ")";
      }
      Report::Detail(line);
    }
  }

  // The settings in force, as the library would take them, and where each came from. The ones
  // that change what the later checks meet are applied to them: the API host, the trusted CA file.
  void CheckSettings() {
    const SettingsReport settings =
        ReadSettingsInForce(invocation_.settings, LibraryVariables(), fileSettings_);
    int changed = 0;
    for (const SettingInForce& setting : settings.inForce) {
      if (setting.source != "default") ++changed;
      if (setting.name == "api.host") apiHostSuffix_ = setting.value;
      if (setting.name == "tls.ca-file") {
        SetTrustedCaFile(TextToUtf8(platform::AnsiToText(setting.value)));
      }
    }
    const std::string finding = std::to_string(settings.inForce.size()) + " keys, " +
                                (changed == 0 ? std::string("every one at its default")
                                              : std::to_string(changed) + " not at the default");
    if (settings.warnings.empty()) {
      report_.Line(Status::kOk, "settings", finding);
    } else {
      report_.Line(
          Status::kWarn, "settings",
          finding + "; " + std::to_string(settings.warnings.size()) + " left out (see below)",
          "correct or remove what is left out: see docs/settings.md for the keys and "
          "their values");
      for (const std::string& warning : settings.warnings)
        Report::Detail("left out: " + warning);
    }
    for (const SettingInForce& setting : settings.inForce) {
      Report::Detail(setting.name + " = " + Quoted(setting.value) + " (" + setting.source + ")");
    }
  }

  void CheckBaseUrl() {
    const std::string& environment = invocation_.config.environment;
    baseUrl_ = "https://" + environment + apiHostSuffix_;
    const std::u16string url = platform::AnsiToText(baseUrl_);
    // The client's own parse of the URL: the host and port a call connects to and checks.
    const HttpUrl parts = HttpUrl::Parse(url);
    apiHost_ = Ansi(parts.host);
    apiPort_ = parts.Port();
    const std::string finding =
        baseUrl_ + " (host " + apiHost_ + ", port " + std::to_string(apiPort_) + ")";
    if (!environment.empty() && environment.back() != '.' && environment.back() != '/') {
      report_.Line(
          Status::kFail, "base URL",
          finding + ": the environment " + Quoted(environment) + " ends in neither \".\" nor \"/\"",
          "end --env with \".\" for a host-name prefix (\"sandbox.\") or with \"/\" "
          "for a host and port of its own (\"127.0.0.1:8443/\")");
      return;
    }
    if (apiPort_ == 0) {
      report_.Line(Status::kFail, "base URL", finding + ": the port is not a number to 65535",
                   "correct the port in --env");
      return;
    }
    report_.Line(Status::kOk, "base URL", finding);
  }

  void CheckCredentials() {
    const Configuration& config = invocation_.config;
    if (config.clientId.empty() || config.clientSecret.empty()) {
      report_.Line(Status::kWarn, "credentials",
                   std::string("client ") + (config.clientId.empty() ? "id" : "secret") +
                       " empty: AUTHORIZE would send empty credentials",
                   "give --client-id and --client-secret");
      return;
    }
    std::string finding = "client id " + Quoted(config.clientId) + ", secret of " +
                          std::to_string(config.clientSecret.size()) + " bytes";
    if (!config.proxyHost.empty() && !config.proxyUser.empty() != !config.proxyPassword.empty()) {
      report_.Line(Status::kWarn, "credentials",
                   finding + "; the proxy has a user name or a password, not both",
                   "give both --proxy-user and --proxy-password: the library sends proxy "
                   "credentials only when both are set");
      return;
    }
    report_.Line(Status::kOk, "credentials", finding);
  }

  Target FirstHop() const {
    const Configuration& config = invocation_.config;
    if (!config.proxyHost.empty()) {
      ProxySettings proxy;  // the port as the library takes it
      proxy.proxyPort = config.proxyPort;
      return {config.proxyHost, proxy.Port(), true};
    }
    return {apiHost_, apiPort_, false};
  }

  bool CheckNameResolution() {
    const Target target = FirstHop();
    const std::string what = target.proxy ? "proxy " + target.host : target.host;
    try {
      const std::uint32_t address = platform::ResolveIpv4(platform::AnsiToText(target.host));
      const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
      const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                                 std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
      std::string finding = what + " is " + dotted;
      if (target.proxy) finding += " (the proxy resolves the API host " + apiHost_ + ")";
      report_.Line(Status::kOk, "name resolution", finding);
      return true;
    } catch (const Error& failure) {
      report_.Line(Status::kFail, "name resolution", what + ": " + OneLine(failure),
                   target.proxy ? "check the proxy's name given with --proxy"
                                : "check the environment (--env) and the DNS settings; the "
                                  "name must resolve to an IPv4 address");
      return false;
    }
  }

  bool CheckTcpConnect() {
    const Target target = FirstHop();
    const std::string what = (target.proxy ? "proxy " : "") + target.Name();
    try {
      const platform::SocketHandle socket =
          ConnectTcp(platform::AnsiToText(target.host), target.port, kConnectTimeoutMs);
      platform::CloseSocket(socket);
      report_.Line(Status::kOk, "TCP connect", what + " accepts connections");
      return true;
    } catch (const Error& failure) {
      report_.Line(Status::kFail, "TCP connect", what + ": " + OneLine(failure),
                   target.proxy ? "start the proxy, or correct --proxy HOST:PORT"
                                : "check that the server runs and the environment's host and "
                                  "port (--env); a firewall may block the port");
      return false;
    }
  }

  // The connection a call would make, up to the end of the TLS handshake: the HTTP client's own
  // opening (proxy tunnel included) over a TLS channel that keeps the server's certificate.
  void CheckTunnelAndHandshake(bool connected) {
    const Configuration& config = invocation_.config;
    const bool proxy = !config.proxyHost.empty();
    if (!connected || !tlsLibrary_) {
      if (proxy) report_.Line(Status::kSkip, "proxy tunnel", "not tried: no connection");
      report_.Line(Status::kSkip, "TLS handshake",
                   !tlsLibrary_ ? "not tried: no OpenSSL" : "not tried: no connection");
      return;
    }
    HttpClient client;
    auto channel = std::make_unique<TlsChannel>();
    channel->KeepPeerCertificate(true);
    TlsChannel* tls = channel.get();
    client.SetChannel(std::move(channel));
    client.SetConnectTimeout(kConnectTimeoutMs);
    client.Request().userAgent = kUserAgent;
    if (proxy) {
      ProxySettings& settings = client.ProxyParams();
      settings.proxyServer = platform::AnsiToText(config.proxyHost);
      settings.proxyPort = config.proxyPort;
      if (!config.proxyUser.empty() && !config.proxyPassword.empty()) {
        settings.basicAuthentication = true;
        settings.proxyUsername = platform::AnsiToText(config.proxyUser);
        settings.proxyPassword = platform::AnsiToText(config.proxyPassword);
      }
    }
    const std::string apiTarget = apiHost_ + ":" + std::to_string(apiPort_);
    std::optional<Error> failure;
    try {
      client.OpenOnly(platform::AnsiToText(baseUrl_ + "/"), HttpVersion::kHttp11);
      client.Disconnect();
    } catch (const Error& error) {
      failure = error;
    }
    const bool tlsFailure = failure && (failure->Kind() == ErrorKind::kTls ||
                                        failure->Kind() == ErrorKind::kTlsLibrary);
    if (proxy) {
      if (!failure || tlsFailure) {
        report_.Line(Status::kOk, "proxy tunnel",
                     config.proxyHost + ":" + std::to_string(config.proxyPort) +
                         " opened a tunnel to " + apiTarget);
      } else {
        ProxyFailure(*failure, apiTarget);
        report_.Line(Status::kSkip, "TLS handshake", "not tried: no tunnel");
        return;
      }
    } else if (failure && !tlsFailure) {
      report_.Line(Status::kFail, "TLS handshake", apiTarget + ": " + OneLine(*failure),
                   "the connection broke before or during the handshake: check that " + apiTarget +
                       " is an HTTPS server");
      return;
    }
    certificate_ = ReadCertificate(tls->PeerCertificate());
    if (!failure) {
      report_.Line(Status::kOk, "TLS handshake",
                   "TLS 1.2 with " + apiTarget + ", certificate verified for " + apiHost_);
    } else {
      HandshakeFailure(*failure, apiTarget);
    }
    Report::Detail("trust: " + TrustSettings());
    if (certificate_) {
      Report::Detail("subject: " + certificate_->subject);
      Report::Detail("issuer: " + certificate_->issuer);
      Report::Detail("names: " + (certificate_->names.empty() ? std::string("(no subjectAltName)")
                                                              : Joined(certificate_->names, ", ")));
      Report::Detail("valid: " + FormatUtc(certificate_->notBefore) + " to " +
                     FormatUtc(certificate_->notAfter));
    } else if (failure) {
      Report::Detail("no server certificate received");
    }
  }

  void ProxyFailure(const Error& failure, const std::string& apiTarget) {
    const Configuration& config = invocation_.config;
    const std::string proxy = config.proxyHost + ":" + std::to_string(config.proxyPort);
    if (failure.Kind() != ErrorKind::kTunnel) {
      report_.Line(Status::kFail, "proxy tunnel", proxy + ": " + OneLine(failure),
                   "the proxy broke the connection before the tunnel stood: check that " + proxy +
                       " is an HTTP proxy that allows CONNECT");
      return;
    }
    std::string statusLine = OneLine(failure);
    constexpr std::string_view kRefused = "Tunnel refused by the proxy: ";
    if (statusLine.rfind(kRefused, 0) == 0) statusLine.erase(0, kRefused.size());
    // 407 asks for credentials; some proxies (tinyproxy) answer a wrong password with 401.
    const int code = HttpResponse::ParseResponseCode(platform::AnsiToText(statusLine));
    const bool needsCredentials = code == 407 || code == 401;
    std::string whatToDo;
    if (needsCredentials && (config.proxyUser.empty() || config.proxyPassword.empty())) {
      whatToDo = "the proxy wants credentials: give --proxy-user and --proxy-password (both)";
    } else if (needsCredentials) {
      whatToDo = "the proxy refused the user name and password given: check them";
    } else {
      whatToDo = "the proxy does not allow a tunnel to " + apiTarget +
                 ": ask its administrator to allow CONNECT to that port";
    }
    report_.Line(Status::kFail, "proxy tunnel",
                 proxy + " refused the tunnel to " + apiTarget + ": " + statusLine, whatToDo);
  }

  void HandshakeFailure(const Error& failure, const std::string& apiTarget) {
    // The last line of the message says what failed; of OpenSSL's "error:code:library:function:
    // reason" only the reason is for people.
    std::string reason = Ansi(failure.Message());
    const std::size_t lineStart = reason.rfind('\n');
    if (lineStart != std::string::npos) reason.erase(0, lineStart + 1);
    if (reason.rfind("error:", 0) == 0) reason.erase(0, reason.rfind(':') + 1);
    const std::string verdict = Ansi(failure.Detail());
    std::string finding = apiTarget + ": " + reason;
    if (!verdict.empty()) finding += " (" + verdict + ")";
    std::string whatToDo;
    if (failure.Kind() == ErrorKind::kTlsLibrary) {
      whatToDo = "the TLS library cannot be used: see the openssl line";
    } else if (verdict.find("expired") != std::string::npos) {
      whatToDo =
          "the server's certificate has expired (see valid): if the system clock is right, "
          "the server needs a new certificate";
    } else if (verdict.find("not yet valid") != std::string::npos) {
      whatToDo = "the certificate is not valid yet: check the system clock (see the clock line)";
    } else if (verdict.find("mismatch") != std::string::npos) {
      whatToDo = "the certificate is not for " + apiHost_ +
                 " (see names): correct the environment (--env), or the server needs a "
                 "certificate for this name";
    } else if (verdict.find("issuer") != std::string::npos ||
               verdict.find("self-signed") != std::string::npos ||
               verdict.find("self signed") != std::string::npos) {
      whatToDo =
          "the certificate does not lead to a trusted root (see issuer): add that CA to "
          "the trust store, or name its file with SSL_CERT_FILE or the setting tls.ca-file";
    } else if (!verdict.empty()) {
      whatToDo = "the certificate check refused the server: see the verdict in brackets";
    } else {
      whatToDo =
          "the server does not complete a TLS 1.2 handshake (the library speaks TLS 1.2 "
          "only): enable TLS 1.2 on the server, or check that " +
          apiTarget + " speaks TLS";
    }
    report_.Line(Status::kFail, "TLS handshake", finding, whatToDo);
  }

  // Where the trusted certificates came from, as the client context took them when it was made:
  // the library's own code made it for the handshake above.
  static std::string TrustSettings() {
    const std::optional<TrustInUse> trust = SharedTrustInUse();
    if (!trust) return "not read (no TLS context was made)";
    return Ansi(Utf8ToText(DescribeTrust(*trust)));
  }

  void CheckClock() {
    if (!certificate_) {
      report_.Line(Status::kSkip, "clock", "not compared: no server certificate");
      return;
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::string clock = "the system clock says " + FormatUtc(now);
    if (now < certificate_->notBefore) {
      report_.Line(Status::kFail, "clock",
                   clock + ", before the certificate's start " + FormatUtc(certificate_->notBefore),
                   "set the system clock; if it is right, the server's certificate is not valid "
                   "yet");
    } else if (now > certificate_->notAfter) {
      report_.Line(Status::kFail, "clock",
                   clock + ", after the certificate's end " + FormatUtc(certificate_->notAfter),
                   "if the clock is right, the server's certificate has expired and must be "
                   "renewed; otherwise set the clock");
    } else {
      report_.Line(Status::kOk, "clock", clock + ", within the certificate's validity");
    }
  }

  const Invocation& invocation_;
  Report report_;
  std::string libraryFile_;
  bool tlsLibrary_ = false;
  std::string baseUrl_;
  std::string apiHost_;
  int apiPort_ = 0;
  std::optional<CertificateInfo> certificate_;
  std::vector<std::pair<std::u16string, std::u16string>> fileSettings_;
  std::string apiHostSuffix_ = TESSORA_API_HOST;
};

}  // namespace

int RunDoctor(const Invocation& invocation) {
  WriteText(stdout, "tessora doctor: what a call of the library meets, step by step\n\n");
  return Doctor(invocation).Run();
}

}  // namespace tessora::cli
