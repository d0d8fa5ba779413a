// What the HTTP client needs from the carrier of its connection. TlsChannel is the real one; tests
// drive the HTTP client through in-memory channels.
#pragma once

#include <optional>
#include <string>

#include "base/datetime.h"
#include "base/socket_errors.h"

namespace tessora {

// The code of the failure of a handshake that passed its deadline (Stream::SetHandshakeDeadline).
inline constexpr int kHandshakeDeadlineCode = -3;

class Stream {
 public:
  virtual ~Stream() = default;

  // The API host and port of the request about to be sent, as the client parsed them from its URL
  // (an IPv6 address without brackets): the server name of the TLS handshake, the name the server
  // certificate must match and the key of the session kept for the server. The client connects a
  // direct connection to the same host and port, so what is checked is what is reached.
  virtual void SetServerName(const std::u16string& host, int port) = 0;

  // The bound of each receive and send, milliseconds (0 or less: the channel's default); it applies
  // to an open connection too, from its next receive or send. Channels without a socket of their
  // own have none to bound.
  virtual void SetSocketTimeout(int milliseconds) { (void)milliseconds; }

  // The moment (platform::NowSteady's clock) by which a TLS handshake must have ended, however its
  // server paces it; none: each receive is bounded by the socket time-out alone. A handshake
  // still under way then fails with kHandshakeDeadlineCode (ErrorKind::kTimeout).
  virtual void SetHandshakeDeadline(std::optional<DateTime> deadline) { (void)deadline; }

  // Pass-through: bytes go to and come from the socket unchanged. Before a connection opens this
  // only records the mode. On an open connection, switching it off starts TLS (the handshake).
  virtual void SetPassThrough(bool passThrough) = 0;
  virtual bool PassThrough() const = 0;

  // Opens the TCP connection to host:port (the name lookup and the connect together bounded by
  // connectTimeoutMs), then prepares TLS and, unless in pass-through mode, performs the
  // handshake. Raises "A Host is required", "A Port is required" (port 0),
  // "Connect timed out.", the socket error ("Socket Error # %d" CR LF text) or a TLS failure; on
  // any failure the socket is closed again before the failure goes on.
  virtual void Connect(const std::u16string& host, int port, int connectTimeoutMs) = 0;
  virtual bool Connected() const = 0;

  // Whether bytes can be read without waiting longer than timeoutMs (decrypted bytes already
  // buffered count).
  virtual bool Readable(int timeoutMs) = 0;
  // Reads at most `size` plain bytes: the count read, 0 when the peer ended the connection, a
  // negative number on failure (then pass it to CheckError). No single receive waits more than
  // 30000 ms without progress; such a wait fails with the socket error 10060.
  virtual int Receive(char* buffer, int size) = 0;
  // After a receive that gave 0: whether the peer ended the stream in an orderly way, so that what
  // arrived before is all it meant to send. Over TLS only its closing alert (close_notify) says
  // so; a TCP close without it may be an attacker cutting the stream. In pass-through mode the
  // TCP close is the orderly end.
  virtual bool EndedCleanly() const = 0;
  // Writes all `size` bytes: the count written, 0 or negative on failure.
  virtual int Send(const char* data, int size) = 0;
  // After a negative Receive or Send: raises the failure, or returns one of the socket error
  // numbers 10053, 10054, 10058 and 10060 for the reader to handle; 0 when there was no failure.
  virtual int CheckError(int result) = 0;

  // Ends TLS (one closing alert, no wait for an answer) and closes the socket. Safe to call when
  // not connected.
  virtual void Close() = 0;
};

}  // namespace tessora
