// A tiny HTTPS test client for the sandbox: TLS with certificate and host checks, raw request
// bytes out, one Content-Length-framed response in. Every wait is bounded.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessora::sandbox::test {

struct Reply {
  int status = 0;
  std::string head;
  std::string body;
  // The value of a header (any letter case), or "" when absent.
  std::string Header(std::string_view name) const;
};

class TlsClient {
 public:
  // Connects to 127.0.0.1:port, trusting only `ca_pem` and checking the certificate against
  // `host` (an IP address or a DNS name), with TLS `version` only. Throws std::runtime_error
  // with OpenSSL's reason when the handshake fails.
  TlsClient(std::uint16_t port, const std::string& caPem, const std::string& host = "127.0.0.1",
            int version = TLS1_2_VERSION);
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  void Send(std::string_view bytes);
  // One response; nothing when the server closed the connection first.
  std::optional<Reply> Receive();
  // Whether the server closes the connection (reading ends) within the receive time-out.
  bool PeerCloses();
  int NegotiatedVersion() const;

 private:
  void Connect(std::uint16_t port, const std::string& caPem, const std::string& host, int version);
  void Release();
  bool ReadMore();

  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  std::string buffer_;
};

// "Basic ..." for a user name and password.
std::string BasicCredentials(const std::string& user, const std::string& password);

}  // namespace tessora::sandbox::test
