// The sandbox's HTTPS server: TLS 1.2 only, on 127.0.0.1, one thread per connection, bounded
// request sizes, counts and waits.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "certificates.h"
#include "payment_api.h"

namespace tessora::sandbox {

struct ServerSettings {
  std::uint16_t port = 0;                     // 0: the system picks one
  std::string prefix = "/" TESSORA_API_HOST;  // requests go to /<API host>/<route>
  int maxConnections = 64;
  int maxRequestsPerConnection = 1000;
  int ioTimeoutMs = 30000;  // a handshake, request or idle connection waits no longer
  std::function<void(const std::string&)> log;  // one line per request; may be empty
};

class Server {
 public:
  Server(PaymentApi& api, const TestPki& pki, ServerSettings settings);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on 127.0.0.1 and starts accepting. Throws std::runtime_error.
  void Start();
  std::uint16_t Port() const { return port_; }
  // Stops accepting, ends open connections and waits for their threads.
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd);
  void JoinFinished();
  void Log(const std::string& line) const;

  PaymentApi& api_;
  ServerSettings settings_;
  SSL_CTX* context_ = nullptr;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  std::set<int> connections_;
  // Every connection thread is joined, by the acceptor once it has finished or by Stop: a thread
  // left running past Stop could still hold per-thread TLS state when the process ends.
  std::map<std::thread::id, std::thread> workers_;
  std::vector<std::thread::id> finished_;
  bool stopping_ = false;
};

}  // namespace tessora::sandbox
