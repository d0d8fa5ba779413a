// POSIX sockets. Errors are reported as Windows Sockets numbers so that messages read the same on
// every build; a blocking receive or send that runs into its time-out (EAGAIN) counts as 10060.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/error.h"
#include "base/fault_injection.h"
#include "base/socket_errors.h"
#include "base/text.h"
#include "platform/address_list.h"
#include "platform/posix/thread_locale.h"

namespace tessora::platform {

namespace {

thread_local int tLastError = 0;

int Fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

int SaveErrno() {
  tLastError = SocketErrorFromErrno(errno);
  return tLastError;
}

int AddrInfoError(int result) {
  switch (result) {
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
    case EAI_NODATA:
      return kWsaNoData;
    case EAI_MEMORY:
      return kWsaNoBuffers;
    case EAI_SYSTEM:
      return SocketErrorFromErrno(errno);
    default:  // EAI_NONAME, EAI_IDN_ENCODE, EAI_FAMILY, ...
      return kWsaHostNotFound;
  }
}

}  // namespace

int SocketErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return kWsaInterrupted;
    case EBADF:
      return kWsaBadFile;
    case EACCES:
    case EPERM:
      return kWsaAccessDenied;
    case EFAULT:
      return kWsaFault;
    case EINVAL:
      return kWsaInvalidArgument;
    case EMFILE:
    case ENFILE:
      return kWsaTooManyFiles;
    case EAGAIN:  // our sockets block: EAGAIN means the receive or send time-out ran out
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return kWsaTimedOut;
    case EINPROGRESS:
      return kWsaInProgress;
    case EALREADY:
      return kWsaAlready;
    case ENOTSOCK:
      return kWsaNotSocket;
    case EDESTADDRREQ:
      return kWsaDestinationRequired;
    case EMSGSIZE:
      return kWsaMessageSize;
    case EPROTOTYPE:
      return kWsaProtocolType;
    case ENOPROTOOPT:
      return kWsaNoProtocolOption;
    case EPROTONOSUPPORT:
      return kWsaProtocolNotSupported;
    case ESOCKTNOSUPPORT:
      return kWsaSocketTypeNotSupported;
    case EOPNOTSUPP:
      return kWsaOperationNotSupported;
    case EPFNOSUPPORT:
      return kWsaProtocolFamily;
    case EAFNOSUPPORT:
      return kWsaAddressFamily;
    case EADDRINUSE:
      return kWsaAddressInUse;
    case EADDRNOTAVAIL:
      return kWsaAddressNotAvailable;
    case ENETDOWN:
      return kWsaNetworkDown;
    case ENETUNREACH:
      return kWsaNetworkUnreachable;
    case ENETRESET:
      return kWsaNetworkReset;
    case ECONNABORTED:
      return kWsaConnectionAborted;
    case ECONNRESET:
      return kWsaConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaNoBuffers;
    case EISCONN:
      return kWsaIsConnected;
    case ENOTCONN:
      return kWsaNotConnected;
    case EPIPE:
    case ESHUTDOWN:
      return kWsaShutdown;
    case ECONNREFUSED:
      return kWsaConnectionRefused;
    case ELOOP:
      return kWsaLoop;
    case ENAMETOOLONG:
      return kWsaNameTooLong;
    case EHOSTDOWN:
      return kWsaHostDown;
    case EHOSTUNREACH:
      return kWsaHostUnreachable;
    default:
      return 10000 + error;  // no Windows Sockets counterpart: keep the number recognisable
  }
}

namespace {

// An internationalised name in its ASCII form ("xn--" labels), converted by libidn2, the library
// glibc itself converts AI_IDN names with (same defaults), loaded on first use and kept; nothing
// where it is missing or refuses the name. The conversion is local: no query leaves the machine.
std::optional<std::string> IdnToAscii(const std::string& utf8) {
  using LookupFunction = int (*)(const std::uint8_t*, std::uint8_t**, int);
  using FreeFunction = void (*)(void*);
  struct Idn2 {
    LookupFunction lookup = nullptr;
    FreeFunction free = nullptr;
  };
  static const Idn2 kIdn2 = [] {
    Idn2 found;
    void* library = dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return found;
    found.lookup = reinterpret_cast<LookupFunction>(dlsym(library, "idn2_lookup_u8"));
    found.free = reinterpret_cast<FreeFunction>(dlsym(library, "idn2_free"));
    if (found.lookup == nullptr || found.free == nullptr) found = Idn2{};
    return found;
  }();
  if (kIdn2.lookup == nullptr) return std::nullopt;
  std::uint8_t* converted = nullptr;
  constexpr int kIdn2Ok = 0;
  const int result =
      kIdn2.lookup(reinterpret_cast<const std::uint8_t*>(utf8.c_str()), &converted, 0);
  if (result != kIdn2Ok || converted == nullptr) {
    if (converted != nullptr) kIdn2.free(converted);
    return std::nullopt;
  }
  std::string ascii(reinterpret_cast<const char*>(converted));
  kIdn2.free(converted);
  return ascii;
}

// One lookup on glibc's resolver thread. Freed once the resolver is done with it; a lookup that
// timed out and could not be cancelled is left to the resolver, which may still write into it.
struct AsyncLookup {
  std::string name;
  addrinfo hints{};
  gaicb request{};
};

// getaddrinfo's answer within timeoutMs; EAI_AGAIN with `timedOut` set when the resolver had not
// answered by then.
int LookUpWithin(const std::string& name, const addrinfo& hints, int timeoutMs, addrinfo** found,
                 bool& timedOut) {
  timedOut = false;
  auto* lookup = new AsyncLookup{name, hints, {}};
  lookup->request.ar_name = lookup->name.c_str();
  lookup->request.ar_request = &lookup->hints;
  gaicb* requests[1] = {&lookup->request};
  int result = getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr);
  if (result != 0) {
    delete lookup;
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  // Bounded: every pass waits for the rest of the time-out, which shrinks to nothing.
  while ((result = gai_error(&lookup->request)) == EAI_INPROGRESS) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    const long long remaining = timeoutMs - elapsed;
    if (remaining <= 0) break;
    const timespec wait{static_cast<time_t>(remaining / 1000),
                        static_cast<long>(remaining % 1000) * 1000000L};
    const gaicb* waiting[1] = {&lookup->request};
    gai_suspend(waiting, 1, &wait);
  }
  if (result == EAI_INPROGRESS) {
    timedOut = true;
    if (gai_cancel(&lookup->request) == EAI_CANCELED) delete lookup;
    return EAI_AGAIN;
  }
  *found = lookup->request.ar_result;
  delete lookup;
  return result;
}

// The addresses of `host` for one family (AF_INET or AF_INET6), the resolver's list as it is; the
// caller frees it. Raises the socket error of the resolution; with timeoutMs > 0 a resolver that
// has not answered by then fails it with "Host name lookup timed out." (ASCII names, and
// internationalised ones that libidn2 converts).
addrinfo* LookUp(const std::u16string& host, int family, int timeoutMs) {
  if (timeoutMs > 0) {
    if (const int fault = TakeFault(Fault::kResolve)) {
      if (fault != kHangingConnect) RaiseSocketError(fault);
      detail::HangingConnect(timeoutMs);
      Raise(ErrorKind::kTimeout, u"Host name lookup timed out.");
    }
  }
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string name = TextToUtf8(host);
  bool ascii = true;
  for (char16_t c : host)
    ascii = ascii && c < 0x80;
  // A bounded lookup of an internationalised name: its ASCII form, converted here, goes to the
  // asynchronous lookup (whose resolver thread does not run under this thread's locale).
  std::optional<std::string> asciiForm;
  if (!ascii && timeoutMs > 0) asciiForm = IdnToAscii(name);
  int result;
  if ((ascii || asciiForm) && timeoutMs > 0) {
    bool timedOut = false;
    result = LookUpWithin(asciiForm ? *asciiForm : name, hints, timeoutMs, &found, timedOut);
    if (timedOut) Raise(ErrorKind::kTimeout, u"Host name lookup timed out.");
  } else if (ascii) {
    result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  } else {
    hints.ai_flags = AI_IDN;
    // getaddrinfo converts internationalised names from the locale's character set; the name is
    // handed over in UTF-8, so the lookup runs under a UTF-8 locale on this thread.
    const ScopedThreadLocale utf8("C.UTF-8");
    result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  }
  if (result != 0) RaiseSocketError(AddrInfoError(result));
  return found;
}

}  // namespace

std::uint32_t ResolveIpv4(const std::u16string& host, int timeoutMs) {
  if (std::optional<std::uint32_t> literal = ParseIpv4(host)) return *literal;
  addrinfo* found = LookUp(host, AF_INET, timeoutMs);
  const std::optional<std::uint32_t> address = detail::FirstIpv4(found);
  freeaddrinfo(found);
  if (!address) RaiseSocketError(kWsaHostNotFound);
  return *address;
}

std::vector<Ipv6Address> ResolveIpv6(const std::u16string& host, int timeoutMs) {
  addrinfo* found = LookUp(host, AF_INET6, timeoutMs);
  std::vector<Ipv6Address> addresses = detail::Ipv6Addresses(found);
  freeaddrinfo(found);
  if (addresses.empty()) RaiseSocketError(kWsaHostNotFound);
  return addresses;
}

namespace {

SocketHandle OpenStreamSocket(int family) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) RaiseSocketError(SaveErrno());
  const int noDelay = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  return fd;
}

}  // namespace

SocketHandle OpenTcpSocket() {
  return OpenStreamSocket(AF_INET);
}

SocketHandle OpenTcpSocket6() {
  return OpenStreamSocket(AF_INET6);
}

namespace {

// Waits for a non-blocking connect in progress: 0, the socket error, or kConnectTimedOut.
int WaitConnected(int fd, int timeoutMs, std::chrono::steady_clock::time_point start) {
  bool looked = false;
  for (;;) {
    int step = detail::ConnectWaitStep(start, timeoutMs);
    if (step < 0) {
      if (looked) return kConnectTimedOut;
      step = 0;  // the time went on work done meanwhile: the connect may have completed
    }
    looked = true;
    pollfd p{};
    p.fd = fd;
    p.events = POLLOUT;
    const int ready = poll(&p, 1, step);
    if (ready < 0 && errno != EINTR) return SaveErrno();
    if (ready <= 0) continue;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return SaveErrno();
    return tLastError = SocketErrorFromErrno(error);
  }
}

}  // namespace

namespace {

// Runs the caller's work while a connect is under way, leaving errno as it was.
void RunWhilePending(const WhilePending& whilePending) {
  if (!whilePending) return;
  const int saved = errno;
  whilePending();
  errno = saved;
}

// Connects to `target` as ConnectSocket describes.
int ConnectTo(SocketHandle socket, const sockaddr* target, socklen_t targetSize, int timeoutMs,
              const WhilePending& whilePending) {
  if (const int fault = TakeFault(Fault::kConnect)) {
    if (fault != kHangingConnect) return tLastError = fault;
    const int result = detail::HangingConnect(timeoutMs);
    if (result != kConnectTimedOut) tLastError = result;
    return result;
  }
  const int flags = fcntl(Fd(socket), F_GETFL);
  if (flags < 0 || fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) < 0) return SaveErrno();
  const auto start = std::chrono::steady_clock::now();
  int result = 0;
  if (connect(Fd(socket), target, targetSize) != 0) {
    // An interrupted connect goes on in the background like one in progress.
    if (errno == EINPROGRESS || errno == EINTR) {
      RunWhilePending(whilePending);
      result = WaitConnected(Fd(socket), timeoutMs, start);
    } else {
      result = SaveErrno();
    }
  } else {
    RunWhilePending(whilePending);
  }
  // Blocking again, for the receive and send time-outs.
  if (fcntl(Fd(socket), F_SETFL, flags) < 0 && result == 0) result = SaveErrno();
  return result;
}

}  // namespace

int ConnectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port, int timeoutMs,
                  const WhilePending& whilePending) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  return ConnectTo(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target, timeoutMs,
                   whilePending);
}

int ConnectSocket(SocketHandle socket, const Ipv6Address& address, std::uint16_t port,
                  int timeoutMs, const WhilePending& whilePending) {
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  target.sin6_port = htons(port);
  std::memcpy(&target.sin6_addr, address.data(), address.size());
  return ConnectTo(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target, timeoutMs,
                   whilePending);
}

void CloseSocket(SocketHandle socket) {
  if (socket == kNoSocket) return;
  // close() alone does not end a receive blocked in another thread; shutdown() does.
  shutdown(Fd(socket), SHUT_RDWR);
  close(Fd(socket));
}

void SetSocketTimeouts(SocketHandle socket, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(Fd(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

namespace {

// Milliseconds from now until `end`, rounded up (so that a wait never ends just short of it); 0
// once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point end) {
  const auto left = end - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Runs a blocking receive or send (`call`, given the flags to add) under the socket's time-out
// (`option`: SO_RCVTIMEO or SO_SNDTIMEO). The system restarts the time-out whenever a signal
// interrupts the call, so a plain retry would let a host that takes signals more often than that
// (interval timers, profilers, language run-times) keep a silent peer's receive waiting for ever:
// after an interruption the call waits (`events`) only for what is left of the time-out and is
// then made without blocking, and one whose time runs out fails as the time-out does (EAGAIN).
template <class Call>
ssize_t WithinTimeout(int fd, int option, short events, Call call) {
  const auto start = std::chrono::steady_clock::now();
  ssize_t n = call(0);
  if (n >= 0 || errno != EINTR) return n;
  timeval limit{};
  socklen_t size = sizeof limit;
  const bool bounded = getsockopt(fd, SOL_SOCKET, option, &limit, &size) == 0 &&
                       (limit.tv_sec > 0 || limit.tv_usec > 0);
  if (!bounded) {
    do {
      n = call(0);
    } while (n < 0 && errno == EINTR);
    return n;
  }
  const auto end =
      start + std::chrono::seconds(limit.tv_sec) + std::chrono::microseconds(limit.tv_usec);
  for (;;) {
    const int left = MillisecondsUntil(end);
    pollfd p{};
    p.fd = fd;
    p.events = events;
    const int ready = left > 0 ? poll(&p, 1, left) : 0;
    if (ready == 0) {
      errno = EAGAIN;
      return -1;
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    n = call(MSG_DONTWAIT);
    if (n >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return n;
  }
}

}  // namespace

int SocketSend(SocketHandle socket, const char* data, int size) {
  const int fd = Fd(socket);
  const ssize_t n = WithinTimeout(fd, SO_SNDTIMEO, POLLOUT, [&](int flags) {
    return send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL | flags);
  });
  if (n < 0) {
    SaveErrno();
    return -1;
  }
  return static_cast<int>(n);
}

int SocketReceive(SocketHandle socket, char* buffer, int size) {
  const int fd = Fd(socket);
  const ssize_t n = WithinTimeout(fd, SO_RCVTIMEO, POLLIN, [&](int flags) {
    return recv(fd, buffer, static_cast<std::size_t>(size), flags);
  });
  if (n < 0) {
    SaveErrno();
    return -1;
  }
  return static_cast<int>(n);
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
  // A signal ends poll() early: the wait goes on for the time that is left.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd p{};
  p.fd = Fd(socket);
  p.events = POLLIN;
  for (;;) {
    const int result = poll(&p, 1, timeoutMs < 0 ? -1 : MillisecondsUntil(end));
    if (result >= 0) return result > 0;
    if (errno != EINTR) {
      SaveErrno();
      return false;
    }
  }
}

int LastSocketError() {
  return tLastError;
}

void ClearSocketError() {
  tLastError = 0;
}

}  // namespace tessora::platform
