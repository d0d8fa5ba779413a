// Failures raised inside the library: a message plus the kind of failure.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tessora {

// What went wrong, as far as a caller may care. The message is the same for every kind of failure;
// the kind only lets callers and tests tell a missing list item from a bad cast or a socket error.
enum class ErrorKind {
  kPlain,
  kListError,    // an item that is not in a list or map
  kInvalidCast,  // a value read as the wrong kind
  kFileOpen,     // an existing file that cannot be opened
  kFileCreate,   // a file that cannot be created
  kConversion,   // a text that does not convert to a number
  kSocket,       // a failure of the socket layer; Code() holds the Windows Sockets number
  kTimeout,      // a connect or a receive that took too long
  kTlsLibrary,   // the TLS library could not be loaded or set up
  kTls,          // a failed TLS handshake, certificate check or TLS read or write
  kClosed,       // the peer ended the connection before the answer was complete
  kTunnel,       // the proxy refused the CONNECT tunnel
  kProtocol,     // an answer beyond the reader's bounds (line length, header lines, body size)
  kRequest,      // a request the library refuses to send: a host text that would change its host
                 // or add a header line
};

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::u16string message, int code = 0);

  ErrorKind Kind() const noexcept { return kind_; }
  const std::u16string& Message() const noexcept { return message_; }
  // The system or socket error number behind the failure, or 0.
  int Code() const noexcept { return code_; }
  // What a support person needs beyond the message (the certificate check's verdict of a failed
  // handshake, say), or empty.
  const std::u16string& Detail() const noexcept { return detail_; }
  void SetDetail(std::u16string detail) { detail_ = std::move(detail); }
  // The message as UTF-8, for C++ hosts that catch std::exception.
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  ErrorKind kind_;
  std::u16string message_;
  int code_;
  std::string utf8_;
  std::u16string detail_;
};

// Raises a plain failure with the given message.
[[noreturn]] void Raise(std::u16string message);
[[noreturn]] void Raise(ErrorKind kind, std::u16string message, int code = 0);

}  // namespace tessora
