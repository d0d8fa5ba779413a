#include "http/traffic_log.h"

#include <iterator>

#include "base/error.h"
#include "base/text.h"
#include "http/secret_mask.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/locale.h"

namespace tessora {

namespace {

// CR LF as "<EOL>", then any other CR as "<CR>" and LF as "<LF>", in one pass: the same as
// replacing all CR LF first, then all CR, then all LF, since no replacement holds a CR or LF.
std::string RenderLineBreaks(std::string_view data) {
  static constexpr char kEol[] = {'<', 'E', 'O', 'L', '>'};
  static constexpr char kCr[] = {'<', 'C', 'R', '>'};
  static constexpr char kLf[] = {'<', 'L', 'F', '>'};
  std::string out;
  out.reserve(data.size() + data.size() / 8);
  std::size_t start = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = data[i];
    if (c != '\r' && c != '\n') continue;
    out.append(data, start, i - start);
    if (c == '\n') {
      out.append(kLf, std::size(kLf));
    } else if (i + 1 < data.size() && data[i + 1] == '\n') {
      out.append(kEol, std::size(kEol));
      ++i;
    } else {
      out.append(kCr, std::size(kCr));
    }
    start = i + 1;
  }
  out.append(data, start, std::string_view::npos);
  return out;
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
    // A log that starts a new file when full renames and creates the file it opened, not one of
    // the same name in whatever the current directory has become (a host's file dialog changes
    // it): a relative name is tied to the current directory of the opening.
    std::u16string path = platform::PathIndependentOfTheCurrentDirectory(filename_);
    file_ = platform::File::OpenAppend(filename_);
    path_ = std::move(path);
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
  if (Active()) WriteDataRecord("Sent ", bytes);
}

void TrafficLog::Receive(std::string_view bytes) {
  if (Active()) WriteDataRecord("Recv ", bytes);
}

// A sent or received record, from the bytes directly: each byte is the character of its own
// number (ISO-8859-1), written back as that byte.
void TrafficLog::WriteDataRecord(std::string_view prefix, std::string_view bytes) {
  if (!file_) return;
  std::string record(prefix);
  record += TextToBytes(CurrentTimeStamp());
  record += ": ";
  if (replaceCrlf_) {
    record +=
        maskSecrets_ ? tessora::MaskSecrets(RenderLineBreaks(bytes)) : RenderLineBreaks(bytes);
  } else {
    record += maskSecrets_ ? tessora::MaskSecrets(bytes) : std::string(bytes);
  }
  record += "\r\n";
  WriteRecord(record);
}

void TrafficLog::WriteRecord(std::string_view record) {
  if (maxBytes_ > 0) {
    const std::uint64_t size = file_->Size();
    if (size > 0 && size + record.size() > maxBytes_) {
      file_.reset();
      // Whether or not the rename worked, the file is opened again: the new one, or the old one
      // to go on with.
      (void)platform::RenameReplacing(path_, path_ + u".1");
      try {
        file_ = platform::File::OpenAppend(path_);
      } catch (const Error&) {
        return;  // no log from here on; the library works without one
      }
    }
  }
  // A failed or short write (disk full) loses or cuts the record; the exchange goes on.
  (void)file_->Write(record);
}

void TrafficLog::LogStatus(std::u16string_view message) {
  std::u16string record = u"Stat ";
  record += message;
  LogWriteString(record);
}

void TrafficLog::LogWriteString(std::u16string_view text) {
  if (!file_) return;
  std::string bytes = TextToBytes(text);
  bytes += "\r\n";
  WriteRecord(bytes);
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

std::u16string TrafficLog::CurrentTimeStamp() const {
  return logTime_ ? TimeStamp(platform::NowLocal()) : std::u16string();
}

}  // namespace tessora
