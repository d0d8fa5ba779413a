// Loads the shared library at run time and calls its exports, as a host program does.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TessoraNet.h"
#include "host_loader.h"

namespace tessora::test {

class HostLibrary {
 public:
  // Loads the library from the directory of the test program; Loaded() tells whether it worked.
  HostLibrary();
  // Unloads the library.
  ~HostLibrary();
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool Loaded() const { return library_.Loaded(); }
  // Looks an export up by name; nullptr when the library does not export it.
  void* Symbol(const char* name) const;

  decltype(&::ConfigureService) configureService = nullptr;
  decltype(&::ConfigureProxy) configureProxy = nullptr;
  decltype(&::TessoraNet) tessoraNet = nullptr;
  decltype(&::TessoraNetGetInstanceData) tessoraNetGetInstanceData = nullptr;
  decltype(&::TessoraNetTokenExpired) tessoraNetTokenExpired = nullptr;
  // The extensions.
  decltype(&::TessoraNetFree) tessoraNetFree = nullptr;
  decltype(&::TessoraNetTry) tessoraNetTry = nullptr;
  decltype(&::TessoraNetLastStatus) tessoraNetLastStatus = nullptr;
  decltype(&::TessoraNetLastError) tessoraNetLastError = nullptr;
  decltype(&::TessoraNetVersion) tessoraNetVersion = nullptr;
  decltype(&::TessoraNetLastErrorKind) tessoraNetLastErrorKind = nullptr;
  decltype(&::TessoraNetLastHeader) tessoraNetLastHeader = nullptr;
  decltype(&::TessoraNetSetOption) tessoraNetSetOption = nullptr;
  decltype(&::TessoraNetGetOption) tessoraNetGetOption = nullptr;

  // The calling thread's last reason (TessoraNetLastError), its buffer released.
  std::string LastError() const;
  // A header of the calling thread's last answer (TessoraNetLastHeader), "<absent>" without one.
  std::string LastHeader(const char* name) const;

 private:
  host::Library library_;
};

// Gives back a result buffer. Hosts never do this; the tests know the library takes its buffers
// from malloc and free them so that the leak checker watches everything else.
void FreeResultBuffer(char* buffer);

// The full path of the library next to the test program.
std::string LibraryPath();

// Runs `call`; when it leaves with the library's failure (a C++ exception on POSIX, the library's
// structured exception on Windows) returns the failure's message, else nothing.
std::optional<std::string> CatchHostFailure(const std::function<void()>& call);

}  // namespace tessora::test
