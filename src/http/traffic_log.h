// The traffic log: a plain-text trace of the HTTP traffic of the loading thread, one record per
// line, appended to "Call Logs.txt".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/datetime.h"

namespace tessora {

namespace platform {
class File;
}

class TrafficLog {
 public:
  TrafficLog();
  // Releasing the log closes its file first.
  ~TrafficLog();
  TrafficLog(const TrafficLog&) = delete;
  TrafficLog& operator=(const TrafficLog&) = delete;

  const std::u16string& Filename() const { return filename_; }
  // Raises "Unable to set Filename while log file is open." while the file is open.
  void SetFilename(const std::u16string& filename);

  bool Active() const { return file_ != nullptr; }
  // True opens the file (appending to an existing one, creating an absent one), false closes it;
  // the current value does nothing. Opening raises the file-open or file-create failure.
  void SetActive(bool active);

  bool LogTime() const { return logTime_; }
  void SetLogTime(bool logTime) { logTime_ = logTime; }
  bool ReplaceCrlf() const { return replaceCrlf_; }
  void SetReplaceCrlf(bool replaceCrlf) { replaceCrlf_ = replaceCrlf; }
  // Whether sent and received records show secrets masked (http/secret_mask.h) instead of as
  // they went; off by default. A secret that a receive splits across two records is masked in
  // neither.
  bool MaskSecrets() const { return maskSecrets_; }
  void SetMaskSecrets(bool mask) { maskSecrets_ = mask; }
  // The size the file may reach; 0 (the default): no limit. A record that would make it larger
  // starts a new file: the current one is renamed to the name with ".1" (replacing an older one)
  // and the record goes whole into the new one. When the rename fails, the records go on into the
  // current file.
  std::uint64_t MaxBytes() const { return maxBytes_; }
  void SetMaxBytes(std::uint64_t maxBytes) { maxBytes_ = maxBytes; }

  // Hooks called by the HTTP client on the thread that performs the exchange.
  void Connect();
  void Disconnect();
  // Sent and received records: the time stamp, then the bytes, each as the character of its own
  // number, with line breaks rendered (when ReplaceCrlf): CR LF as "<EOL>", then remaining CR as
  // "<CR>", then LF as "<LF>".
  void Send(std::string_view bytes);
  void Receive(std::string_view bytes);

  // Record operations.
  void LogStatus(std::u16string_view message);
  // Writes one record (the text and CR LF) with one write, when the file is open.
  void LogWriteString(std::u16string_view text);

  // The locale's short date, a space and its long time; the time is left out at midnight.
  static std::u16string TimeStamp(DateTime moment);

 private:
  void WriteDataRecord(std::string_view prefix, std::string_view bytes);
  // Writes one whole record, starting a new file first when MaxBytes calls for it.
  void WriteRecord(std::string_view record);
  std::u16string CurrentTimeStamp() const;

  std::u16string filename_;
  std::u16string path_;  // the file opened, as a full path
  std::unique_ptr<platform::File> file_;
  bool logTime_ = true;
  bool replaceCrlf_ = true;
  bool maskSecrets_ = false;
  std::uint64_t maxBytes_ = 0;
};

}  // namespace tessora
