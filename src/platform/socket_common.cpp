// The parts of the socket service that are the same everywhere: the texts of the Windows Sockets
// numbers, IPv4 literals, and the hanging connect that tests inject.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

#include "base/error.h"
#include "base/text.h"
#include "platform/socket.h"

namespace tessora::platform {

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Short English texts for the usual Windows Sockets numbers; the same on every build.
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty."},
    {10067, "Too many processes."},
    {10068, "Too many users."},
    {10069, "Disk quota exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unavailable."},
    {10092, "Winsock version out of range."},
    {10093, "Winsock not loaded yet."},
    {10101, "Graceful shutdown in progress."},
    {11001, "Host not found."},
    {11002, "Non-authoritative host not found."},
    {11003, "Non-recoverable name server error."},
    {11004, "Valid name, no data record of requested type."},
};

struct HangRegistry {
  std::mutex lock;
  std::condition_variable released;
  std::set<SocketHandle> hanging;
  std::set<SocketHandle> closed;  // closed before its connect began to hang
};

HangRegistry& Hangs() {
  static HangRegistry registry;
  return registry;
}

}  // namespace

std::u16string SocketErrorText(int code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return AsciiToText(entry.text);
  }
  return u"Unknown socket error.";
}

std::u16string SocketErrorMessage(int code) {
  return u"Socket Error # " + IntToText(code) + u"\r\n" + SocketErrorText(code);
}

void RaiseSocketError(int code) {
  Raise(ErrorKind::kSocket, SocketErrorMessage(code), code);
}

std::optional<std::uint32_t> ParseIpv4(std::u16string_view text) {
  std::uint32_t hostOrder = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return std::nullopt;
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      value = value * 10 + (text[i] - u'0');
      if (++digits > 3 || value > 255) return std::nullopt;
      ++i;
    }
    hostOrder = (hostOrder << 8) | value;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != u'.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(hostOrder >> 24), static_cast<unsigned char>(hostOrder >> 16),
      static_cast<unsigned char>(hostOrder >> 8), static_cast<unsigned char>(hostOrder)};
  std::uint32_t networkOrder = 0;
  std::memcpy(&networkOrder, bytes, 4);
  return networkOrder;
}

namespace detail {

void HangUntilClosed(SocketHandle socket) {
  HangRegistry& r = Hangs();
  std::unique_lock<std::mutex> guard(r.lock);
  if (r.closed.erase(socket) != 0) return;
  r.hanging.insert(socket);
  // A real connect gives up after a few minutes too.
  r.released.wait_for(guard, std::chrono::minutes(2), [&] { return r.hanging.count(socket) == 0; });
  r.hanging.erase(socket);
}

void ReleaseHang(SocketHandle socket) {
  HangRegistry& r = Hangs();
  std::lock_guard<std::mutex> guard(r.lock);
  if (r.hanging.erase(socket) != 0) {
    r.released.notify_all();
  } else if (r.closed.size() < 64) {
    // Remembered (a few at most) in case its connect has yet to begin hanging.
    r.closed.insert(socket);
  }
}

void ForgetSocket(SocketHandle socket) {
  HangRegistry& r = Hangs();
  std::lock_guard<std::mutex> guard(r.lock);
  r.closed.erase(socket);
}

}  // namespace detail

}  // namespace tessora::platform
