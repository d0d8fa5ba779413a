// An in-memory carrier for the HTTP client: plays a scripted peer, one script per connection, and
// records what the client sends. No sockets and no TLS: the "handshake" is a recorded event.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "net/stream.h"

namespace tessora::test {

// How the peer's side of a connection ends once its scripted bytes are used up.
enum class PeerEnd {
  kClose,   // receive gives 0: the peer's orderly end (TLS: with its closing alert)
  kCut,     // receive gives 0 without the TLS closing alert
  kError,   // receive fails; CheckError returns EndCode (10053, 10054, 10058 or 10060)
  kSilent,  // nothing more arrives: Readable gives false; receive fails with 10060
};

struct PeerScript {
  // What the peer sends before the handshake (a proxy's answer) and after it. A direct connection
  // starts after the handshake.
  std::vector<std::string> plainBlocks;
  std::vector<std::string> tlsBlocks;
  PeerEnd end = PeerEnd::kClose;
  int endCode = 0;
  // Failures of the connect and of the handshake.
  std::optional<Error> connectError;
  std::optional<Error> handshakeError;
  // A send fails with this socket error (CheckError returns it).
  int sendErrorCode = 0;
};

// Splits bytes into blocks of the given sizes; the rest forms blocks of the last size (or one
// block when no sizes are given).
std::vector<std::string> SplitBlocks(const std::string& bytes, const std::vector<int>& sizes = {});

class MemoryChannel : public Stream {
 public:
  // One script per connect, in order. A connect without a script left is refused (10061).
  void AddConnection(PeerScript script) { scripts_.push_back(std::move(script)); }

  // What happened, in order: "connect host:port pass", "handshake", "close", "readable <ms>".
  const std::vector<std::string>& Events() const { return events_; }
  // Bytes sent on each connection before the handshake and after it, concatenated over all
  // connections.
  const std::string& PlainSent() const { return plainSent_; }
  const std::string& TlsSent() const { return tlsSent_; }
  // Every block handed to Send, in order.
  const std::vector<std::string>& SentBlocks() const { return sentBlocks_; }
  // The server name the client set last: the host and port the certificate would be checked
  // against.
  const std::u16string& ServerHost() const { return serverHost_; }
  int ServerPort() const { return serverPort_; }

  void SetServerName(const std::u16string& host, int port) override {
    serverHost_ = host;
    serverPort_ = port;
  }
  void SetPassThrough(bool passThrough) override;
  bool PassThrough() const override { return passThrough_; }
  void Connect(const std::u16string& host, int port, int connectTimeoutMs) override;
  bool Connected() const override { return connected_; }
  bool Readable(int timeoutMs) override;
  int Receive(char* buffer, int size) override;
  int Send(const char* data, int size) override;
  int CheckError(int result) override;
  bool EndedCleanly() const override { return passThrough_ || current_.end != PeerEnd::kCut; }
  void Close() override;

 private:
  std::vector<std::string>& CurrentBlocks();

  std::vector<PeerScript> scripts_;
  std::size_t next_ = 0;
  PeerScript current_;
  std::size_t blockIndex_ = 0;
  std::size_t blockOffset_ = 0;
  bool connected_ = false;
  bool passThrough_ = false;
  int lastError_ = 0;
  std::u16string serverHost_;
  int serverPort_ = 0;
  std::vector<std::string> events_;
  std::string plainSent_;
  std::string tlsSent_;
  std::vector<std::string> sentBlocks_;
};

}  // namespace tessora::test
