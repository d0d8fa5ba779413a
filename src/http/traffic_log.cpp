#include "http/traffic_log.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/locale.h"

namespace tessora {

namespace {

void ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::u16string::npos) break;
    out.append(text, pos, hit - pos);
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text, pos, std::u16string::npos);
  text = std::move(out);
}

}  // namespace

TrafficLog::TrafficLog() = default;

TrafficLog::~TrafficLog() {
  SetActive(false);
}

void TrafficLog::SetFilename(const std::u16string& filename) {
  if (Active()) Raise(u"Unable to set Filename while log file is open.");
  filename_ = filename;
}

void TrafficLog::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    file_ = platform::File::OpenAppend(filename_);
  } else {
    file_.reset();
  }
}

void TrafficLog::Connect() {
  if (Active()) LogStatus(u"Connected.");
}

void TrafficLog::Disconnect() {
  if (Active()) LogStatus(u"Disconnected.");
}

void TrafficLog::Send(std::string_view bytes) {
  if (Active()) LogSentData(CurrentTimeStamp(), DataText(bytes));
}

void TrafficLog::Receive(std::string_view bytes) {
  if (Active()) LogReceivedData(CurrentTimeStamp(), DataText(bytes));
}

void TrafficLog::LogStatus(std::u16string_view message) {
  std::u16string record = u"Stat ";
  record += message;
  LogWriteString(record);
}

void TrafficLog::LogSentData(std::u16string_view timeStamp, std::u16string_view data) {
  std::u16string record = u"Sent ";
  record.append(timeStamp).append(u": ").append(data);
  LogWriteString(record);
}

void TrafficLog::LogReceivedData(std::u16string_view timeStamp, std::u16string_view data) {
  std::u16string record = u"Recv ";
  record.append(timeStamp).append(u": ").append(data);
  LogWriteString(record);
}

void TrafficLog::LogWriteString(std::u16string_view text) {
  if (!file_) return;
  std::string bytes = TextToBytes(text);
  bytes += "\r\n";
  // A failed or short write (disk full) loses or cuts the record; the exchange goes on.
  (void)file_->Write(bytes);
}

std::u16string TrafficLog::ReplaceCR(std::u16string_view data) {
  std::u16string text(data);
  ReplaceAll(text, u"\r\n", u"<EOL>");
  ReplaceAll(text, u"\r", u"<CR>");
  ReplaceAll(text, u"\n", u"<LF>");
  return text;
}

std::u16string TrafficLog::TimeStamp(DateTime moment) {
  const DateTimeParts parts = DecodeDateTime(moment);
  std::u16string stamp = platform::FormatShortDate(parts);
  if (parts.hour != 0 || parts.minute != 0 || parts.second != 0 || parts.millisecond != 0) {
    stamp += u' ';
    stamp += platform::FormatLongTime(parts);
  }
  return stamp;
}

std::u16string TrafficLog::DataText(std::string_view bytes) const {
  std::u16string data = BytesToText(bytes);
  return replaceCRLF_ ? ReplaceCR(data) : data;
}

std::u16string TrafficLog::CurrentTimeStamp() const {
  return logTime_ ? TimeStamp(platform::NowLocal()) : std::u16string();
}

}  // namespace tessora
