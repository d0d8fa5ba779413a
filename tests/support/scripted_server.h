// An in-process server on 127.0.0.1 (port chosen by the system) for exact wire cases: plain TCP or
// TLS 1.2 with a test certificate. Each connection is handled by a callback on its own thread,
// which reads and writes exact bytes through a ServerConnection. Every wait is bounded.
//
//   test::ScriptedServer server(test::ScriptedServer::Tls, [](test::ServerConnection& c) {
//     std::string head = c.ReadHead();
//     c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
//   });
//   channel.Connect(u"127.0.0.1", server.Port(), 20000);
//
// TLS uses the library's own OpenSSL binding (the loaded 1.0.2 DLLs on Windows, the linked OpenSSL
// elsewhere) with the certificates of TestPkiDir(); the handshake is done before the callback runs
// (a failed one is counted and ends the connection).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/socket.h"

namespace tessora::openssl {
struct Context;
struct Connection;
}  // namespace tessora::openssl

namespace tessora::test {

// Waits of the server's reads unless a test gives its own.
inline constexpr int kServerWaitMs = 10000;

// The directory with the test PKI made at build time: ca.pem, server.pem/.key (127.0.0.1,
// localhost, api.tessora.net), distrusted.pem/.key (127.0.0.1, localhost: only for the tests that
// make the system distrust it), other.pem/.key (another host), selfsigned.pem/.key,
// expired.pem/.key, and planted-ca.pem with planted-server.pem/.key (127.0.0.1 and the others, by
// a CA nothing trusts). The path is in the form the platform's file functions accept.
std::string TestPkiDir();

class ScriptedServer;

class ServerConnection {
 public:
  // Reads exactly `count` bytes, or less when the peer closes or timeoutMs passes.
  std::string Read(std::size_t count, int timeoutMs = kServerWaitMs);
  // Reads up to and including the first empty line (CR LF CR LF), or what came until the peer
  // closed or timeoutMs passed.
  std::string ReadHead(int timeoutMs = kServerWaitMs);
  // Everything until the peer closes, or until timeoutMs passes.
  std::string ReadUntilClosed(int timeoutMs = kServerWaitMs);
  // Waits until bytes from the peer have arrived (without reading them), or timeoutMs passes.
  bool WaitForData(int timeoutMs = kServerWaitMs);
  // Writes all bytes; false when that failed.
  bool Write(std::string_view bytes);
  // Reads the TCP connection itself, past TLS (the peer's records as they are), until the peer
  // closes or timeoutMs passes.
  std::string ReadBeneathTls(int timeoutMs = kServerWaitMs);
  // Writes bytes on the TCP connection itself, past TLS (a record no TLS peer would send).
  bool WriteBeneathTls(std::string_view bytes);
  // Closes the connection (TLS: with its closing alert).
  void Close();
  // Closes the TCP connection without a TLS closing alert.
  void CloseWithoutAlert();
  // Resets the TCP connection (the peer's next receive fails with 10054).
  void Reset();
  // Keeps the connection open, reading and writing nothing, for `ms` or until the server stops.
  void Hang(int ms);
  // Starts TLS on a plain connection (the server side of a handshake, as after a CONNECT tunnel);
  // false when the handshake failed. With a certificate (a pair of TestPkiDir()), the handshake
  // uses a context of its own, which knows none of the server's sessions.
  bool StartTls(const std::string& certificate = "");

  bool Tls() const { return ssl_ != nullptr; }
  // The server name the client sent in its TLS handshake ("" when none).
  const std::string& ServerName() const { return serverName_; }
  // Whether the handshake resumed a session the client offered.
  bool Resumed() const { return resumed_; }
  // The protocol version the handshake agreed (0x0303 TLS 1.2, 0x0304 TLS 1.3; 0 before one).
  int TlsVersion() const { return tlsVersion_; }
  bool IsClosed() const { return socket_ == platform::kNoSocket; }

 private:
  friend class ScriptedServer;
  ServerConnection(ScriptedServer& server, platform::SocketHandle socket);
  int ReadSome(char* buffer, int size, int timeoutMs);

  ScriptedServer& server_;
  platform::SocketHandle socket_;
  openssl::Connection* ssl_ = nullptr;
  std::string serverName_;
  bool resumed_ = false;
  int tlsVersion_ = 0;
  bool peerClosed_ = false;
};

class ScriptedServer {
 public:
  enum Mode { kPlain, kTls };
  enum class Family { kIpv4, kIpv6 };
  using Handler = std::function<void(ServerConnection&)>;

  // Starts listening at once. `certificate` names a pair of TestPkiDir() (without extension).
  // With Family::kIpv6 it listens on ::1 instead of 127.0.0.1 (Listening() is false where the
  // system has no IPv6 loopback).
  ScriptedServer(Mode mode, Handler handler, const std::string& certificate = "server",
                 Family family = Family::kIpv4);
  // Stops accepting, wakes hanging handlers and waits for every connection thread.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool Listening() const { return listener_ != platform::kNoSocket; }
  int Port() const { return port_; }
  int Connections() const { return accepted_; }
  int FailedHandshakes() const { return failedHandshakes_; }
  // Waits until `count` connections have been accepted and handled to their end.
  bool WaitForFinished(int count, int timeoutMs = kServerWaitMs);

 private:
  friend class ServerConnection;
  // A connection's thread; `finished` is set (under lock_) when its handler has returned.
  struct Worker {
    std::thread thread;
    bool finished = false;
  };

  openssl::Context* TlsContext();
  void AcceptLoop();
  void Serve(platform::SocketHandle socket, Worker& worker);
  // Joins and forgets the threads of finished connections (lock_ held), so that a server that
  // runs for long keeps only the threads of open connections.
  void ReapFinishedWorkers();
  bool Stopping() const { return stopping_; }

  Mode mode_;
  Handler handler_;
  std::string certificate_;
  openssl::Context* context_ = nullptr;
  platform::SocketHandle listener_ = platform::kNoSocket;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> failedHandshakes_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  int finished_ = 0;
  std::list<Worker> workers_;
  std::thread acceptor_;
};

}  // namespace tessora::test
