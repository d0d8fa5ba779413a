#include "http/connection.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"
#include "http/traffic_log.h"
#include "net/tcp_connect.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace tessora {

void AppendBounded(std::string& into, std::string_view bytes, std::size_t limit) {
  if (bytes.size() > limit - std::min(limit, into.size()))
    Raise(ErrorKind::kProtocol, kBodyTooLarge);
  into.append(bytes);
}

Connection::Connection() : block_(new char[kBlockSize]) {}

Connection::~Connection() = default;

void Connection::SetChannel(std::unique_ptr<Stream> channel) {
  if (channel_) channel_->Close();
  channel_ = std::move(channel);
  released_ = false;
  ClearInput();
  if (channel_) channel_->SetHandshakeDeadline(deadline_);
}

std::unique_ptr<Stream> Connection::ReleaseChannel() {
  ClearInput();
  released_ = true;
  return std::move(channel_);
}

void Connection::SetDeadline(std::optional<DateTime> deadline, int callMs, int ioTimeoutMs) {
  deadline_ = deadline;
  callMs_ = callMs;
  ioTimeoutMs_ = ioTimeoutMs;
  if (channel_) channel_->SetHandshakeDeadline(deadline_);
}

int Connection::RemainingMs() const {
  if (!deadline_) return -1;
  const double left = (*deadline_ - platform::NowSteady()) * kMillisecondsInADay;
  if (left <= 0) return 0;
  return left >= callMs_ ? callMs_ : static_cast<int>(left + 0.5);
}

void Connection::RaiseDeadline() const {
  Raise(ErrorKind::kTimeout, u"the call exceeded its " + IntToText(callMs_) + u" ms",
        kCallDeadlineCode);
}

bool Connection::Connected() const {
  return channel_ && channel_->Connected();
}

void Connection::Open(const std::u16string& host, int port, int connectTimeoutMs,
                      bool passThrough) {
  if (!channel_) Raise(u"No connection carrier has been set.");
  // Without a host or a port no connection is attempted, so none is closed here either.
  CheckConnectTarget(host, port);
  endedCleanly_ = true;
  receivedSinceRequest_ = 0;
  try {
    channel_->SetPassThrough(passThrough);
    channel_->Connect(host, port, connectTimeoutMs);
    if (recorder_ != nullptr) recorder_->Connect();
  } catch (const Error& failure) {
    Close();
    RaiseDeadlineOf(failure);
    throw;
  } catch (...) {
    Close();
    throw;
  }
}

void Connection::StartTls() {
  try {
    channel_->SetPassThrough(false);
  } catch (const Error& failure) {
    RaiseDeadlineOf(failure);
    throw;
  }
}

void Connection::RaiseDeadlineOf(const Error& failure) const {
  if (failure.Kind() == ErrorKind::kTimeout && failure.Code() == kHandshakeDeadlineCode) {
    RaiseDeadline();
  }
}

void Connection::CloseCarrier() {
  if (released_) return;  // the connection lives on elsewhere
  if (channel_) channel_->Close();
  if (recorder_ != nullptr) recorder_->Disconnect();
}

void Connection::Close() {
  ClearInput();
  CloseCarrier();
}

void Connection::ClearInput() {
  input_.clear();
  pos_ = 0;
}

bool Connection::WaitForInput(int timeoutMs) {
  if (Available() > 0) return true;
  return Connected() && channel_->Readable(timeoutMs);
}

void Connection::Write(std::string_view block) {
  if (!Connected()) Raise(ErrorKind::kClosed, u"Connection Closed Gracefully.");
  if (RemainingMs() == 0) RaiseDeadline();
  if (recorder_ != nullptr) recorder_->Send(block);
  // The channel counts in int: a longer block (a 64-bit host's long URL or headers) goes in slices.
  constexpr std::size_t kSlice = 1u << 30;
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(kSlice, block.size() - at);
    const int result = channel_->Send(block.data() + at, static_cast<int>(n));
    if (result <= 0) {
      const int code = result < 0 ? channel_->CheckError(result) : 0;
      if (code != 0) platform::RaiseSocketError(code);
      Raise(ErrorKind::kClosed, u"Connection Closed Gracefully.");
    }
    at += n;
  } while (at < block.size());
}

Connection::FillResult Connection::Fill(bool resetEnds) {
  if (!Connected()) return FillResult::kClosed;
  if (deadline_) {
    const int remaining = RemainingMs();
    if (remaining == 0) RaiseDeadline();
    // A wait the carrier's own bound would not end first ends at the deadline.
    if (remaining < ioTimeoutMs_ && !channel_->Readable(remaining)) RaiseDeadline();
  }
  const int received = channel_->Receive(block_.get(), kBlockSize);
  if (received > 0) {
    receivedSinceRequest_ += static_cast<std::uint64_t>(received);
    const std::string_view block(block_.get(), static_cast<std::size_t>(received));
    if (recorder_ != nullptr) recorder_->Receive(block);
    if (pos_ > 0 && pos_ >= input_.size() / 2) {
      input_.erase(0, pos_);
      pos_ = 0;
    }
    input_.append(block);
    // A server that trickles its answer keeps every receive short; the call still ends in time.
    if (RemainingMs() == 0) RaiseDeadline();
    return FillResult::kData;
  }
  if (received < 0) {
    const int code = channel_->CheckError(received);
    if (code == kWsaTimedOut) Raise(ErrorKind::kTimeout, u"Read timed out.");
    if (code == kWsaConnectionAborted || code == kWsaConnectionReset || code == kWsaShutdown) {
      endedCleanly_ = false;
      CloseCarrier();
      if (!resetEnds) platform::RaiseSocketError(code);
      return FillResult::kClosed;
    }
    if (code != 0) platform::RaiseSocketError(code);
  }
  // The peer ended the connection.
  endedCleanly_ = channel_->EndedCleanly();
  CloseCarrier();
  return FillResult::kClosed;
}

void Connection::Take(std::string& into, std::size_t count, std::size_t limit) {
  AppendBounded(into, std::string_view(input_).substr(pos_, count), limit);
  pos_ += count;
}

std::optional<std::string> Connection::ReadLine() {
  std::size_t searched = 0;
  for (;;) {
    const std::size_t lf = input_.find('\n', pos_ + searched);
    if (lf != std::string::npos) {
      std::size_t end = lf;
      if (end > pos_ && input_[end - 1] == '\r') --end;
      if (end - pos_ > kMaxLineLength) Raise(ErrorKind::kProtocol, u"Max line length exceeded.");
      std::string line = input_.substr(pos_, end - pos_);
      pos_ = lf + 1;
      return line;
    }
    // Room for the longest line and the CR of its line end, and no more.
    if (Available() > kMaxLineLength + 1) Raise(ErrorKind::kProtocol, u"Max line length exceeded.");
    searched = Available();
    if (Fill() == FillResult::kClosed) {
      if (Available() == 0) return std::nullopt;
      std::string line = input_.substr(pos_);
      if (line.back() == '\r') line.pop_back();
      if (line.size() > kMaxLineLength) Raise(ErrorKind::kProtocol, u"Max line length exceeded.");
      ClearInput();
      return line;
    }
  }
}

bool Connection::ReadBytes(std::string& into, std::int64_t count, std::size_t limit) {
  while (count > 0) {
    if (Available() == 0 && Fill() == FillResult::kClosed) return false;
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::int64_t>(count, static_cast<std::int64_t>(Available())));
    Take(into, take, limit);
    count -= static_cast<std::int64_t>(take);
  }
  return true;
}

void Connection::ReadToClose(std::string& into, std::size_t limit) {
  for (;;) {
    Take(into, Available(), limit);
    if (Fill(true) == FillResult::kClosed) {
      Take(into, Available(), limit);
      return;
    }
  }
}

bool Connection::ReadThrough(std::string& into, std::string_view marker, std::size_t limit) {
  if (marker.empty()) return true;
  for (;;) {
    const std::size_t hit = input_.find(marker, pos_);
    if (hit != std::string::npos) {
      Take(into, hit + marker.size() - pos_, limit);
      return true;
    }
    // Keep what could be the start of a marker split across blocks.
    const std::size_t keep = std::min(Available(), marker.size() - 1);
    Take(into, Available() - keep, limit);
    if (Fill() == FillResult::kClosed) {
      Take(into, Available(), limit);
      return false;
    }
  }
}

}  // namespace tessora
