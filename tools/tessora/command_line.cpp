#include "command_line.h"

#include <cstdlib>
#include <string_view>

namespace tessora::cli {

namespace {

enum class Kind { kFlag, kValue };
enum class Scope { kGlobal, kOperation };

struct OptionSpec {
  std::string_view longName;
  char shortName;  // 0: none
  Kind kind;
  Scope scope;
};

constexpr OptionSpec kOptions[] = {
    {"--help", 'h', Kind::kFlag, Scope::kGlobal},
    {"--version", 0, Kind::kFlag, Scope::kGlobal},
    {"--raw", 0, Kind::kFlag, Scope::kGlobal},
    {"--trace", 0, Kind::kFlag, Scope::kGlobal},
    {"--library", 0, Kind::kValue, Scope::kGlobal},
    {"--endpoints", 0, Kind::kValue, Scope::kGlobal},
    {"--client-id", 0, Kind::kValue, Scope::kGlobal},
    {"--client-secret", 0, Kind::kValue, Scope::kGlobal},
    {"--env", 0, Kind::kValue, Scope::kGlobal},
    {"--partner-token", 0, Kind::kValue, Scope::kGlobal},
    {"--proxy", 0, Kind::kValue, Scope::kGlobal},
    {"--proxy-user", 0, Kind::kValue, Scope::kGlobal},
    {"--proxy-password", 0, Kind::kValue, Scope::kGlobal},
    {"--set", 0, Kind::kValue, Scope::kGlobal},
    {"--operation", 0, Kind::kValue, Scope::kOperation},
    {"--param", 'p', Kind::kValue, Scope::kOperation},
    {"--query", 'q', Kind::kValue, Scope::kOperation},
    {"--body", 'b', Kind::kValue, Scope::kOperation},
    {"--body-file", 0, Kind::kValue, Scope::kOperation},
};

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& spec : kOptions) {
    if (name == spec.longName) return &spec;
    if (spec.shortName != 0 && name.size() == 2 && name[0] == '-' && name[1] == spec.shortName) {
      return &spec;
    }
  }
  return nullptr;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Sets a configuration value that may be given once only.
void SetOnce(std::string& field, bool& seen, std::string_view option, const std::string& value) {
  if (seen) throw UsageError(std::string(option) + " is given twice");
  seen = true;
  field = value;
}

// HOST:PORT, HOST possibly an IPv6 address in brackets (given to the library without them).
void ParseProxy(const std::string& value, Configuration& config) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
    throw UsageError("--proxy takes HOST:PORT, for example --proxy proxy.example.com:3128");
  }
  std::string host = value.substr(0, colon);
  const std::string port = value.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  long number = 0;
  bool digits = port.size() <= 5 && !host.empty();
  for (char c : port)
    digits = digits && c >= '0' && c <= '9';
  if (digits) number = std::strtol(port.c_str(), nullptr, 10);
  if (!digits || number < 1 || number > 65535) {
    throw UsageError("--proxy: \"" + port + "\" is not a port number from 1 to 65535");
  }
  config.proxyHost = host;
  config.proxyPort = static_cast<int>(number);
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  Invocation Parse() {
    for (const std::string& arg : args_) {
      if (arg == "--help" || arg == "-h") {
        result_.help = true;
        return result_;
      }
    }
    while (next_ < args_.size()) {
      const std::string& arg = args_[next_++];
      if (arg.size() > 1 && arg[0] == '-') {
        Option(arg);
      } else {
        StartOperation(arg);
      }
    }
    if (result_.config.proxyHost.empty() && (seenProxyUser_ || seenProxyPassword_)) {
      throw UsageError("--proxy-user and --proxy-password need --proxy HOST:PORT");
    }
    if (result_.doctor && (result_.raw || result_.trace)) {
      throw UsageError("doctor prints its own report: leave out --raw and --trace");
    }
    return result_;
  }

 private:
  void StartOperation(const std::string& name) {
    if (name.empty()) throw UsageError("an operation name is empty");
    if (name == "doctor") {
      if (!result_.operations.empty()) {
        throw UsageError(
            "doctor checks the configuration and performs no operation: write "
            "tessora doctor OPTION... without operations");
      }
      result_.doctor = true;
      return;
    }
    if (result_.doctor) {
      throw UsageError("doctor performs no operation (\"" + name +
                       "\"): write tessora doctor OPTION... without operations");
    }
    if (name.find('=') != std::string::npos) {
      throw UsageError("\"" + name + "\" looks like a parameter, not an operation: write --param " +
                       name + " (route) or --query " + name + " (query string)");
    }
    result_.operations.push_back(Operation{name, {}, {}, {}, {}});
  }

  void Option(const std::string& arg) {
    // --name=value as well as --name value.
    std::string name = arg;
    std::optional<std::string> inlineValue;
    const std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      inlineValue = arg.substr(equals + 1);
    }
    const OptionSpec* spec = FindOption(name);
    if (spec == nullptr) throw UsageError("unknown option " + name + " (see tessora --help)");
    std::string value;
    if (spec->kind == Kind::kValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (next_ < args_.size()) {
        value = args_[next_++];
      } else {
        throw UsageError(name + " needs a value");
      }
    } else if (inlineValue && !(spec->longName == "--trace" && *inlineValue == "full")) {
      throw UsageError(name + (spec->longName == "--trace" ? " takes no value but \"full\""
                                                           : " takes no value"));
    }
    if (spec->longName == "--operation") {
      if (value.empty()) throw UsageError("--operation needs a name");
      result_.operations.push_back(Operation{value, {}, {}, {}, {}});
      return;
    }
    if (spec->longName == "--raw") {  // output format: allowed anywhere
      result_.raw = true;
      return;
    }
    if (spec->longName == "--trace") {  // likewise
      result_.trace = true;
      result_.traceFull = inlineValue.has_value();
      return;
    }
    if (spec->longName == "--version") {
      result_.version = true;
      return;
    }
    if (spec->scope == Scope::kGlobal) {
      if (!result_.operations.empty()) {
        throw UsageError(std::string(spec->longName) +
                         " configures the library: give it before the first operation (\"" +
                         result_.operations.front().name + "\")");
      }
      Global(spec->longName, value);
    } else {
      if (result_.operations.empty()) {
        throw UsageError(std::string(spec->longName) +
                         " belongs to an operation: write the operation's name first, as in "
                         "tessora CHARGE_DETAIL --param id=ch_00000001");
      }
      ForOperation(result_.operations.back(), spec->longName, value);
    }
  }

  void Global(std::string_view option, const std::string& value) {
    Configuration& config = result_.config;
    if (option == "--library") {
      if (value.empty()) throw UsageError("--library needs a path");
      SetOnce(result_.library, seenLibrary_, option, value);
    } else if (option == "--endpoints") {
      SetOnce(config.endpoints, seenEndpoints_, option, value);
    } else if (option == "--client-id") {
      SetOnce(config.clientId, seenClientId_, option, value);
    } else if (option == "--client-secret") {
      SetOnce(config.clientSecret, seenClientSecret_, option, value);
    } else if (option == "--env") {
      SetOnce(config.environment, seenEnv_, option, value);
    } else if (option == "--partner-token") {
      SetOnce(config.partnerToken, seenPartnerToken_, option, value);
    } else if (option == "--proxy") {
      if (seenProxy_) throw UsageError("--proxy is given twice");
      seenProxy_ = true;
      ParseProxy(value, config);
    } else if (option == "--proxy-user") {
      SetOnce(config.proxyUser, seenProxyUser_, option, value);
    } else if (option == "--proxy-password") {
      SetOnce(config.proxyPassword, seenProxyPassword_, option, value);
    } else if (option == "--set") {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw UsageError("--set takes KEY=VALUE, as in --set timeout.io-ms=10000; got \"" + value +
                         "\"");
      }
      result_.settings.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    }
  }

  static void ForOperation(Operation& operation, std::string_view option,
                           const std::string& value) {
    const std::string where = " (operation \"" + operation.name + "\")";
    if (option == "--param" || option == "--query") {
      if (HasLineBreak(value)) {
        throw UsageError(std::string(option) + " takes one name=value; repeat " +
                         std::string(option) + " for several" + where);
      }
      if (option == "--param") {
        const std::size_t equals = value.find('=');
        if (equals == std::string::npos || equals == 0) {
          throw UsageError("--param takes name=value, as in --param id=ch_00000001; got \"" +
                           value + "\"" + where);
        }
        operation.params.push_back(value);
      } else {
        if (value.empty()) throw UsageError("--query takes name=value" + where);
        operation.queries.push_back(value);
      }
      return;
    }
    if (operation.body || operation.bodyFile) {
      throw UsageError("one body per operation: --body or --body-file, once" + where);
    }
    if (option == "--body") {
      operation.body = value;
    } else {
      if (value.empty()) throw UsageError("--body-file needs a file name" + where);
      operation.bodyFile = value;
    }
  }

  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  Invocation result_;
  bool seenLibrary_ = false, seenEndpoints_ = false, seenClientId_ = false,
       seenClientSecret_ = false, seenEnv_ = false, seenPartnerToken_ = false, seenProxy_ = false,
       seenProxyUser_ = false, seenProxyPassword_ = false;
};

}  // namespace

Invocation ParseCommandLine(const std::vector<std::string>& args) {
  return Parser(args).Parse();
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string block;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) block += "\r\n";
    block += lines[i];
  }
  return block;
}

}  // namespace tessora::cli
