// The parts of the socket service that are the same everywhere: the texts of the Windows Sockets
// numbers, IPv4 literals, the steps of a connect's wait and the hanging connect that tests inject.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

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

int ConnectWaitStep(std::chrono::steady_clock::time_point start, int timeoutMs) {
  if (timeoutMs <= 0) return kConnectPollStepMs;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  const long long left = timeoutMs - elapsed;
  if (left <= 0) return -1;
  return static_cast<int>(std::min<long long>(left, kConnectPollStepMs));
}

int HangingConnect(int timeoutMs) {
  if (timeoutMs <= 0) {
    // A real connect to a host that never answers gives up after a few minutes too.
    std::this_thread::sleep_for(std::chrono::minutes(2));
    return kWsaTimedOut;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
  return kConnectTimedOut;
}

}  // namespace detail

}  // namespace tessora::platform
