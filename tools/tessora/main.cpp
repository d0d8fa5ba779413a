// tessora: a command-line host program for the TessoraNet library. See help.cpp for the usage.
#include <string>
#include <vector>

#include "command_line.h"
#include "console.h"
#include "doctor.h"
#include "help.h"
#include "session.h"

int main(int argc, char** argv) {
  using namespace tessora::cli;
  PrepareConsole();
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  Invocation invocation;
  try {
    invocation = ParseCommandLine(args);
  } catch (const UsageError& error) {
    WriteText(stderr, std::string("tessora: ") + error.what() + "\n");
    WriteText(stderr, "Try tessora --help.\n");
    return kExitUsage;
  }
  if (invocation.help) {
    WriteText(stdout, kHelpText);
    return kExitOk;
  }
  if (invocation.version) return RunVersion(invocation);
  if (invocation.doctor) return RunDoctor(invocation);
  return RunSession(invocation);
}
