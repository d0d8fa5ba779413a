// Windows Sockets: GetAddrInfoW for IPv4 and IPv6 (non-ASCII names through IdnToAscii where the
// system has it; bounded lookups on a thread of their own), a non-blocking connect waited for with
// select, then blocking sockets with SO_RCVTIMEO / SO_SNDTIMEO, select for readability.
#include "platform/socket.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "base/error.h"
#include "base/fault_injection.h"
#include "platform/address_list.h"

namespace tessora::platform {

namespace {

// Once per load. A function-local static, not std::call_once: with MinGW, call_once goes through
// a thread_local and pthread_once, which give every calling thread a record (a thread handle and
// events) in the C++ runtime linked into the DLL; a host thread that outlives an unload keeps it.
// Winsock itself stays loaded for the rest of the process: it keeps data for each thread that
// used it (an event), freed when the thread ends; unloaded with this library, it would leave that
// of every thread that outlives the unload behind.
void StartWinsock() {
  static const bool kStarted = [] {
    HMODULE winsock = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"ws2_32.dll", &winsock);
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)kStarted;
}

SOCKET Sock(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

using IdnToAsciiFunction = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);

// IdnToAscii lives in kernel32 on newer systems and in normaliz.dll on Vista and 7.
IdnToAsciiFunction FindIdnToAscii() {
  static const IdnToAsciiFunction kFunction = []() -> IdnToAsciiFunction {
    FARPROC found = nullptr;
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
      found = GetProcAddress(kernel, "IdnToAscii");
    }
    if (found == nullptr) {
      if (HMODULE normaliz = LoadLibraryW(L"normaliz.dll")) {
        found = GetProcAddress(normaliz, "IdnToAscii");
      }
    }
    return reinterpret_cast<IdnToAsciiFunction>(reinterpret_cast<void*>(found));
  }();
  return kFunction;
}

// The name in its ASCII form; a name the system cannot convert cannot be found.
std::wstring AsciiName(const std::u16string& host) {
  std::wstring name(host.begin(), host.end());
  bool ascii = true;
  for (char16_t c : host)
    ascii = ascii && c < 0x80;
  if (ascii) return name;
  IdnToAsciiFunction idnToAscii = FindIdnToAscii();
  if (idnToAscii == nullptr) return name;
  // IdnToAscii counts in int; a name that long (64-bit hosts) is no host name.
  if (name.size() > INT_MAX) RaiseSocketError(kWsaHostNotFound);
  const int n = idnToAscii(0, name.c_str(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring converted(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n <= 0 ||
      idnToAscii(0, name.c_str(), static_cast<int>(name.size()), converted.data(), n) != n) {
    RaiseSocketError(kWsaHostNotFound);
  }
  return converted;
}

}  // namespace

int SocketErrorFromErrno(int errnoValue) {
  return errnoValue == 0 ? 0 : 10000 + errnoValue;
}

namespace {

// One lookup on a thread of its own, so that its caller can stop waiting for it: GetAddrInfoW has
// no time-out of its own, and a resolver that never answers would hold the call. The thread holds
// a reference to the module its code is in, given back by FreeLibraryAndExitThread: a host that
// unloads the library while the resolver is still busy leaves that code in place until the thread
// has ended. A caller that has its answer in time waits for the thread to end as well, so that the
// reference is given back before the call returns: a host that unloads the library right after
// the call then unloads it, and loads it afresh next time. Whichever of the caller and the thread
// lets go last frees the record.
struct BackgroundLookup {
  std::wstring name;
  ADDRINFOW hints{};
  ADDRINFOW* found = nullptr;
  int result = 0;
  // Set for tests: the resolver's answer, without asking it (kHangingConnect: none for a while).
  int fault = 0;
  int hangMs = 0;
  HANDLE done = nullptr;     // set when the answer is in
  HMODULE module = nullptr;  // the reference the thread gives back
  LONG holders = 2;
};

void LetGo(BackgroundLookup* lookup) {
  if (InterlockedDecrement(&lookup->holders) != 0) return;
  if (lookup->found != nullptr) FreeAddrInfoW(lookup->found);
  CloseHandle(lookup->done);
  delete lookup;
}

DWORD WINAPI LookUpInBackground(void* parameter) {
  auto* lookup = static_cast<BackgroundLookup*>(parameter);
  HMODULE module = lookup->module;
  if (lookup->fault == kHangingConnect) {
    Sleep(static_cast<DWORD>(lookup->hangMs));
    lookup->result = kWsaHostNotFound;
  } else if (lookup->fault != 0) {
    lookup->result = lookup->fault;
  } else {
    lookup->result = GetAddrInfoW(lookup->name.c_str(), nullptr, &lookup->hints, &lookup->found);
  }
  SetEvent(lookup->done);
  LetGo(lookup);
  // (The reference the caller took for this thread.)
  FreeLibraryAndExitThread(module, 0);
}

// GetAddrInfoW's answer within timeoutMs, on a thread of its own; `timedOut` set when it had not
// answered by then. Where no thread can be started, the lookup runs here, unbounded.
int LookUpWithin(const std::wstring& name, const ADDRINFOW& hints, int timeoutMs, int fault,
                 ADDRINFOW** found, bool& timedOut) {
  timedOut = false;
  auto* lookup = new BackgroundLookup;
  lookup->name = name;
  lookup->hints = hints;
  lookup->fault = fault;
  // A resolver that never answers, for tests: answers long after the caller gave up.
  lookup->hangMs = timeoutMs > INT_MAX / 4 ? INT_MAX / 2 : timeoutMs * 2 + 1000;
  lookup->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  if (lookup->done != nullptr &&
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&LookUpInBackground), &lookup->module)) {
    thread = CreateThread(nullptr, 0, &LookUpInBackground, lookup, 0, nullptr);
    if (thread == nullptr) FreeLibrary(lookup->module);
  }
  if (thread == nullptr) {
    if (lookup->done != nullptr) CloseHandle(lookup->done);
    delete lookup;
    if (fault != 0) return fault == kHangingConnect ? kWsaHostNotFound : fault;
    return GetAddrInfoW(name.c_str(), nullptr, &hints, found);
  }
  // The thread ends right after it has set `done`. An answer that came in time counts even when
  // the thread's end is still held up (the loader's lock) when the time is over; only then does
  // the thread give the module's reference back after the call.
  const bool ended = WaitForSingleObject(thread, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!ended && WaitForSingleObject(lookup->done, 0) != WAIT_OBJECT_0) {
    timedOut = true;
    LetGo(lookup);
    return kWsaTimedOut;
  }
  const int result = lookup->result;
  *found = lookup->found;
  lookup->found = nullptr;
  LetGo(lookup);
  return result;
}

// The addresses of `host` for one family (AF_INET or AF_INET6), the resolver's list as it is; the
// caller frees it. Raises the socket error of the resolution; with timeoutMs > 0 a resolver that
// has not answered by then fails it with "Host name lookup timed out.".
ADDRINFOW* LookUp(const std::u16string& host, int family, int timeoutMs) {
  const int fault = timeoutMs > 0 ? TakeFault(Fault::kResolve) : 0;
  StartWinsock();
  ADDRINFOW hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* found = nullptr;
  const std::wstring name = AsciiName(host);
  int result = 0;
  if (timeoutMs > 0) {
    bool timedOut = false;
    result = LookUpWithin(name, hints, timeoutMs, fault, &found, timedOut);
    if (timedOut) Raise(ErrorKind::kTimeout, u"Host name lookup timed out.");
  } else {
    result = GetAddrInfoW(name.c_str(), nullptr, &hints, &found);
  }
  if (result != 0) RaiseSocketError(result);
  return found;
}

}  // namespace

std::uint32_t ResolveIpv4(const std::u16string& host, int timeoutMs) {
  if (std::optional<std::uint32_t> literal = ParseIpv4(host)) return *literal;
  ADDRINFOW* found = LookUp(host, AF_INET, timeoutMs);
  const std::optional<std::uint32_t> address = detail::FirstIpv4(found);
  FreeAddrInfoW(found);
  if (!address) RaiseSocketError(kWsaHostNotFound);
  return *address;
}

std::vector<Ipv6Address> ResolveIpv6(const std::u16string& host, int timeoutMs) {
  ADDRINFOW* found = LookUp(host, AF_INET6, timeoutMs);
  std::vector<Ipv6Address> addresses = detail::Ipv6Addresses(found);
  FreeAddrInfoW(found);
  if (addresses.empty()) RaiseSocketError(kWsaHostNotFound);
  return addresses;
}

namespace {

SocketHandle OpenStreamSocket(int family) {
  StartWinsock();
  // Not inheritable from its making on: a host thread that starts a program with inherited handles
  // meanwhile must not hand it the connection. (Windows before 7 SP1 refuses the flag; there the
  // flag is cleared right after.)
  SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    s = socket(family, SOCK_STREAM, IPPROTO_TCP);
  }
  if (s == INVALID_SOCKET) RaiseSocketError(WSAGetLastError());
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return static_cast<SocketHandle>(s);
}

}  // namespace

SocketHandle OpenTcpSocket() {
  return OpenStreamSocket(AF_INET);
}

SocketHandle OpenTcpSocket6() {
  return OpenStreamSocket(AF_INET6);
}

namespace {

// Waits for a non-blocking connect in progress: 0, the socket error, or kConnectTimedOut. Windows
// reports a failed connect as an exception on the socket, a completed one as writable.
int WaitConnected(SOCKET pending, int timeoutMs, std::chrono::steady_clock::time_point start) {
  bool looked = false;
  for (;;) {
    int step = detail::ConnectWaitStep(start, timeoutMs);
    if (step < 0) {
      if (looked) return kConnectTimedOut;
      step = 0;  // the time went on work done meanwhile: the connect may have completed
    }
    looked = true;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(pending, &writable);
    FD_SET(pending, &failed);
    timeval tv{};
    tv.tv_sec = step / 1000;
    tv.tv_usec = (step % 1000) * 1000;
    const int ready = select(0, nullptr, &writable, &failed, &tv);
    if (ready == SOCKET_ERROR) return WSAGetLastError();
    if (ready == 0) continue;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(pending, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
      return WSAGetLastError();
    }
    if (error == 0 && FD_ISSET(pending, &failed)) error = WSAECONNREFUSED;
    return error;
  }
}

}  // namespace

namespace {

// Runs the caller's work while a connect is under way, leaving the thread's last error (the
// Windows Sockets error is the same value) as it was.
void RunWhilePending(const WhilePending& whilePending) {
  if (!whilePending) return;
  const DWORD saved = GetLastError();
  whilePending();
  SetLastError(saved);
}

// Connects to `target` as ConnectSocket describes.
int ConnectTo(SocketHandle socket, const sockaddr* target, int targetSize, int timeoutMs,
              const WhilePending& whilePending) {
  if (const int fault = TakeFault(Fault::kConnect)) {
    const int result = fault != kHangingConnect ? fault : detail::HangingConnect(timeoutMs);
    if (result != kConnectTimedOut) WSASetLastError(result);
    return result;
  }
  u_long nonBlocking = 1;
  if (ioctlsocket(Sock(socket), FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
  const auto start = std::chrono::steady_clock::now();
  int result = 0;
  if (connect(Sock(socket), target, targetSize) != 0) {
    result = WSAGetLastError();
    if (result == WSAEWOULDBLOCK) {
      RunWhilePending(whilePending);
      result = WaitConnected(Sock(socket), timeoutMs, start);
    }
  } else {
    RunWhilePending(whilePending);
  }
  // Blocking again, for the receive and send time-outs.
  u_long blocking = 0;
  if (ioctlsocket(Sock(socket), FIONBIO, &blocking) != 0 && result == 0) {
    result = WSAGetLastError();
  }
  if (result != kConnectTimedOut) WSASetLastError(result);
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
  closesocket(Sock(socket));
}

void SetSocketTimeouts(SocketHandle socket, int milliseconds) {
  const DWORD value = static_cast<DWORD>(milliseconds);
  setsockopt(Sock(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
             sizeof value);
  setsockopt(Sock(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
             sizeof value);
}

int SocketSend(SocketHandle socket, const char* data, int size) {
  const int n = send(Sock(socket), data, size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int SocketReceive(SocketHandle socket, char* buffer, int size) {
  const int n = recv(Sock(socket), buffer, size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Sock(socket), &readable);
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  return select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv) > 0;
}

int LastSocketError() {
  return WSAGetLastError();
}

void ClearSocketError() {
  WSASetLastError(0);
}

}  // namespace tessora::platform
