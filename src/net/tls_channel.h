// The carrier of one HTTP client's connection: a TCP socket that either runs TLS (1.2, or up to
// 1.3 when allowed) or passes bytes through unchanged until it is told to start TLS (as a CONNECT
// tunnel needs).
//
// States: idle (no connection) -> plain (connected in pass-through) -> running (TLS handshake
// done); close returns to idle from either.
//
// The server's certificate must lead to a trusted root (the platform's store and OpenSSL's default
// verify paths, which honour SSL_CERT_FILE / SSL_CERT_DIR as they were when the process made its
// client context) and match the server name the client set (its DNS name, or its address for a
// literal IP); otherwise the handshake fails. Every channel makes its connection from the process's
// one client context, and offers the session of the last connection to the same host name and port
// (net/tls_context.h).
#pragma once

#include <exception>
#include <string>

#include "net/stream.h"
#include "platform/socket.h"

namespace tessora {

namespace openssl {
struct Context;
struct Connection;
struct Api;
}  // namespace openssl

class TlsChannel : public Stream {
 public:
  enum class State { kIdle, kPlain, kRunning };

  // Receive and send time-out of the socket while connected: no single receive or send waits
  // longer without progress.
  static constexpr int kSocketTimeoutMs = 30000;

  TlsChannel();
  // Release: closes, then frees.
  ~TlsChannel() override;
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  const std::u16string& ServerHost() const { return serverHost_; }
  int ServerPort() const { return serverPort_; }
  void SetServerName(const std::u16string& host, int port) override {
    serverHost_ = host;
    serverPort_ = port;
  }

  // On an open connection: false starts TLS (raises "Could not load SSL library." when TLS could
  // not be prepared, or the handshake's failure; the connection then stays open for the caller to
  // close); true lets bytes pass unchanged from now on. Otherwise only records the mode.
  void SetPassThrough(bool passThrough) override;
  bool PassThrough() const override { return passThrough_; }

  void Connect(const std::u16string& host, int port, int connectTimeoutMs) override;
  bool Connected() const override { return socket_ != platform::kNoSocket; }
  // A negative time-out waits as long as a single receive may (the socket time-out).
  bool Readable(int timeoutMs) override;
  int Receive(char* buffer, int size) override;
  int Send(const char* data, int size) override;
  int CheckError(int result) override;
  bool EndedCleanly() const override { return endedCleanly_; }
  void Close() override;

  State CurrentState() const { return state_; }

  // For diagnosis (tessora doctor): with `keep`, every handshake keeps the server's certificate
  // as it arrived (DER), also when the check refused it; off by default, so a call spends nothing
  // on it.
  void KeepPeerCertificate(bool keep) { keepPeerCertificate_ = keep; }
  // The certificate the latest handshake received, DER; empty when none arrived (the handshake
  // failed before it, resumed a session, or keeping was off). It outlives the connection.
  const std::string& PeerCertificate() const { return peerCertificate_; }

  // The receive and send time-out; 0 or less: kSocketTimeoutMs. On an open connection (one a
  // thread kept from an earlier call) it applies at once.
  void SetSocketTimeout(int milliseconds) override;
  // Whether handshakes from now on may negotiate TLS 1.3 (false: TLS 1.2 only, the default). The
  // minimum is TLS 1.2 either way. Where the TLS library has no TLS 1.3 (the 1.0 line), a
  // handshake allowed it fails before anything is sent, saying so.
  void AllowTls13(bool allow) { allowTls13_ = allow; }
  void SetHandshakeDeadline(std::optional<DateTime> deadline) override {
    handshakeDeadline_ = deadline;
  }

  // Tests only: replaces kSocketTimeoutMs for channels that connect afterwards (0 restores it).
  static void SetSocketTimeoutForTesting(int milliseconds);

 private:
  // The failure of the latest receive or send, kept for CheckError.
  struct Failure {
    int sslError = 0;  // SSL_get_error's answer, or kErrorSyscall in pass-through mode
    int result = 0;
    int socketError = 0;
    unsigned long queued = 0;  // the oldest error of the TLS library's queue
  };

  int SocketTimeout() const;
  // Gives the socket the receive and send time-outs of SocketTimeout().
  void ApplySocketTimeouts();
  void OnConnected();
  void PrepareTls();
  void PrepareTlsWhileConnecting() noexcept;
  void Handshake();
  void CheckServerName(const std::u16string& host);
  // Raises the connection's highest protocol version to TLS 1.3 when allowed.
  void ApplyMaxVersion(const openssl::Api& api);
  // The text of the certificate check's verdict when it refused the server, else empty.
  std::u16string VerifyVerdict() const;
  void CapturePeerCertificate();
  Failure Capture(int result);
  [[noreturn]] void RaiseFailure(const std::u16string& base, const Failure& failure);
  std::u16string ErrorText(unsigned long error) const;
  int ReceiveTls(char* buffer, int size);
  int SendTls(const char* data, int size);
  // Forgets the server's kept session when a receive or send ended in a TLS failure.
  void DropSessionAfter(const Failure& failure);
  int SocketLayerCheck(int code);

  bool passThrough_ = false;
  std::u16string serverHost_;
  int serverPort_ = 0;
  platform::SocketHandle socket_ = platform::kNoSocket;
  int socketTimeoutMs_ = 0;                    // SetSocketTimeout's value
  bool allowTls13_ = false;                    // AllowTls13's value
  std::optional<DateTime> handshakeDeadline_;  // SetHandshakeDeadline's value
  int appliedTimeoutMs_ = 0;                   // the socket's time-outs, 0 before they are set
  openssl::Context* context_ = nullptr;        // the process's (SharedClientContext), not owned
  // What preparing TLS during the connect failed with, raised after the connect.
  std::exception_ptr preparationFailure_;
  openssl::Connection* connection_ = nullptr;
  State state_ = State::kIdle;
  bool endedCleanly_ = true;  // of the latest receive that gave 0
  Failure lastFailure_;
  bool keepPeerCertificate_ = false;
  std::string peerCertificate_;
};

}  // namespace tessora
