// The response reader again (same input and harness as http_response_fuzzer), with a mutator that
// knows the shape of an HTTP answer: it parses the server's bytes into head lines (each with its
// own line end), a chunked body (size lines, data, trailer lines) or an opaque body, changes one
// thing the way a broken or hostile server would, and writes the bytes back. Chunk sizes off by
// one, over-long or signed, extensions, bodies re-chunked at random, header lines split into folded
// continuations, line ends mixed, header lines duplicated, dropped or added from a list of the
// framing headers, interim answers, cut-offs. A quarter of the mutations are libFuzzer's own.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_target.h"
#include "http_response_harness.h"

namespace {

using Rng = std::minstd_rand;

// Parsing stops after this many chunks; the rest stays opaque.
constexpr std::size_t kMaxChunks = 256;

std::size_t Below(Rng& rng, std::size_t n) {
  return n == 0 ? 0 : static_cast<std::size_t>(rng()) % n;
}

std::string OneOf(Rng& rng, std::initializer_list<std::string_view> items) {
  return std::string(items.begin()[Below(rng, items.size())]);
}

struct Line {
  std::string text;
  std::string end;  // "\r\n" or "\n" as parsed; a mutation may make it anything
};

struct Chunk {
  Line sizeLine;
  std::string data;
  std::string dataEnd;
};

struct Message {
  std::uint8_t mode = 0;
  std::string proxyAnswer;  // the tunnel's answer, kept as it is
  std::vector<Line> head;   // status line, header lines, the empty line when there is one
  bool chunked = false;
  std::vector<Chunk> chunks;
  std::vector<Line> trailer;
  std::string rest;  // an opaque body, or whatever follows the chunked body
};

// One line from `pos`: up to and including the next LF. False at the end of the text.
bool NextLine(std::string_view text, std::size_t& pos, Line& line) {
  if (pos >= text.size()) return false;
  const std::size_t lf = text.find('\n', pos);
  if (lf == std::string_view::npos) {
    line = {std::string(text.substr(pos)), ""};
    pos = text.size();
    return true;
  }
  const bool cr = lf > pos && text[lf - 1] == '\r';
  line = {std::string(text.substr(pos, lf - pos - (cr ? 1 : 0))), cr ? "\r\n" : "\n"};
  pos = lf + 1;
  return true;
}

// Lines up to and including the first empty one.
std::vector<Line> ReadLines(std::string_view text, std::size_t& pos) {
  std::vector<Line> lines;
  Line line;
  while (NextLine(text, pos, line)) {
    lines.push_back(line);
    if (line.text.empty() && !line.end.empty()) break;
  }
  return lines;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HasChunkedHeader(const std::vector<Line>& head) {
  for (const Line& line : head) {
    std::string lower(line.text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.rfind("transfer-encoding:", 0) == 0 && lower.find("chunked") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The chunks of a chunked body from `pos`; what does not parse is left in `rest`.
void ReadChunks(std::string_view text, std::size_t pos, Message& message) {
  Line line;
  while (message.chunks.size() < kMaxChunks) {
    const std::size_t start = pos;
    if (!NextLine(text, pos, line)) break;
    std::size_t size = 0;
    std::size_t digits = 0;
    while (digits < line.text.size() && digits < 8 && HexValue(line.text[digits]) >= 0) {
      size = size * 16 + static_cast<std::size_t>(HexValue(line.text[digits]));
      ++digits;
    }
    if (digits == 0 || line.end.empty()) {
      pos = start;
      break;
    }
    Chunk chunk;
    chunk.sizeLine = line;
    if (size == 0) {
      message.chunks.push_back(chunk);
      message.trailer = ReadLines(text, pos);
      break;
    }
    if (pos + size > text.size()) {
      pos = start;
      break;
    }
    chunk.data = std::string(text.substr(pos, size));
    pos += size;
    if (text.substr(pos, 2) == "\r\n") {
      chunk.dataEnd = "\r\n";
    } else if (text.substr(pos, 1) == "\n") {
      chunk.dataEnd = "\n";
    }
    pos += chunk.dataEnd.size();
    message.chunks.push_back(chunk);
  }
  message.rest = std::string(text.substr(pos));
}

Message Parse(const std::uint8_t* data, std::size_t size) {
  Message message;
  if (size == 0) return message;
  message.mode = data[0];
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((message.mode & 1) != 0) {
    const std::size_t end = text.find("\r\n\r\n");
    const std::size_t cut = end == std::string_view::npos ? text.size() : end + 4;
    message.proxyAnswer = std::string(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  std::size_t pos = 0;
  message.head = ReadLines(text, pos);
  message.chunked = HasChunkedHeader(message.head);
  if (message.chunked) {
    ReadChunks(text, pos, message);
  } else {
    message.rest = std::string(text.substr(pos));
  }
  return message;
}

void AppendLine(std::string& out, const Line& line) {
  out += line.text;
  out += line.end;
}

std::string Serialize(const Message& message) {
  std::string out(1, static_cast<char>(message.mode));
  out += message.proxyAnswer;
  for (const Line& line : message.head)
    AppendLine(out, line);
  for (const Chunk& chunk : message.chunks) {
    AppendLine(out, chunk.sizeLine);
    out += chunk.data;
    out += chunk.dataEnd;
  }
  for (const Line& line : message.trailer)
    AppendLine(out, line);
  out += message.rest;
  return out;
}

std::string Hex(std::size_t value, bool upper) {
  static constexpr char kLower[] = "0123456789abcdef";
  static constexpr char kUpper[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), (upper ? kUpper : kLower)[value % 16]);
    value /= 16;
  } while (value != 0);
  return digits;
}

// Index of the empty line that ends the head, or the head's size when there is none.
std::size_t HeadEnd(const Message& message) {
  for (std::size_t i = 1; i < message.head.size(); ++i) {
    if (message.head[i].text.empty()) return i;
  }
  return message.head.size();
}

// A header line index (not the status line, not the empty line); false when there is none.
bool PickHeader(Rng& rng, const Message& message, std::size_t& index) {
  const std::size_t end = HeadEnd(message);
  if (end <= 1) return false;
  index = 1 + Below(rng, end - 1);
  return true;
}

void InsertHeader(Message& message, std::size_t at, Line line) {
  if (message.head.empty()) message.head.push_back({"HTTP/1.1 200 OK", "\r\n"});
  at = std::clamp<std::size_t>(at, 1, HeadEnd(message));
  message.head.insert(message.head.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

std::string PayloadOf(const Message& message) {
  if (!message.chunked) return message.rest;
  std::string payload;
  for (const Chunk& chunk : message.chunks)
    payload += chunk.data;
  return payload;
}

// A new size for one chunk: off by one, zero, over-long, signed, with blanks, leading zeros or an
// extension.
bool MutateChunkSize(Rng& rng, Message& message) {
  if (message.chunks.empty()) return false;
  Chunk& chunk = message.chunks[Below(rng, message.chunks.size())];
  const std::size_t actual = chunk.data.size();
  const bool upper = (rng() & 1) != 0;
  std::string size;
  switch (Below(rng, 12)) {
    case 0:
      size = Hex(actual + 1, upper);
      break;
    case 1:
      size = Hex(actual == 0 ? 0 : actual - 1, upper);
      break;
    case 2:
      size = "0";
      break;
    case 3:
      size = "fffffffffffffff";  // 15 digits: still a size
      break;
    case 4:
      size = "1000000000000000";  // 16 digits: counts as 0
      break;
    case 5:
      size = "7fffffff";
      break;
    case 6:
      size = "-" + Hex(actual, upper);
      break;
    case 7:
      size = std::string(1 + Below(rng, 20), '0') + Hex(actual, upper);
      break;
    case 8:
      size = std::string((rng() & 1) != 0 ? " " : "") + Hex(actual, upper) +
             ((rng() & 1) != 0 ? " " : "\t");
      break;
    case 9:
      size = Hex(actual, upper) + OneOf(rng, {";", ";a=b", "; name=\"v;x\"", ";;;", ";\r"});
      break;
    case 10:
      size = Hex(Below(rng, 0x10000), upper);
      break;
    default:
      size = "0x" + Hex(actual, upper);
      break;
  }
  chunk.sizeLine.text = size;
  return true;
}

// The payload cut into chunks of random sizes, the framing header added when missing; sometimes
// with trailers, sometimes without the last chunk.
bool Rechunk(Rng& rng, Message& message) {
  const std::string payload = PayloadOf(message);
  message.chunks.clear();
  message.trailer.clear();
  message.rest.clear();
  std::size_t pos = 0;
  while (pos < payload.size() && message.chunks.size() < kMaxChunks) {
    const std::size_t size = std::min(payload.size() - pos, 1 + Below(rng, 1 + Below(rng, 300)));
    message.chunks.push_back(
        {{Hex(size, (rng() & 1) != 0), "\r\n"}, payload.substr(pos, size), "\r\n"});
    pos += size;
  }
  if (Below(rng, 8) != 0) {
    message.chunks.push_back({{"0", "\r\n"}, "", ""});
    const std::size_t trailers = Below(rng, 4) == 0 ? Below(rng, 4) : 0;
    for (std::size_t i = 0; i < trailers; ++i)
      message.trailer.push_back({"X-Trailer-" + std::to_string(i) + ": t", "\r\n"});
    if (Below(rng, 8) != 0) message.trailer.push_back({"", "\r\n"});
  }
  if (!message.chunked) {
    InsertHeader(message, HeadEnd(message), {"Transfer-Encoding: chunked", "\r\n"});
    message.chunked = true;
  }
  if (HeadEnd(message) == message.head.size()) message.head.push_back({"", "\r\n"});
  return true;
}

// A header line split into a folded continuation.
bool FoldHeader(Rng& rng, Message& message) {
  std::size_t index;
  if (!PickHeader(rng, message, index)) return false;
  Line& line = message.head[index];
  if (line.text.size() < 2) return false;
  const std::size_t at = 1 + Below(rng, line.text.size() - 1);
  Line continuation{OneOf(rng, {" ", "\t", "  ", " \t"}) + line.text.substr(at), line.end};
  line.text.resize(at);
  line.end = "\r\n";
  message.head.insert(message.head.begin() + static_cast<std::ptrdiff_t>(index) + 1, continuation);
  return true;
}

// A continuation line of its own: blanks and a word, blanks only, or a lone tab.
bool InsertFoldedLine(Rng& rng, Message& message) {
  std::size_t index;
  if (!PickHeader(rng, message, index)) return false;
  InsertHeader(message, index + 1,
               {OneOf(rng, {" folded", "\tx", " ", "\t", "  chunked", " ; charset=utf-16"}),
                OneOf(rng, {"\r\n", "\n"})});
  return true;
}

// One line end replaced: LF alone, CR alone (which the reader does not take as a line end), a blank
// before CR LF, nothing.
bool ChangeLineEnd(Rng& rng, Message& message) {
  std::vector<Line*> lines;
  for (Line& line : message.head)
    lines.push_back(&line);
  for (Chunk& chunk : message.chunks)
    lines.push_back(&chunk.sizeLine);
  for (Line& line : message.trailer)
    lines.push_back(&line);
  if (lines.empty()) return false;
  lines[Below(rng, lines.size())]->end = OneOf(rng, {"\r\n", "\n", "\r", " \r\n", "\r\r\n", ""});
  return true;
}

bool ShuffleHeaders(Rng& rng, Message& message) {
  std::size_t a, b;
  if (!PickHeader(rng, message, a) || !PickHeader(rng, message, b)) return false;
  switch (Below(rng, 3)) {
    case 0:
      message.head.insert(message.head.begin() + static_cast<std::ptrdiff_t>(b), message.head[a]);
      break;
    case 1:
      message.head.erase(message.head.begin() + static_cast<std::ptrdiff_t>(a));
      break;
    default:
      std::swap(message.head[a], message.head[b]);
      break;
  }
  return true;
}

bool AddFramingHeader(Rng& rng, Message& message) {
  const std::size_t payload = PayloadOf(message).size();
  std::string text;
  switch (Below(rng, 4)) {
    case 0:
      text = "Content-Length: " +
             std::to_string(payload + Below(rng, 3) - std::min<std::size_t>(payload, 1));
      break;
    case 1:
      text = OneOf(
          rng, {"Content-Length: -1", "Content-Length: +5", "Content-Length: 1e3",
                "Content-Length: 18446744073709551617", "Content-Length: 5, 5", "Content-Length:"});
      break;
    case 2:
      text = OneOf(rng, {"Transfer-Encoding: chunked", "Transfer-Encoding: gzip, chunked",
                         "Transfer-Encoding: chunked, identity", "transfer-encoding: CHUNKED",
                         "Transfer-Encoding : chunked", "Transfer-Encoding: identity"});
      break;
    default:
      text = OneOf(rng, {"Connection: close", "Connection: keep-alive", "Proxy-Connection: close",
                         "Content-Type: text/html; charset=utf-16",
                         "Content-Type: multipart/mixed; boundary=b",
                         "Content-Type: application/xml", "Content-Type: text/plain; charset=\"x\"",
                         "Content-Type: application/json; charset=windows-1252",
                         "Set-Cookie: a=b; Path=/; Domain=tessora.net; Secure",
                         "Location: https://evil.example/", "Content-Encoding: gzip"});
      break;
  }
  std::size_t at = 1;
  if (!message.head.empty()) at = 1 + Below(rng, HeadEnd(message));
  InsertHeader(message, at, {text, "\r\n"});
  return true;
}

bool ReplaceStatus(Rng& rng, Message& message) {
  const std::string status =
      OneOf(rng, {"HTTP/1.1 200 OK", "HTTP/1.0 200 OK", "HTTP/1.1 204 No Content",
                  "HTTP/1.1 304 Not Modified", "HTTP/1.1 302 Found", "HTTP/1.1 100 Continue",
                  "HTTP/1.1 101 Switching Protocols", "HTTP/1.1 404 Not Found",
                  "HTTP/1.1 407 Proxy Authentication Required", "HTTP/1.1 200.5 OK",
                  "HTTP/1.1 99999999999 x", "HTTP/1.1", "", "HTTP/1.1 -200 x", " HTTP/1.1 200"});
  if (message.head.empty()) {
    message.head.push_back({status, "\r\n"});
  } else {
    message.head[0].text = status;
  }
  return true;
}

// Interim answers before the real one (one more than the reader allows, sometimes).
bool AddInterimAnswers(Rng& rng, Message& message) {
  const std::size_t count = Below(rng, 4) == 0 ? 16 + Below(rng, 2) : 1 + Below(rng, 3);
  std::vector<Line> lines;
  for (std::size_t i = 0; i < count; ++i) {
    lines.push_back({"HTTP/1.1 100 Continue", "\r\n"});
    if (Below(rng, 3) == 0) lines.push_back({"X-Interim: " + std::to_string(i), "\r\n"});
    lines.push_back({"", "\r\n"});
  }
  message.head.insert(message.head.begin(), lines.begin(), lines.end());
  return true;
}

// Many header lines, around the limit of 255.
bool AddManyHeaders(Rng& rng, Message& message) {
  const std::size_t present = HeadEnd(message) > 0 ? HeadEnd(message) - 1 : 0;
  const std::size_t target = 253 + Below(rng, 5);
  for (std::size_t i = present; i < target; ++i)
    InsertHeader(message, HeadEnd(message), {"X:" + std::to_string(i % 10), "\r\n"});
  return true;
}

bool ChangeBody(Rng& rng, Message& message) {
  std::string& body = message.chunks.empty()
                          ? message.rest
                          : message.chunks[Below(rng, message.chunks.size())].data;
  const std::string piece =
      OneOf(rng, {"\r\n", "--b\r\n", "\r\n--b--\r\n", "<meta charset=\"utf-16\">",
                  "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>", "\xEF\xBB\xBF", "\xFF\xFE",
                  std::string_view("\0\0", 2), "{\"a\":1}"});
  body.insert(Below(rng, body.size() + 1), piece);
  return true;
}

bool Mutate(Rng& rng, Message& message) {
  switch (Below(rng, 13)) {
    case 0:
    case 1:
      return MutateChunkSize(rng, message);
    case 2:
      return Rechunk(rng, message);
    case 3:
      return FoldHeader(rng, message);
    case 4:
      return InsertFoldedLine(rng, message);
    case 5:
      return ChangeLineEnd(rng, message);
    case 6:
      return ShuffleHeaders(rng, message);
    case 7:
      return AddFramingHeader(rng, message);
    case 8:
      return ReplaceStatus(rng, message);
    case 9:
      return AddInterimAnswers(rng, message);
    case 10:
      return AddManyHeaders(rng, message);
    case 11:
      return ChangeBody(rng, message);
    default:
      message.mode = static_cast<std::uint8_t>(message.mode ^ (1u << Below(rng, 8)));
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tessora::fuzz::RunServerBytes(data, size);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
  Rng rng(seed);
  if (size == 0 || Below(rng, 4) == 0) return LLVMFuzzerMutate(data, size, maxSize);
  Message message = Parse(data, size);
  bool changed = false;
  // Usually one change, sometimes a few.
  const std::size_t rounds = Below(rng, 4) == 0 ? 2 + Below(rng, 3) : 1;
  for (std::size_t i = 0; i < rounds; ++i)
    changed |= Mutate(rng, message);
  std::string out = Serialize(message);
  // Sometimes a cut-off: the server stops in the middle.
  if (Below(rng, 10) == 0 && out.size() > 1) out.resize(1 + Below(rng, out.size() - 1));
  if (!changed || out.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, out.data(), out.size());
  return out.size();
}
