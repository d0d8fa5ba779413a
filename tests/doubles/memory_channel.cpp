#include "doubles/memory_channel.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace tessora::test {

std::vector<std::string> SplitBlocks(const std::string& bytes, const std::vector<int>& sizes) {
  std::vector<std::string> blocks;
  std::size_t pos = 0;
  std::size_t index = 0;
  while (pos < bytes.size()) {
    std::size_t size = bytes.size() - pos;
    if (!sizes.empty()) {
      size = static_cast<std::size_t>(std::max(1, sizes[std::min(index, sizes.size() - 1)]));
    }
    blocks.push_back(bytes.substr(pos, size));
    pos += std::min(size, bytes.size() - pos);
    ++index;
  }
  return blocks;
}

void MemoryChannel::SetPassThrough(bool passThrough) {
  if (passThrough == passThrough_) return;
  passThrough_ = passThrough;
  if (connected_ && !passThrough) {
    events_.push_back("handshake");
    if (current_.handshakeError) throw *current_.handshakeError;
    blockIndex_ = 0;
    blockOffset_ = 0;
  }
}

void MemoryChannel::Connect(const std::u16string& host, int port, int connectTimeoutMs) {
  if (host.empty()) Raise(u"A Host is required");
  if (port <= 0 || port > 0xFFFF) Raise(u"A Port is required");
  events_.push_back("connect " + TextToUtf8(host) + ":" + std::to_string(port) +
                    (passThrough_ ? " pass" : "") + " timeout=" + std::to_string(connectTimeoutMs));
  if (next_ >= scripts_.size()) {
    Raise(ErrorKind::kSocket, u"Socket Error # 10061\r\nConnection refused.", 10061);
  }
  current_ = scripts_[next_++];
  if (current_.connectError) throw *current_.connectError;
  blockIndex_ = 0;
  blockOffset_ = 0;
  connected_ = true;
  if (!passThrough_) {
    events_.push_back("handshake");
    if (current_.handshakeError) {
      connected_ = false;
      throw *current_.handshakeError;
    }
  }
}

std::vector<std::string>& MemoryChannel::CurrentBlocks() {
  return passThrough_ ? current_.plainBlocks : current_.tlsBlocks;
}

bool MemoryChannel::Readable(int timeoutMs) {
  events_.push_back("readable " + std::to_string(timeoutMs));
  if (!connected_) return false;
  if (blockIndex_ < CurrentBlocks().size()) return true;
  return current_.end != PeerEnd::kSilent;
}

int MemoryChannel::Receive(char* buffer, int size) {
  if (!connected_) return 0;
  std::vector<std::string>& blocks = CurrentBlocks();
  if (blockIndex_ < blocks.size()) {
    const std::string& block = blocks[blockIndex_];
    const std::size_t count = std::min(block.size() - blockOffset_, static_cast<std::size_t>(size));
    std::memcpy(buffer, block.data() + blockOffset_, count);
    blockOffset_ += count;
    if (blockOffset_ == block.size()) {
      ++blockIndex_;
      blockOffset_ = 0;
    }
    return static_cast<int>(count);
  }
  // In pass-through mode the peer waits for the handshake: nothing more arrives before it.
  if (passThrough_ && !current_.tlsBlocks.empty()) {
    lastError_ = kWsaTimedOut;
    return -1;
  }
  switch (current_.end) {
    case PeerEnd::kClose:
    case PeerEnd::kCut:
      return 0;
    case PeerEnd::kError:
      lastError_ = current_.endCode;
      return -1;
    case PeerEnd::kSilent:
      lastError_ = kWsaTimedOut;
      return -1;
  }
  return 0;
}

int MemoryChannel::Send(const char* data, int size) {
  if (!connected_) return -1;
  if (current_.sendErrorCode != 0) {
    lastError_ = current_.sendErrorCode;
    return -1;
  }
  const std::string block(data, static_cast<std::size_t>(size));
  sentBlocks_.push_back(block);
  (passThrough_ ? plainSent_ : tlsSent_) += block;
  return size;
}

int MemoryChannel::CheckError(int result) {
  if (result >= 0) return 0;
  return lastError_;
}

void MemoryChannel::Close() {
  if (connected_) events_.push_back("close");
  connected_ = false;
}

}  // namespace tessora::test
