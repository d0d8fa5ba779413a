#include "support/scripted_server.h"

#include <chrono>

#include "net/openssl/binding.h"
#include "support/server_tls.h"
#include "support/test_socket.h"

namespace tessora::test {

namespace {

// Small slices, so that a stopping server is noticed quickly.
constexpr int kSliceMs = 50;
constexpr int kServerSocketTimeoutMs = 10000;

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A server context (TLS 1.2, and TLS 1.3 where the library has it) with the certificate pair
// `certificate` of TestPkiDir(); nullptr when the TLS library or the files are missing.
openssl::Context* MakeServerContext(const std::string& certificate) {
  const openssl::Api* api = openssl::LoadOpenSsl();
  const std::optional<ServerTls> server = ServerTlsFunctions();
  if (api == nullptr || !server) return nullptr;
  openssl::Context* context = api->ctxNew(server->method());
  if (context == nullptr) return nullptr;
  // Up to TLS 1.3 where the library has it: a client limited to TLS 1.2 still agrees on TLS 1.2.
  if (server->setMaxVersion != nullptr) server->setMaxVersion(context, openssl::kTls13Version);
  const std::string base = TESSORA_TEST_PKI_DIR + ("/" + certificate);
  if (server->useCertificateChainFile(context, (base + ".pem").c_str()) <= 0 ||
      server->usePrivateKeyFile(context, (base + ".key").c_str(), kFileTypePem) <= 0) {
    api->errClearError();
    api->ctxFree(context);
    return nullptr;
  }
  return context;
}

}  // namespace

std::string TestPkiDir() {
  return TESSORA_TEST_PKI_DIR;
}

ServerConnection::ServerConnection(ScriptedServer& server, platform::SocketHandle socket)
    : server_(server), socket_(socket) {}

int ServerConnection::ReadSome(char* buffer, int size, int timeoutMs) {
  if (socket_ == platform::kNoSocket || peerClosed_) return 0;
  const openssl::Api* api = ssl_ != nullptr ? openssl::LoadOpenSsl() : nullptr;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const bool buffered = api != nullptr && api->pending != nullptr && api->pending(ssl_) > 0;
    if (buffered || platform::WaitReadable(socket_, std::min(kSliceMs, Remaining(deadline)))) break;
    if (server_.Stopping() || Remaining(deadline) == 0) return -1;
  }
  int n;
  if (api != nullptr) {
    api->errClearError();
    n = api->read(ssl_, buffer, size);
    api->errClearError();
  } else {
    n = platform::SocketReceive(socket_, buffer, size);
  }
  if (n <= 0) peerClosed_ = true;
  return n;
}

std::string ServerConnection::Read(std::size_t count, int timeoutMs) {
  std::string out;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (out.size() < count) {
    const int want = static_cast<int>(std::min(sizeof buffer, count - out.size()));
    const int n = ReadSome(buffer, want, Remaining(deadline));
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

std::string ServerConnection::ReadHead(int timeoutMs) {
  std::string out;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // One byte at a time: nothing after the head is taken from the connection.
  while (out.size() < 4 || out.compare(out.size() - 4, 4, "\r\n\r\n") != 0) {
    char c;
    if (ReadSome(&c, 1, Remaining(deadline)) <= 0) break;
    out.push_back(c);
  }
  return out;
}

std::string ServerConnection::ReadUntilClosed(int timeoutMs) {
  std::string out;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    const int n = ReadSome(buffer, sizeof buffer, Remaining(deadline));
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

bool ServerConnection::WaitForData(int timeoutMs) {
  if (socket_ == platform::kNoSocket) return false;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (platform::WaitReadable(socket_, std::min(kSliceMs, Remaining(deadline)))) return true;
    if (server_.Stopping() || Remaining(deadline) == 0) return false;
  }
}

bool ServerConnection::Write(std::string_view bytes) {
  if (socket_ == platform::kNoSocket) return false;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int size = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20));
    int n;
    if (ssl_ != nullptr) {
      const openssl::Api* api = openssl::LoadOpenSsl();
      api->errClearError();
      n = api->write(ssl_, bytes.data() + sent, size);
      api->errClearError();
    } else {
      n = platform::SocketSend(socket_, bytes.data() + sent, size);
    }
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ServerConnection::ReadBeneathTls(int timeoutMs) {
  std::string out;
  if (socket_ == platform::kNoSocket) return out;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (!server_.Stopping() && Remaining(deadline) > 0) {
    if (!platform::WaitReadable(socket_, std::min(kSliceMs, Remaining(deadline)))) continue;
    const int n = platform::SocketReceive(socket_, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

bool ServerConnection::WriteBeneathTls(std::string_view bytes) {
  if (socket_ == platform::kNoSocket) return false;
  const int size = static_cast<int>(bytes.size());
  return platform::SocketSend(socket_, bytes.data(), size) == size;
}

void ServerConnection::Close() {
  if (ssl_ != nullptr) {
    const openssl::Api* api = openssl::LoadOpenSsl();
    api->shutdown(ssl_);
    api->errClearError();
  }
  CloseWithoutAlert();
}

void ServerConnection::Reset() {
  if (ssl_ != nullptr) {
    openssl::LoadOpenSsl()->free(ssl_);
    ssl_ = nullptr;
  }
  if (socket_ != platform::kNoSocket) ResetAndClose(socket_);
  socket_ = platform::kNoSocket;
}

void ServerConnection::CloseWithoutAlert() {
  if (ssl_ != nullptr) {
    openssl::LoadOpenSsl()->free(ssl_);
    ssl_ = nullptr;
  }
  platform::CloseSocket(socket_);
  socket_ = platform::kNoSocket;
}

bool ServerConnection::StartTls(const std::string& certificate) {
  if (socket_ == platform::kNoSocket || ssl_ != nullptr) return false;
  openssl::Context* context =
      certificate.empty() ? server_.TlsContext() : MakeServerContext(certificate);
  if (context == nullptr) return false;
  const openssl::Api* api = openssl::LoadOpenSsl();
  api->errClearError();
  ssl_ = api->sslNew(context);
  // The connection holds a reference of its own to the context.
  if (!certificate.empty()) api->ctxFree(context);
  const std::optional<ServerTls> server = ServerTlsFunctions();
  const bool ready =
      ssl_ != nullptr && server && api->setFd(ssl_, socket_) > 0 && server->accept(ssl_) > 0;
  if (ready) {
    const char* name = server->serverName(ssl_);
    if (name != nullptr) serverName_ = name;
  }
  resumed_ = ready && server->resumed(ssl_);
  tlsVersion_ = ready && server->version != nullptr ? server->version(ssl_) : 0;
  api->errClearError();
  if (!ready) ++server_.failedHandshakes_;
  return ready;
}

void ServerConnection::Hang(int ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock<std::mutex> guard(server_.lock_);
  server_.changed_.wait_until(guard, deadline, [&] { return server_.Stopping(); });
}

ScriptedServer::ScriptedServer(Mode mode, Handler handler, const std::string& certificate,
                               Family family)
    : mode_(mode), handler_(std::move(handler)), certificate_(certificate) {
  // A TLS server makes its context at once; a plain one only when a connection starts TLS, so that
  // plain servers never load the TLS library.
  if (mode_ == kTls && TlsContext() == nullptr) return;
  listener_ = ListenOnLoopback(port_, 16, family == Family::kIpv6);
  if (listener_ != platform::kNoSocket) acceptor_ = std::thread([this] { AcceptLoop(); });
}

openssl::Context* ScriptedServer::TlsContext() {
  std::lock_guard<std::mutex> guard(lock_);
  if (context_ == nullptr) context_ = MakeServerContext(certificate_);
  return context_;
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (Worker& worker : workers_)
    worker.thread.join();
  platform::CloseSocket(listener_);
  if (context_ != nullptr) openssl::LoadOpenSsl()->ctxFree(context_);
}

bool ScriptedServer::WaitForFinished(int count, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return finished_ >= count; });
}

void ScriptedServer::AcceptLoop() {
  while (!stopping_) {
    const platform::SocketHandle socket = AcceptConnection(listener_, kSliceMs);
    if (socket == platform::kNoSocket) continue;
    ++accepted_;
    std::lock_guard<std::mutex> guard(lock_);
    ReapFinishedWorkers();
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread([this, socket, &worker] { Serve(socket, worker); });
  }
}

void ScriptedServer::ReapFinishedWorkers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!it->finished) {
      ++it;
      continue;
    }
    it->thread.join();  // its handler has returned: the thread is ending
    it = workers_.erase(it);
  }
}

void ScriptedServer::Serve(platform::SocketHandle socket, Worker& worker) {
  platform::SetSocketTimeouts(socket, kServerSocketTimeoutMs);
  ServerConnection connection(*this, socket);
  if (mode_ == kPlain || connection.StartTls()) handler_(connection);
  connection.Close();
  std::lock_guard<std::mutex> guard(lock_);
  ++finished_;
  worker.finished = true;
  changed_.notify_all();
}

}  // namespace tessora::test
