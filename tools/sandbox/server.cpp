#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "http.h"

namespace tessora::sandbox {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void SetTimeouts(int fd, int milliseconds) {
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

// One TLS connection: reading more bytes into a buffer and writing whole answers.
class Connection {
 public:
  explicit Connection(SSL* ssl) : ssl_(ssl) {}

  bool ReadMore(std::string& buffer) {
    char chunk[16384];
    const int n = SSL_read(ssl_, chunk, sizeof chunk);
    if (n <= 0) return false;  // closed, failed or timed out
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  bool Write(std::string_view data) {
    while (!data.empty()) {
      const int n = SSL_write(ssl_, data.data(), static_cast<int>(data.size()));
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

 private:
  SSL* ssl_;
};

ApiResponse FramingError(const HeadError& error) {
  ApiResponse response;
  response.status = error.status;
  response.body =
      "{\"error\":{\"type\":\"invalid_request\",\"message\":\"" + error.message + "\"}}";
  return response;
}

}  // namespace

Server::Server(PaymentApi& api, const TestPki& pki, ServerSettings settings)
    : api_(api), settings_(std::move(settings)) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (context_ == nullptr || SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate(context_, pki.ServerCertificate()) != 1 ||
      SSL_CTX_use_PrivateKey(context_, pki.ServerKey()) != 1) {
    SSL_CTX_free(context_);
    throw std::runtime_error("cannot set up TLS");
  }
  SSL_CTX_set_options(context_, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
}

Server::~Server() {
  Stop();
  SSL_CTX_free(context_);
}

void Server::Start() {
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) Fail("socket");
  const int yes = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only
  address.sin_port = htons(settings_.port);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Fail("cannot listen on 127.0.0.1:" + std::to_string(settings_.port));
  }
  if (listen(listener_, 64) != 0) Fail("listen");
  socklen_t length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (pipe2(wake_, O_CLOEXEC) != 0) Fail("pipe");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

void Server::Stop() {
  if (!acceptor_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  const char byte = 1;
  (void)!write(wake_[1], &byte, 1);
  acceptor_.join();
  std::map<std::thread::id, std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : connections_)
      shutdown(fd, SHUT_RDWR);  // wakes their threads
    workers.swap(workers_);
  }
  for (auto& [id, worker] : workers)
    worker.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.clear();  // all joined above
  }
  close(listener_);
  close(wake_[0]);
  close(wake_[1]);
  listener_ = wake_[0] = wake_[1] = -1;
}

void Server::AcceptLoop() {
  while (true) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    JoinFinished();
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || connections_.size() >= static_cast<std::size_t>(settings_.maxConnections)) {
      close(fd);  // too many at once: the client sees the connection closed
      continue;
    }
    connections_.insert(fd);
    // Under the lock: the thread cannot report itself finished before it is in the map.
    std::thread worker([this, fd] { Serve(fd); });
    const std::thread::id id = worker.get_id();
    workers_.emplace(id, std::move(worker));
  }
}

void Server::JoinFinished() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::thread::id id : finished_) {
      if (auto node = workers_.extract(id)) done.push_back(std::move(node.mapped()));
    }
    finished_.clear();
  }
  // Outside the lock: a finished thread needs no more of it, but joining waits for its exit.
  for (auto& worker : done)
    worker.join();
}

void Server::Serve(int fd) {
  SetTimeouts(fd, settings_.ioTimeoutMs);
  SSL* ssl = SSL_new(context_);
  if (ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1) {
    Connection connection(ssl);
    std::string buffer;
    for (int served = 0; served < settings_.maxRequestsPerConnection; ++served) {
      std::size_t headEnd;
      bool open = true;
      while ((headEnd = FindHeadEnd(buffer)) == std::string::npos) {
        if (buffer.size() > kMaxHeadBytes || !(open = connection.ReadMore(buffer))) break;
      }
      if (headEnd == std::string::npos) {
        if (open)
          connection.Write(SerializeResponse(FramingError({431, "the head is too large"}), false));
        break;
      }
      if (headEnd > kMaxHeadBytes) {
        connection.Write(SerializeResponse(FramingError({431, "the head is too large"}), false));
        break;
      }
      HeadError error{};
      const auto request = ParseRequestHead(std::string_view(buffer).substr(0, headEnd), error);
      if (!request) {
        Log("(bad request) -> " + std::to_string(error.status) + " " + error.message);
        connection.Write(SerializeResponse(FramingError(error), false));
        break;
      }
      while (buffer.size() - headEnd < request->contentLength && open) {
        open = connection.ReadMore(buffer);
      }
      if (buffer.size() - headEnd < request->contentLength) break;  // cut short: give up

      ApiRequest apiRequest;
      apiRequest.method = request->method;
      apiRequest.authorization = request->Header("Authorization");
      apiRequest.body = buffer.substr(headEnd, request->contentLength);
      ApiResponse response;
      if (SplitTarget(request->target, settings_.prefix, apiRequest.route, apiRequest.query)) {
        response = api_.Handle(apiRequest);
      } else {
        response.status = 404;
        response.body = "{\"error\":{\"type\":\"not_found\",\"message\":\"Requests go to " +
                        settings_.prefix +
                        "/<route>: give the library the Environment 127.0.0.1:PORT/\"}}";
      }
      Log(request->method + " " + request->target + (request->http10 ? " (HTTP/1.0)" : "") +
          " -> " + std::to_string(response.status));
      if (!connection.Write(SerializeResponse(response, request->keepAlive))) break;
      if (!request->keepAlive) break;
      buffer.erase(0, headEnd + request->contentLength);
    }
    SSL_shutdown(ssl);  // the closing alert; no answer awaited
  }
  SSL_free(ssl);
  ERR_clear_error();
  {
    // Forgotten before it is closed, so that Stop never shuts down a reused descriptor.
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(fd);
    finished_.push_back(std::this_thread::get_id());
  }
  close(fd);
}

void Server::Log(const std::string& line) const {
  if (settings_.log) settings_.log(line);
}

}  // namespace tessora::sandbox
