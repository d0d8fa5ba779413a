// Loading TessoraNet the way a host program does (by path, at run time, never linked) and calling
// it so that a failure leaving an export is caught instead of ending the process. Shared by the
// command-line host and the tests.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tessora::host {

// A shared library loaded by path (dlopen / LoadLibrary); unloaded when destroyed.
class Library {
 public:
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // Why loading failed (the system's message); empty when it worked.
  const std::string& Error() const { return error_; }
  // The address of an export, nullptr when the library has none by that name.
  void* Symbol(const char* name) const;
  // The file the system loaded (dladdr / GetModuleFileName), which the search may have found
  // elsewhere than the path given; empty when not loaded or unknown.
  std::string FilePath() const;
  // The file and product version of the module's version resource ("3.1.0.0"; Windows), empty
  // where there is none.
  std::string ResourceVersion() const;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// The directory of the running program, without a trailing separator.
std::string ProgramDirectory();

// The library file next to the running program: libTessoraNet.so, or TessoraNet.dll on Windows.
std::string LibraryNextToProgram();

// Runs `call`. When a failure leaves the library's export during the call -- on POSIX a C++
// exception (derived from std::exception, its what() the message), on Windows the library's
// non-continuable structured exception TESSORANET_FAILURE_CODE whose first parameter points to
// the ANSI message -- returns the message; otherwise nothing.
std::optional<std::string> CatchHostFailure(const std::function<void()>& call);

}  // namespace tessora::host
