#include "net/tls_channel.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "base/text.h"
#include "net/openssl/binding.h"
#include "net/receive_deadline.h"
#include "net/tcp_connect.h"
#include "net/tls_context.h"
#include "net/tls_library.h"
#include "platform/codepage.h"

namespace tessora {

namespace {

constexpr char16_t kCouldNotLoad[] = u"Could not load SSL library.";
constexpr char16_t kErrorConnecting[] = u"Error connecting with SSL.";
constexpr char16_t kEofViolation[] = u"EOF was observed that violates the protocol";
// Bounds the "try again" answers of a blocking connection (they should not come at all).
constexpr int kMaxRetries = 1000;

std::atomic<int> gSocketTimeoutForTesting{0};

// Where the verification callback puts the server's certificate (KeepPeerCertificate): the
// callback has no pointer of its own, so handshakes that keep a certificate take turns, holding
// the lock (diagnosis only: calls never keep one). Not a thread_local: in the DLL that would
// leave a destructor to run at thread exit, perhaps after the library is unloaded.
std::mutex gCaptureLock;
std::string* gCapturedCertificate = nullptr;

// Sees every certificate the check looks at and gives the context's verdict: keeps the server's
// own one (depth 0), also when the check refuses it.
int CaptureServerCertificate(int preverifyOk, openssl::StoreContext* store) {
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (gCapturedCertificate != nullptr && gCapturedCertificate->empty() && api != nullptr &&
      api->storeErrorDepth(store) == 0) {
    *gCapturedCertificate = CertificateDer(*api, api->storeCurrentCert(store));
  }
  return RefuseDistrusted(preverifyOk, store);
}

bool IsRetry(int sslError) {
  return sslError == openssl::kErrorWantRead || sslError == openssl::kErrorWantWrite;
}

}  // namespace

TlsChannel::TlsChannel() = default;

TlsChannel::~TlsChannel() {
  Close();
}

void TlsChannel::SetSocketTimeoutForTesting(int milliseconds) {
  gSocketTimeoutForTesting = milliseconds;
}

int TlsChannel::SocketTimeout() const {
  const int forTesting = gSocketTimeoutForTesting;
  if (forTesting > 0) return forTesting;
  return socketTimeoutMs_ > 0 ? socketTimeoutMs_ : kSocketTimeoutMs;
}

void TlsChannel::SetSocketTimeout(int milliseconds) {
  socketTimeoutMs_ = milliseconds;
  if (socket_ != platform::kNoSocket) ApplySocketTimeouts();
}

void TlsChannel::ApplySocketTimeouts() {
  // Set again only when the value changed (a test's time-out) since the socket got it.
  const int timeout = SocketTimeout();
  if (timeout == appliedTimeoutMs_) return;
  platform::SetSocketTimeouts(socket_, timeout);
  appliedTimeoutMs_ = timeout;
}

void TlsChannel::Connect(const std::u16string& host, int port, int connectTimeoutMs) {
  Close();
  preparationFailure_ = nullptr;
  socket_ = ConnectTcp(host, port, connectTimeoutMs, [this] { PrepareTlsWhileConnecting(); });
  try {
    // In force for the whole connection, pass-through included: no receive waits without limit.
    ApplySocketTimeouts();
    OnConnected();
  } catch (...) {
    Close();
    throw;
  }
}

void TlsChannel::OnConnected() {
  state_ = State::kPlain;
  try {
    // A failure of the preparation during the connect, raised here, where it always was: the
    // libraries are looked for once per connection.
    if (preparationFailure_) std::rethrow_exception(std::exchange(preparationFailure_, nullptr));
    PrepareTls();
  } catch (const Error& failure) {
    // Without the TLS library a pass-through connection still carries plain bytes (a proxy's
    // CONNECT request); the failure comes when TLS is switched on. A library that loaded but
    // cannot make the context fails here, before anything is sent.
    if (!(passThrough_ && failure.Kind() == ErrorKind::kTlsLibrary &&
          failure.Message() == kCouldNotLoad)) {
      throw;
    }
  }
  if (!passThrough_) Handshake();
}

void TlsChannel::SetPassThrough(bool passThrough) {
  if (passThrough == passThrough_) return;
  if (!Connected()) {
    passThrough_ = passThrough;
    return;
  }
  if (passThrough) {
    // The socket time-outs stay in force.
    passThrough_ = true;
    state_ = State::kPlain;
    return;
  }
  if (context_ == nullptr) Raise(ErrorKind::kTlsLibrary, kCouldNotLoad);
  Handshake();
}

void TlsChannel::PrepareTls() {
  if (context_ != nullptr) return;
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (api == nullptr) Raise(ErrorKind::kTlsLibrary, kCouldNotLoad);
  context_ = SharedClientContext(*api);
}

// Loads OpenSSL and makes the shared context while the TCP handshake is under way: the first
// connection of a process then does not wait one network round trip more for them. A failure is
// kept for OnConnected, after the connect: a connect that fails is still the failure reported.
void TlsChannel::PrepareTlsWhileConnecting() noexcept {
  try {
    PrepareTls();
  } catch (...) {
    preparationFailure_ = std::current_exception();
  }
}

void TlsChannel::Handshake() {
  const openssl::Api* api = openssl::LoadOpenSsl();
  ApplySocketTimeouts();
  if (connection_ != nullptr) {
    api->free(connection_);
    connection_ = nullptr;
  }
  api->errClearError();
  connection_ = api->sslNew(context_);
  if (connection_ == nullptr) Raise(ErrorKind::kTlsLibrary, u"Error creating SSL session.");
  if (api->setExData != nullptr) {
    const int result = api->setExData(connection_, 0, this);
    if (result <= 0) RaiseFailure(u"Error binding data to SSL socket.", Capture(result));
  }
  const int fdResult = api->setFd(connection_, socket_);
  if (fdResult <= 0) RaiseFailure(u"Error setting File Descriptor for SSL", Capture(fdResult));
  const std::u16string& host = serverHost_;
  const int port = serverPort_;
  api->setTlsextHostName(connection_, platform::TextToAnsi(host).c_str());
  CheckServerName(host);
  ApplyMaxVersion(*api);
  const long maxVersion = allowTls13_ ? openssl::kTls13Version : openssl::kTls12Version;
  // The session of an earlier connection to this host name and port, if one is kept: the server
  // may resume it (no certificate is sent then) or decline it (a full handshake with every check).
  OfferKeptSession(*api, connection_, host, port, maxVersion);
  api->errClearError();
  platform::ClearSocketError();
  peerCertificate_.clear();
  const bool capture = keepPeerCertificate_ && api->setVerify != nullptr &&
                       api->storeCurrentCert != nullptr && api->storeErrorDepth != nullptr;
  std::unique_lock<std::mutex> captureLock(gCaptureLock, std::defer_lock);
  if (capture) {
    // The context's mode (verify the peer) with a callback that only looks.
    captureLock.lock();
    api->setVerify(connection_, openssl::kVerifyPeer, &CaptureServerCertificate);
    gCapturedCertificate = &peerCertificate_;
  }
  // Under a deadline, no receive of the handshake outlasts it: the socket's bound is cut to the
  // time left, and the socket BIO waits for each receive's bytes at most until the deadline (a
  // server may pace its handshake a byte at a time). The 1.0 line reads through its own socket
  // BIO, so there only the socket's bound applies.
  std::optional<ReceiveDeadlineScope> bounded;
  bool cutToDeadline = false;  // the socket's bound is the time left
  if (handshakeDeadline_) {
    const int left = std::max(MillisecondsUntil(*handshakeDeadline_), 1);
    cutToDeadline = left < SocketTimeout();
    if (cutToDeadline) {
      platform::SetSocketTimeouts(socket_, left);
      appliedTimeoutMs_ = left;
    }
    bounded.emplace(socket_, *handshakeDeadline_, SocketTimeout());
  }
  const int result = api->connect(connection_);
  const bool receiveRefused = bounded && bounded->Passed();
  bounded.reset();
  if (capture) {
    gCapturedCertificate = nullptr;
    captureLock.unlock();
  }
  if (result <= 0) {
    const Failure failure = Capture(result);
    ApplySocketTimeouts();
    if (keepPeerCertificate_) CapturePeerCertificate();
    DropKeptSession(host, port, maxVersion);
    const bool deadlinePassed =
        handshakeDeadline_ &&
        (receiveRefused || (cutToDeadline && failure.socketError == kWsaTimedOut) ||
         MillisecondsUntil(*handshakeDeadline_) == 0);
    if (deadlinePassed) {
      Raise(ErrorKind::kTimeout, u"The TLS handshake did not end before the deadline.",
            kHandshakeDeadlineCode);
    }
    try {
      RaiseFailure(kErrorConnecting, failure);
    } catch (const Error& error) {
      // A socket failure in the middle of the handshake (a server that never answers it: 10060)
      // is a failure of the handshake all the same; the message stays the socket layer's.
      Error handshake(ErrorKind::kTls, error.Message(), error.Code());
      handshake.SetDetail(VerifyVerdict());
      throw handshake;
    }
  }
  ApplySocketTimeouts();
  if (keepPeerCertificate_) CapturePeerCertificate();
  KeepSession(*api, connection_, host, port, maxVersion);
  passThrough_ = false;
  state_ = State::kRunning;
}

void TlsChannel::ApplyMaxVersion(const openssl::Api& api) {
  if (!allowTls13_) return;  // the shared context's maximum, TLS 1.2
  if (api.setMaxProtoVersion == nullptr) {
    // "OpenSSL 1.0.2n  7 Dec 2017": the second word is the release.
    std::string release = "(unknown)";
    if (api.versionText != nullptr) {
      if (const char* text = api.versionText()) {
        std::size_t length = 0;
        while (length < 128 && text[length] != '\0')
          ++length;
        const std::string_view whole(text, length);
        const std::size_t start = whole.find(' ');
        if (start != std::string_view::npos) {
          const std::size_t end = whole.find(' ', start + 1);
          release = std::string(whole.substr(
              start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1));
        }
      }
    }
    Raise(ErrorKind::kTls, u"TLS 1.3 needs OpenSSL 1.1.1 or later; the loaded OpenSSL is " +
                               AsciiToText(release) + u".");
  }
  if (api.setMaxProtoVersion(connection_, openssl::kTls13Version) != 1) {
    RaiseFailure(kErrorConnecting, Capture(0));
  }
}

std::u16string TlsChannel::VerifyVerdict() const {
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (api->getVerifyResult == nullptr || api->verifyCertErrorString == nullptr) return {};
  const long verdict = api->getVerifyResult(connection_);
  if (verdict == 0) return {};  // X509_V_OK
  const char* text = api->verifyCertErrorString(verdict);
  return text != nullptr ? BytesToText(text) : std::u16string();
}

void TlsChannel::CapturePeerCertificate() {
  // What the verification callback kept, else the chain as received (the first entry is the
  // server's): OpenSSL 3 keeps a refused chain there, the 1.0 line does not.
  if (!peerCertificate_.empty()) return;
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (api->getPeerCertChain == nullptr || api->chainCount == nullptr ||
      api->chainValue == nullptr) {
    return;
  }
  const openssl::CertChain* chain = api->getPeerCertChain(connection_);
  if (chain == nullptr || api->chainCount(chain) <= 0) return;
  peerCertificate_ = CertificateDer(*api, api->chainValue(chain, 0));
}

void TlsChannel::CheckServerName(const std::u16string& host) {
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (host.empty()) {
    Raise(ErrorKind::kTls,
          std::u16string(kErrorConnecting) + u"\r\nNo host name to check the certificate against.");
  }
  if (api->get0Param == nullptr || api->paramSet1Host == nullptr ||
      api->paramSet1IpAsc == nullptr) {
    Raise(ErrorKind::kTls, std::u16string(kErrorConnecting) +
                               u"\r\nThe SSL library cannot check the server's host name.");
  }
  openssl::VerifyParam* param = api->get0Param(connection_);
  const std::string ascii = TextToAscii(host);
  const bool literalIp = platform::ParseIpv4(host).has_value() || host.find(u':') != host.npos;
  int set;
  if (param == nullptr) {
    set = 0;
  } else if (literalIp) {
    set = api->paramSet1IpAsc(param, ascii.c_str());
  } else {
    if (api->paramSetHostflags != nullptr) {
      api->paramSetHostflags(param, openssl::kCheckFlagNoPartialWildcards);
    }
    set = api->paramSet1Host(param, ascii.c_str(), ascii.size());
  }
  if (set <= 0) {
    Raise(ErrorKind::kTls, std::u16string(kErrorConnecting) +
                               u"\r\nInvalid host name to check the certificate: " + host);
  }
}

TlsChannel::Failure TlsChannel::Capture(int result) {
  // The socket error first: nothing after the failed call may overwrite it.
  Failure failure;
  failure.socketError = platform::LastSocketError();
  failure.result = result;
  const openssl::Api* api = openssl::LoadOpenSsl();
  failure.sslError =
      connection_ != nullptr ? api->getError(connection_, result) : openssl::kErrorSsl;
  // A blocking socket asks to be retried only when its time-out ran out.
  if (IsRetry(failure.sslError) && failure.socketError == kWsaTimedOut) {
    failure.sslError = openssl::kErrorSyscall;
  }
  failure.queued = api->errGetError != nullptr ? api->errGetError() : 0;
  api->errClearError();
  return failure;
}

std::u16string TlsChannel::ErrorText(unsigned long error) const {
  return TlsErrorText(openssl::LoadOpenSsl(), error);
}

void TlsChannel::RaiseFailure(const std::u16string& base, const Failure& failure) {
  auto withBase = [&](const std::u16string& detail) {
    return base.empty() ? detail : base + u"\r\n" + detail;
  };
  switch (failure.sslError) {
    case openssl::kErrorSsl:
      Raise(ErrorKind::kTls, withBase(ErrorText(failure.queued)));
    case openssl::kErrorSyscall:
      if (failure.queued != 0) Raise(ErrorKind::kTls, withBase(ErrorText(failure.queued)));
      if (failure.result == 0 || failure.socketError == 0)
        Raise(ErrorKind::kTls, withBase(kEofViolation));
      platform::RaiseSocketError(failure.socketError);
    default:
      Raise(ErrorKind::kTls, withBase(ErrorText(static_cast<unsigned long>(failure.sslError))));
  }
}

bool TlsChannel::Readable(int timeoutMs) {
  if (!Connected()) return false;
  if (!passThrough_ && connection_ != nullptr) {
    const openssl::Api* api = openssl::LoadOpenSsl();
    if (api->pending != nullptr && api->pending(connection_) > 0) return true;
  }
  return platform::WaitReadable(socket_, timeoutMs < 0 ? SocketTimeout() : timeoutMs);
}

int TlsChannel::Receive(char* buffer, int size) {
  lastFailure_ = {};
  if (!Connected()) {
    lastFailure_ = {openssl::kErrorSyscall, -1, kWsaNotConnected, 0};
    return -1;
  }
  if (size <= 0) return 0;
  if (!passThrough_ && connection_ != nullptr) return ReceiveTls(buffer, size);
  platform::ClearSocketError();
  const int n = platform::SocketReceive(socket_, buffer, size);
  endedCleanly_ = true;
  if (n < 0) lastFailure_ = {openssl::kErrorSyscall, n, platform::LastSocketError(), 0};
  return n;
}

int TlsChannel::ReceiveTls(char* buffer, int size) {
  const openssl::Api* api = openssl::LoadOpenSsl();
  for (int attempt = 0;; ++attempt) {
    api->errClearError();
    platform::ClearSocketError();
    const int n = api->read(connection_, buffer, size);
    if (n > 0) return n;
    const Failure failure = Capture(n);
    if (IsRetry(failure.sslError) && attempt < kMaxRetries) continue;
    endedCleanly_ = failure.sslError == openssl::kErrorZeroReturn;
    if (endedCleanly_) return 0;
    lastFailure_ = failure;
    DropSessionAfter(failure);
    return n < 0 || failure.sslError == openssl::kErrorSyscall ? n : -1;
  }
}

int TlsChannel::Send(const char* data, int size) {
  lastFailure_ = {};
  if (!Connected()) {
    lastFailure_ = {openssl::kErrorSyscall, -1, kWsaNotConnected, 0};
    return -1;
  }
  if (!passThrough_ && connection_ != nullptr) return SendTls(data, size);
  int sent = 0;
  while (sent < size) {
    platform::ClearSocketError();
    const int n = platform::SocketSend(socket_, data + sent, size - sent);
    if (n <= 0) {
      lastFailure_ = {openssl::kErrorSyscall, n, platform::LastSocketError(), 0};
      return -1;
    }
    sent += n;
  }
  return sent;
}

int TlsChannel::SendTls(const char* data, int size) {
  const openssl::Api* api = openssl::LoadOpenSsl();
  int sent = 0;
  int retries = 0;
  while (sent < size) {
    api->errClearError();
    platform::ClearSocketError();
    const int n = api->write(connection_, data + sent, size - sent);
    if (n > 0) {
      sent += n;
      continue;
    }
    const Failure failure = Capture(n);
    if (IsRetry(failure.sslError) && ++retries <= kMaxRetries) continue;
    if (failure.sslError == openssl::kErrorZeroReturn) return 0;
    lastFailure_ = failure;
    DropSessionAfter(failure);
    return n;
  }
  return sent;
}

void TlsChannel::DropSessionAfter(const Failure& failure) {
  // A connection that ended in a TLS failure (an alert, a record that does not decrypt) must not
  // be resumed: its session is not offered again. OpenSSL 1.1 and later mark such a session
  // themselves; 1.0.2 does not. A socket's failure (reset, time-out) leaves the session as it is.
  const bool tlsFailure = failure.sslError == openssl::kErrorSsl ||
                          (failure.sslError == openssl::kErrorSyscall && failure.queued != 0);
  if (!tlsFailure) return;
  DropKeptSession(serverHost_, serverPort_,
                  allowTls13_ ? openssl::kTls13Version : openssl::kTls12Version);
}

int TlsChannel::SocketLayerCheck(int code) {
  switch (code) {
    case 0:
      return 0;
    case kWsaConnectionAborted:
    case kWsaConnectionReset:
    case kWsaShutdown:
    case kWsaTimedOut:
      return code;
    default:
      platform::RaiseSocketError(code);
  }
}

int TlsChannel::CheckError(int result) {
  if (result > 0) return 0;
  const Failure failure = lastFailure_;
  switch (failure.sslError) {
    case openssl::kErrorNone:
      return 0;
    case openssl::kErrorSyscall:
      if (failure.socketError != 0 || failure.queued == 0) {
        return SocketLayerCheck(failure.socketError);
      }
      RaiseFailure(u"", failure);
    default:
      RaiseFailure(u"", failure);
  }
}

void TlsChannel::Close() {
  if (TlsLibraryLeftAlone()) {
    // The process is ending: the connection's TLS state stays as it is, for the process's end to
    // take; only its socket closes.
    connection_ = nullptr;
    context_ = nullptr;
  } else if (connection_ != nullptr || context_ != nullptr) {
    const openssl::Api* api = openssl::LoadOpenSsl();
    if (connection_ != nullptr) {
      // A TLS 1.3 server hands its resumable session (ticket) after the handshake, read with the
      // answer: the session kept at the handshake is replaced by the one the connection holds now.
      if (allowTls13_ && state_ == State::kRunning) {
        KeepSession(*api, connection_, serverHost_, serverPort_, openssl::kTls13Version);
      }
      api->errClearError();
      api->shutdown(connection_);  // sends the closing alert; no answer is awaited
      api->free(connection_);
      connection_ = nullptr;
    }
    // The context is the process's (SharedClientContext); the next connect takes it again.
    context_ = nullptr;
    api->errClearError();
  }
  platform::CloseSocket(socket_);
  socket_ = platform::kNoSocket;
  appliedTimeoutMs_ = 0;
  lastFailure_ = {};
  state_ = State::kIdle;
}

}  // namespace tessora
