// The text of tessora --help.
#pragma once

namespace tessora::cli {

extern const char kHelpText[];

// Exit codes of tessora.
enum ExitCode : int {
  kExitOk = 0,
  kExitLibraryFailure = 1,  // the library failed an operation (or the configuration)
  kExitUsage = 2,           // the command line is wrong, or a body file cannot be read
  kExitCannotLoad = 3,      // the library cannot be loaded or lacks a function it needs
};

}  // namespace tessora::cli
