// The client's side of one connection: the carrier (TLS channel or a test's in-memory channel),
// the traffic recorder that sees every block, and the bytes read but not yet used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/datetime.h"
#include "base/error.h"
#include "net/stream.h"

namespace tessora {

class TrafficLog;

class Connection {
 public:
  // Largest block handed to the carrier in one send or asked of it in one receive.
  static constexpr int kBlockSize = 32768;
  // Longest line read, without its line end.
  static constexpr std::size_t kMaxLineLength = 16384;

  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Stream* Channel() const { return channel_.get(); }
  void SetChannel(std::unique_ptr<Stream> channel);
  // Hands the carrier, open or not, to another connection: this one keeps none, and its Close
  // tells the recorder nothing any more (the connection did not end). Unread input is dropped.
  std::unique_ptr<Stream> ReleaseChannel();
  TrafficLog* Recorder() const { return recorder_; }
  void SetRecorder(TrafficLog* recorder) { recorder_ = recorder; }

  // The deadline of the whole call (on platform::NowSteady's clock, which tests may set): from then
  // on no send or receive begins, a receive waits no longer than what is left, and the call fails
  // with kCallDeadlineCode and "the call exceeded its <callMs> ms". `ioTimeoutMs` is the carrier's
  // own bound on a single receive. Without one (the default) nothing is checked.
  void SetDeadline(std::optional<DateTime> deadline, int callMs, int ioTimeoutMs);
  // Milliseconds left before the deadline (at least 0); -1 without a deadline.
  int RemainingMs() const;
  // Raises the deadline's failure.
  [[noreturn]] void RaiseDeadline() const;
  // Raises the deadline's failure when `failure` is a handshake's that passed the deadline.
  void RaiseDeadlineOf(const Error& failure) const;

  bool Connected() const;
  // Whether the latest end of the connection was the peer's orderly one (over TLS: with its
  // closing alert), so that the bytes before it are all the peer meant to send. A reset or abort
  // that ended a body, and a TLS stream cut without the alert, are not.
  bool EndedCleanly() const { return endedCleanly_; }
  // Hands the carrier the mode, connects it to host:port and tells the recorder. On any failure
  // the connection is closed (and the recorder told) before the failure goes on.
  void Open(const std::u16string& host, int port, int connectTimeoutMs, bool passThrough);
  // Starts TLS on the open connection (after a proxy's tunnel): the handshake.
  void StartTls();
  // Closes the carrier, forgets unread input and tells the recorder, whether the connection was
  // open or not.
  void Close();

  void ClearInput();
  // Whether bytes are waiting: already read, or readable from the carrier within timeoutMs.
  bool WaitForInput(int timeoutMs);
  // Bytes received since the last MarkRequest (or since the connection opened).
  std::uint64_t ReceivedSinceRequest() const { return receivedSinceRequest_; }
  void MarkRequest() { receivedSinceRequest_ = 0; }

  // Hands the block to the recorder, then to the carrier. Fails with the socket error, or with
  // "Connection Closed Gracefully." when the connection is closed.
  void Write(std::string_view block);

  // One line without its line end (LF, or CR LF). At the end of the connection the bytes left
  // form the last line; nothing when none are left. A line longer than kMaxLineLength fails with
  // "Max line length exceeded.".
  std::optional<std::string> ReadLine();
  // Appends up to `count` bytes to `into`; false when the connection closed first.
  bool ReadBytes(std::string& into, std::int64_t count, std::size_t limit);
  // Appends everything up to the end of the connection; a reset or abort by the peer ends it too.
  void ReadToClose(std::string& into, std::size_t limit);
  // Appends bytes up to and including `marker`; false when the connection closed first.
  bool ReadThrough(std::string& into, std::string_view marker, std::size_t limit);

 private:
  enum class FillResult { kData, kClosed };
  // Receives one block. A receive that ends the connection (the peer's close, or with
  // `resetEnds` a reset or abort) closes it and gives Closed.
  FillResult Fill(bool resetEnds = false);
  void CloseCarrier();
  std::size_t Available() const { return input_.size() - pos_; }
  void Take(std::string& into, std::size_t count, std::size_t limit);

  std::unique_ptr<Stream> channel_;
  TrafficLog* recorder_ = nullptr;
  std::string input_;
  std::size_t pos_ = 0;
  // One receive's bytes, left uninitialised: only what a receive filled is read.
  std::unique_ptr<char[]> block_;
  bool endedCleanly_ = true;
  std::uint64_t receivedSinceRequest_ = 0;
  bool released_ = false;  // the carrier went to another connection
  std::optional<DateTime> deadline_;
  int callMs_ = 0;
  int ioTimeoutMs_ = 0;
};

// The code of the failure (ErrorKind::kTimeout) of a call that passed its deadline.
inline constexpr int kCallDeadlineCode = -2;

// The failure of a body beyond its bound.
inline constexpr char16_t kBodyTooLarge[] = u"Max body size exceeded.";
// Appends bytes to a body, failing with kBodyTooLarge beyond `limit` bytes.
void AppendBounded(std::string& into, std::string_view bytes, std::size_t limit);

}  // namespace tessora
