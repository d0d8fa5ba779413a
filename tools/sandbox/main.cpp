// tessora-sandbox: a local HTTPS sandbox of the payment API, for trying TessoraNet without an
// account or a network. Run with --help for the usage.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "certificates.h"
#include "payment_api.h"
#include "server.h"

namespace {

using namespace tessora::sandbox;

const char kHelp[] = R"(tessora-sandbox - a local sandbox of the Tessora payment API

Usage:
  tessora-sandbox [OPTION]...

Serves a small payment API over HTTPS (TLS 1.2 only) on 127.0.0.1, with its own test CA made
at start, so TessoraNet can be tried without an account or a network. Charges live in memory
until the sandbox stops (Ctrl-C, SIGINT or SIGTERM).

Options:
  --port N               port to listen on (default 0: the system picks a free one)
  --port-file FILE       write the port number to FILE once listening (for scripts)
  --ca-out FILE          write the test CA certificate (PEM) to FILE (default: ca.pem in a new
                         temporary directory, removed when the sandbox stops)
  --client-id ID         the client id AUTHORIZE accepts (default sandbox-client)
  --client-secret SECRET the client secret AUTHORIZE accepts (default sandbox-secret)
  --token-lifetime SECS  expires_in of the tokens handed out (default 3600)
  --quiet                do not print a line per request
  -h, --help             show this help

Routes (after the prefix /)" TESSORA_API_HOST R"(, which the library puts before every route
when its Environment is "127.0.0.1:PORT/"):
  POST   /v1/oauth/token          AUTHORIZE: HTTP basic client credentials -> access token
  POST   /v1/charges              create: {"amount": 1250, "currency": "EUR", "description": ...}
  GET    /v1/charges              list: query limit (1-100, default 10), offset, status
  GET    /v1/charges/:id          read
  DELETE /v1/charges/:id          cancel
  POST   /v1/charges/:id/cancel   cancel
The charge routes need "Authorization: Bearer <token>". Errors come as JSON error objects with
the statuses 400, 401, 404, 405, 409 and 422.

A matching endpoint file is sandbox-endpoints.json next to this program.
)";

struct Options {
  long port = 0;
  std::string portFile;
  std::string caOut;
  ApiSettings api;
  bool quiet = false;
};

bool ParseNumber(const std::string& text, long max, long& value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  value = std::stol(text);
  return value <= max;
}

// Returns 0 to go on, or an exit code.
int ParseOptions(int argc, char** argv, Options& options) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kHelp;
      return -1;
    }
    if (arg == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      std::cerr << "tessora-sandbox: "
                << (arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg)
                << " (see --help)\n";
      return 2;
    }
    const std::string& value = args[++i];
    long number = 0;
    if (arg == "--port" && ParseNumber(value, 65535, number)) {
      options.port = number;
    } else if (arg == "--token-lifetime" && ParseNumber(value, 100000000, number)) {
      options.api.tokenLifetimeSeconds = number;
    } else if (arg == "--port-file") {
      options.portFile = value;
    } else if (arg == "--ca-out") {
      options.caOut = value;
    } else if (arg == "--client-id") {
      options.api.clientId = value;
    } else if (arg == "--client-secret") {
      options.api.clientSecret = value;
    } else {
      std::cerr << "tessora-sandbox: bad option " << arg << " " << value << " (see --help)\n";
      return 2;
    }
  }
  return 0;
}

// Writes a whole file under another name first, so a reader never sees it half written.
bool WriteFileAtomically(const std::string& path, const std::string& contents) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

std::string WinePath(const std::string& path) {
  std::string windows = "Z:" + path;  // Wine's default drive Z: is the Unix root
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string ProgramDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

// The matching endpoint file: next to the program in the build, under share/tessora installed.
std::string EndpointFile() {
  const std::filesystem::path directory = ProgramDirectory();
  const auto installed = directory.parent_path() / "share" / "tessora" / "sandbox-endpoints.json";
  std::error_code error;
  if (!std::filesystem::exists(directory / "sandbox-endpoints.json", error) &&
      std::filesystem::exists(installed, error)) {
    return installed.string();
  }
  return (directory / "sandbox-endpoints.json").string();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int code = ParseOptions(argc, argv, options); code != 0) return code < 0 ? 0 : code;

  // SIGINT and SIGTERM are taken by sigwait below, never by a worker thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::string temporaryDir;
  try {
    TestPki pki;
    std::string caPath = options.caOut;
    if (caPath.empty()) {
      std::string pattern = (std::filesystem::temp_directory_path() / "tessora-sandbox.XXXXXX");
      if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temp dir");
      temporaryDir = pattern;
      caPath = temporaryDir + "/ca.pem";
    }
    caPath = std::filesystem::absolute(caPath).string();
    if (!WriteFileAtomically(caPath, pki.CaPem())) {
      throw std::runtime_error("cannot write the CA certificate to " + caPath);
    }

    PaymentApi api(options.api);
    ServerSettings settings;
    settings.port = static_cast<std::uint16_t>(options.port);
    static std::mutex output;
    if (!options.quiet) {
      settings.log = [](const std::string& line) {
        std::lock_guard<std::mutex> lock(output);
        std::cout << "  " << line << std::endl;
      };
    }
    Server server(api, pki, settings);
    server.Start();
    const std::string port = std::to_string(server.Port());
    const std::string endpoints = EndpointFile();
    {
      std::lock_guard<std::mutex> lock(output);
      std::cout << "tessora-sandbox: listening on https://127.0.0.1:" << port << "/ (TLS 1.2)\n"
                << "  environment    127.0.0.1:" << port << "/   (tessora --env 127.0.0.1:" << port
                << "/)\n"
                << "  client         " << options.api.clientId << " / " << options.api.clientSecret
                << "\n"
                << "  endpoint file  " << endpoints << "\n"
                << "  test CA        " << caPath << "\n"
                << "  trust it       export SSL_CERT_FILE=" << caPath << "\n"
                << "  under Wine     export SSL_CERT_FILE='" << WinePath(caPath) << "'\n"
                << "  stop with Ctrl-C" << std::endl;
    }
    // Written last: a script that waits for the port file finds the banner complete too.
    if (!options.portFile.empty() && !WriteFileAtomically(options.portFile, port + "\n")) {
      throw std::runtime_error("cannot write the port file " + options.portFile);
    }

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    server.Stop();
    std::lock_guard<std::mutex> lock(output);
    std::cout << "tessora-sandbox: stopped (" << (signalNumber == SIGINT ? "SIGINT" : "SIGTERM")
              << ")" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "tessora-sandbox: " << error.what() << std::endl;
    if (!temporaryDir.empty()) std::filesystem::remove_all(temporaryDir);
    return 1;
  }
  if (!temporaryDir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporaryDir, ignored);
  }
  return 0;
}
