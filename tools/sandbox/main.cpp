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
  std::string port_file;
  std::string ca_out;
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
      options.api.token_lifetime_seconds = number;
    } else if (arg == "--port-file") {
      options.port_file = value;
    } else if (arg == "--ca-out") {
      options.ca_out = value;
    } else if (arg == "--client-id") {
      options.api.client_id = value;
    } else if (arg == "--client-secret") {
      options.api.client_secret = value;
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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int code = ParseOptions(argc, argv, options); code != 0) return code < 0 ? 0 : code;

  // SIGINT and SIGTERM are taken by sigwait below, never by a worker thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::string temporary_dir;
  try {
    TestPki pki;
    std::string ca_path = options.ca_out;
    if (ca_path.empty()) {
      std::string pattern = (std::filesystem::temp_directory_path() / "tessora-sandbox.XXXXXX");
      if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temp dir");
      temporary_dir = pattern;
      ca_path = temporary_dir + "/ca.pem";
    }
    ca_path = std::filesystem::absolute(ca_path).string();
    if (!WriteFileAtomically(ca_path, pki.CaPem())) {
      throw std::runtime_error("cannot write the CA certificate to " + ca_path);
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
    if (!options.port_file.empty() && !WriteFileAtomically(options.port_file, port + "\n")) {
      throw std::runtime_error("cannot write the port file " + options.port_file);
    }
    const std::string endpoints = ProgramDirectory() + "/sandbox-endpoints.json";
    {
      std::lock_guard<std::mutex> lock(output);
      std::cout << "tessora-sandbox: listening on https://127.0.0.1:" << port << "/ (TLS 1.2)\n"
                << "  environment    127.0.0.1:" << port << "/   (tessora --env 127.0.0.1:" << port
                << "/)\n"
                << "  client         " << options.api.client_id << " / "
                << options.api.client_secret << "\n"
                << "  endpoint file  " << endpoints << "\n"
                << "  test CA        " << ca_path << "\n"
                << "  trust it       export SSL_CERT_FILE=" << ca_path << "\n"
                << "  under Wine     export SSL_CERT_FILE='" << WinePath(ca_path) << "'\n"
                << "  stop with Ctrl-C" << std::endl;
    }

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
    std::lock_guard<std::mutex> lock(output);
    std::cout << "tessora-sandbox: stopped (" << (signal_number == SIGINT ? "SIGINT" : "SIGTERM")
              << ")" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "tessora-sandbox: " << error.what() << std::endl;
    if (!temporary_dir.empty()) std::filesystem::remove_all(temporary_dir);
    return 1;
  }
  if (!temporary_dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporary_dir, ignored);
  }
  return 0;
}
