#include "net/tcp_connect.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "base/error.h"

namespace tessora {

namespace {

// What the connect thread and the waiting thread share; the thread keeps it alive.
struct PendingConnect {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  int error = 0;
};

}  // namespace

platform::SocketHandle ConnectTcp(const std::u16string& host, int port, int timeoutMs) {
  if (host.empty()) Raise(u"A Host is required");
  const auto portNumber = static_cast<std::uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
  if (portNumber == 0) Raise(u"A Port is required");
  const std::uint32_t address = platform::ResolveIpv4(host);
  const platform::SocketHandle socket = platform::OpenTcpSocket();

  auto pending = std::make_shared<PendingConnect>();
  std::thread connector;
  try {
    connector = std::thread([pending, socket, address, portNumber] {
      const int error = platform::ConnectSocket(socket, address, portNumber);
      std::lock_guard<std::mutex> guard(pending->lock);
      pending->error = error;
      pending->done = true;
      pending->finished.notify_all();
    });
  } catch (...) {
    platform::CloseSocket(socket);
    throw;
  }

  const auto start = std::chrono::steady_clock::now();
  bool done;
  {
    std::unique_lock<std::mutex> guard(pending->lock);
    while (!pending->done) {
      auto step = std::chrono::milliseconds(kConnectPollStepMs);
      if (timeoutMs > 0) {
        const auto left = std::chrono::milliseconds(timeoutMs) -
                          std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start);
        if (left <= std::chrono::milliseconds(0)) break;
        step = std::min(step, left);
      }
      pending->finished.wait_for(guard, step);
    }
    done = pending->done;
  }
  if (!done) {
    // Closing the socket ends the connect; then the thread is waited for.
    platform::CloseSocket(socket);
    connector.join();
    Raise(ErrorKind::kTimeout, u"Connect timed out.");
  }
  connector.join();
  if (const int error = pending->error) {
    platform::CloseSocket(socket);
    if (error == kWsaBadFile || error == kWsaNotSocket) {
      Raise(ErrorKind::kSocket, platform::SocketErrorText(error), error);
    }
    platform::RaiseSocketError(error);
  }
  return socket;
}

}  // namespace tessora
