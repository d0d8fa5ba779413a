// The command-line grammar of tessora:
//
//   tessora [OPTION]... [OPERATION [OPERATION-OPTION]...]...
//   tessora doctor [OPTION]...
//   tessora --version [--library PATH]
//
// Options before the first operation configure the library; each operation name starts a new
// group whose options (route and query parameters, body) belong to that operation alone.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessora::cli {

// One API operation with its inputs, as the user typed them.
struct Operation {
  std::string name;
  std::vector<std::string> params;   // route parameters, name=value
  std::vector<std::string> queries;  // query parameters, name=value
  std::optional<std::string> body;   // --body text
  std::optional<std::string> bodyFile;
};

// What ConfigureService and ConfigureProxy receive.
struct Configuration {
  std::string endpoints;
  std::string clientId;
  std::string clientSecret;
  std::string environment;
  std::string partnerToken;
  std::string proxyHost;  // empty: no proxy
  int proxyPort = 0;
  std::string proxyUser;
  std::string proxyPassword;
};

struct Invocation {
  bool help = false;
  bool version = false;  // --version: the tool's and the library's version, nothing else
  bool doctor = false;   // "tessora doctor": check the configuration instead of calling
  bool raw = false;
  bool trace = false;      // after each operation: its log records, HTTP status and failure reason
  bool traceFull = false;  // --trace=full: the records with their secrets unmasked
  std::string library;     // empty: the library next to the program
  Configuration config;
  // --set KEY=VALUE, in order: each goes to TessoraNetSetOption before the operations.
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<Operation> operations;
};

// A command line that does not follow the grammar; the message says what to change.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments (without the program name). Throws UsageError.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// Joins parameter entries into the library's parameter block: one entry per line, CR LF between.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace tessora::cli
