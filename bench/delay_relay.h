// A relay on loopback that stands for a network path with a fixed delay each way: for each client
// connection it accepts it connects to the target port and forwards the bytes both ways, each
// chunk delivered `delay` after it arrived, in order. A relay's connect is instant, so it also
// holds the client's first bytes until one round trip (2 x delay) after the accept: that is what
// the TCP handshake costs a client on a real path before it can send anything.
#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessora::bench {

class DelayRelay {
 public:
  // Listens on 127.0.0.1 at `listenPort` (0: a port the system picks); forwards to
  // 127.0.0.1:`targetPort`. With a delay of 0 it forwards at once and holds nothing: a path whose
  // delay the kernel applies (path_delay) still counts the connections through it.
  DelayRelay(int targetPort, std::chrono::milliseconds delay, int listenPort = 0);
  ~DelayRelay();  // closes every connection and joins its threads
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  // The port clients connect to, 0 when the relay could not listen.
  int Port() const { return port_; }
  // How many client connections it has accepted so far.
  long Accepted() const { return accepted_.load(); }

 private:
  struct Connection;

  void AcceptLoop();
  void Reap(bool all);

  int targetPort_;
  std::chrono::milliseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<long> accepted_{0};
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
};

// The round trip of such a path as its clients see it: an echo server on 127.0.0.1 behind a relay
// of the same delay, with one connection through it. What a measured round trip shows beyond
// 2 x delay is the relay's own forwarding (its threads waking, two loopback hops each way), which
// every round trip of a call through the same kind of relay pays too.
class PathProbe {
 public:
  // `relayPort` as DelayRelay's `listenPort`.
  explicit PathProbe(std::chrono::milliseconds delay, int relayPort = 0);
  ~PathProbe();  // closes the connection and joins the echo server
  PathProbe(const PathProbe&) = delete;
  PathProbe& operator=(const PathProbe&) = delete;

  // Whether the echo server, the relay and the connection are up.
  bool Ready() const { return client_ >= 0; }
  // The times, in ms, of `count` exchanges of one small message on the open connection; empty when
  // an exchange failed or took over 5 s.
  std::vector<double> Measure(int count);

 private:
  void Echo();
  bool Exchange();

  int listener_ = -1;
  int client_ = -1;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<DelayRelay> relay_;
  std::thread echo_;
};

}  // namespace tessora::bench
