#include "delay_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <string>

namespace tessora::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes one direction holds in flight at most; past it the relay stops reading until the oldest
// chunk has gone, as a path's buffers would.
constexpr std::size_t kMaxQueued = 1 << 20;
constexpr std::size_t kChunk = 16 * 1024;
// How often a waiting thread looks whether the relay is stopping.
constexpr int kPollMs = 50;
// At most this many client connections at once; more are closed when accepted.
constexpr std::size_t kMaxConnections = 64;

void NoDelay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A socket listening on 127.0.0.1 at a port the system picks (`port` receives it); -1 on failure.
int ListenOnLoopback(int backlog, int& port) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  if (port != 0) {
    const int reuse = 1;  // a fixed port, perhaps used by the run before
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  }
  sockaddr_in address = Loopback(port);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, backlog) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listener);
    return -1;
  }
  port = ntohs(address.sin_port);
  return listener;
}

// Sends all of `bytes`, waiting while the socket is full; false when the peer is gone or the relay
// is stopping.
bool SendAll(int fd, const std::string& bytes, const std::atomic<bool>& stopping) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (stopping.load()) return false;
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, kPollMs) < 0 && errno != EINTR) return false;
    if ((writable.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
    if ((writable.revents & POLLOUT) == 0) continue;
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) sent += static_cast<std::size_t>(n);
  }
  return true;
}

struct Chunk {
  Clock::time_point due;
  std::string bytes;  // empty: the end of the stream
};

// One direction of a connection: reads what `from` sends and writes it to `to` `delay` after it
// arrived, or `delay` after `notBefore` when it arrived before that. Ends when `from` has ended and
// all is delivered (then shuts `to` for writing), when either side fails, or when the relay stops.
void Pump(int from, int to, std::chrono::milliseconds delay, Clock::time_point notBefore,
          const std::atomic<bool>& stopping) {
  std::deque<Chunk> queue;
  std::size_t queued = 0;
  bool ended = false;
  std::string buffer(kChunk, '\0');
  while (!stopping.load()) {
    // Waits to the next chunk's moment to the nanosecond (poll's milliseconds would deliver up
    // to one late), and no longer than kPollMs.
    std::chrono::nanoseconds wait = std::chrono::milliseconds(kPollMs);
    if (!queue.empty()) {
      wait = std::clamp<std::chrono::nanoseconds>(queue.front().due - Clock::now(),
                                                  std::chrono::nanoseconds(0), wait);
    }
    const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                           static_cast<long>(wait.count() % 1000000000)};
    // A negative descriptor is left out by ppoll, which then only waits.
    pollfd readable{!ended && queued < kMaxQueued ? from : -1, POLLIN, 0};
    if (ppoll(&readable, 1, &timeout, nullptr) < 0 && errno != EINTR) return;
    if ((readable.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = recv(from, buffer.data(), buffer.size(), 0);
      const Clock::time_point due = std::max(Clock::now(), notBefore) + delay;
      if (n > 0) {
        queue.push_back({due, buffer.substr(0, static_cast<std::size_t>(n))});
        queued += static_cast<std::size_t>(n);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        queue.push_back({due, std::string()});  // the end, delivered after what came before
        ended = true;
      }
    }
    while (!queue.empty() && queue.front().due <= Clock::now()) {
      Chunk chunk = std::move(queue.front());
      queue.pop_front();
      if (chunk.bytes.empty()) {
        shutdown(to, SHUT_WR);
        return;
      }
      queued -= chunk.bytes.size();
      if (!SendAll(to, chunk.bytes, stopping)) {
        shutdown(from, SHUT_RD);
        return;
      }
    }
  }
}

}  // namespace

struct DelayRelay::Connection {
  int client = -1;
  int server = -1;
  std::atomic<int> running{2};
  std::thread up;
  std::thread down;

  ~Connection() {
    if (up.joinable()) up.join();
    if (down.joinable()) down.join();
    if (client >= 0) close(client);
    if (server >= 0) close(server);
  }
};

DelayRelay::DelayRelay(int targetPort, std::chrono::milliseconds delay, int listenPort)
    : targetPort_(targetPort), delay_(delay), port_(listenPort) {
  listener_ = ListenOnLoopback(64, port_);
  if (listener_ < 0) return;
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

DelayRelay::~DelayRelay() {
  stopping_.store(true);
  if (acceptor_.joinable()) acceptor_.join();
  Reap(true);
  if (listener_ >= 0) close(listener_);
}

void DelayRelay::AcceptLoop() {
  while (!stopping_.load()) {
    Reap(false);
    pollfd pending{listener_, POLLIN, 0};
    if (poll(&pending, 1, kPollMs) <= 0 || (pending.revents & POLLIN) == 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // On a real path the client could send its first bytes one round trip after its connect.
    const Clock::time_point handshakeDone = Clock::now() + 2 * delay_;
    accepted_.fetch_add(1);
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = Loopback(targetPort_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (server < 0 || connections_.size() >= kMaxConnections ||
        connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      std::fprintf(stderr, "delay relay: cannot open a connection to port %d\n", targetPort_);
      if (server >= 0) close(server);
      close(client);
      continue;
    }
    NoDelay(client);
    NoDelay(server);
    auto connection = std::make_unique<Connection>();
    connection->client = client;
    connection->server = server;
    Connection* c = connection.get();
    c->up = std::thread([this, c, handshakeDone] {
      Pump(c->client, c->server, delay_, handshakeDone, stopping_);
      c->running.fetch_sub(1);
    });
    c->down = std::thread([this, c] {
      Pump(c->server, c->client, delay_, Clock::time_point(), stopping_);
      c->running.fetch_sub(1);
    });
    connections_.push_back(std::move(connection));
  }
}

// Joins and closes the connections whose both directions have ended, or all of them.
void DelayRelay::Reap(bool all) {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->running.load() == 0) {
        done.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  done.clear();  // joins outside the lock
}

namespace {

constexpr std::size_t kProbeBytes = 64;
constexpr int kProbeTimeoutMs = 5000;

// Reads exactly `size` bytes within kProbeTimeoutMs.
bool ReceiveExactly(int fd, char* bytes, std::size_t size) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kProbeTimeoutMs);
  std::size_t got = 0;
  while (got < size) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    if ((readable.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = recv(fd, bytes + got, size - got, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

PathProbe::PathProbe(std::chrono::milliseconds delay, int relayPort) {
  int port = 0;
  listener_ = ListenOnLoopback(4, port);
  if (listener_ < 0) return;
  relay_ = std::make_unique<DelayRelay>(port, delay, relayPort);
  if (relay_->Port() == 0) return;
  echo_ = std::thread([this] { Echo(); });
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client < 0) return;
  NoDelay(client);
  const sockaddr_in target = Loopback(relay_->Port());
  if (connect(client, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    close(client);
    return;
  }
  client_ = client;
  // The first exchange waits out the relay's stand-in for the TCP handshake: not measured.
  if (!Exchange()) {
    close(client_);
    client_ = -1;
  }
}

PathProbe::~PathProbe() {
  stopping_.store(true);
  if (client_ >= 0) shutdown(client_, SHUT_RDWR);
  if (echo_.joinable()) echo_.join();
  relay_.reset();
  if (client_ >= 0) close(client_);
  if (listener_ >= 0) close(listener_);
}

void PathProbe::Echo() {
  int connection = -1;
  while (connection < 0 && !stopping_.load()) {
    pollfd pending{listener_, POLLIN, 0};
    if (poll(&pending, 1, kPollMs) > 0 && (pending.revents & POLLIN) != 0) {
      connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
  }
  if (connection < 0) return;
  NoDelay(connection);
  std::string buffer(kChunk, '\0');
  while (!stopping_.load()) {
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, kPollMs) < 0 && errno != EINTR) break;
    if ((readable.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = recv(connection, buffer.data(), buffer.size(), 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    if (n > 0 && !SendAll(connection, buffer.substr(0, static_cast<std::size_t>(n)), stopping_)) {
      break;
    }
  }
  close(connection);
}

bool PathProbe::Exchange() {
  const std::string message(kProbeBytes, 'p');
  std::string answer(kProbeBytes, '\0');
  return SendAll(client_, message, stopping_) &&
         ReceiveExactly(client_, answer.data(), answer.size()) && answer == message;
}

std::vector<double> PathProbe::Measure(int count) {
  std::vector<double> times;
  if (client_ < 0) return times;
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    if (!Exchange()) return {};
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return times;
}

}  // namespace tessora::bench
