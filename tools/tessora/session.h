// Runs an invocation: loads the library, configures the thread, performs the operations and
// prints what happened.
#pragma once

#include "command_line.h"

namespace tessora::cli {

// Returns the process exit code (see help.h).
int RunSession(const Invocation& invocation);

// --version: the tool's version, and the library's file and version. Returns the exit code.
int RunVersion(const Invocation& invocation);

}  // namespace tessora::cli
