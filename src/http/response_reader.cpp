#include "http/response_reader.h"

#include "base/error.h"
#include "base/text.h"
#include "http/charset/body_charset.h"

namespace tessora {

namespace {

bool ContainsNoCase(std::u16string_view text, std::u16string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    std::size_t k = 0;
    for (; k < word.size(); ++k) {
      if (AsciiLower(text[i + k]) != word[k]) break;
    }
    if (k == word.size()) return true;
  }
  return false;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view head) {
  return text.size() >= head.size() && ContainsNoCase(text.substr(0, head.size()), head);
}

// The chunk size of a chunk-size line: the text before any ";", trimmed, read as a hexadecimal
// number. Anything else, a number beyond 63 bits included, counts as 0 and ends the body.
std::int64_t ChunkSize(std::string_view line) {
  line = line.substr(0, line.find(';'));
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ')
    line.remove_prefix(1);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ')
    line.remove_suffix(1);
  if (line.empty()) return 0;
  const std::size_t significant = line.find_first_not_of('0');
  if (significant != std::string_view::npos && line.size() - significant > 15) return 0;
  std::int64_t size = 0;
  for (const char c : line) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return 0;
    }
    size = size * 16 + digit;
  }
  return size;
}

void ReadHeaderLines(Connection& connection, HeaderList& lines) {
  std::size_t count = 0;
  for (;;) {
    const std::optional<std::string> line = connection.ReadLine();
    // The connection closing inside the block ends it; the reader has already closed its side.
    if (!line || line->empty()) return;
    if (++count > kMaxHeaderLines) Raise(ErrorKind::kProtocol, u"Max header lines exceeded.");
    lines.AddLine(AsciiBytesToText(*line));
  }
}

// "the answer ended after 27 of 100 bytes"
std::u16string EndedAfter(std::size_t received, std::u16string_view rest) {
  return u"the answer ended after " + IntToText(static_cast<std::int64_t>(received)) +
         std::u16string(rest);
}

void ReadChunked(Connection& connection, HttpResponse& response) {
  const int code = response.ResponseCode();
  const auto cutOff = [code, &response] {
    // A successful answer must arrive whole; of any other only what arrived is kept.
    if (code >= 200 && code < 300) Raise(ErrorKind::kClosed, u"Connection Closed Gracefully.");
    response.incomplete = EndedAfter(response.content.size(), u" bytes, inside its chunked body");
  };
  // The lines around the chunks (sizes with their extensions, what follows each chunk's data)
  // count against the body's bound too: up to 32 KiB of them per byte of data would otherwise
  // let a server send, and the log record, thousands of times the bound.
  std::size_t framing = 0;
  const auto countFraming = [&framing](const std::string& line) {
    framing += line.size() + 2;
    if (framing > kMaxContentBytes) Raise(ErrorKind::kProtocol, kBodyTooLarge);
  };
  for (;;) {
    const std::optional<std::string> sizeLine = connection.ReadLine();
    if (!sizeLine) return cutOff();
    countFraming(*sizeLine);
    const std::int64_t size = ChunkSize(*sizeLine);
    if (size == 0) break;
    if (!connection.ReadBytes(response.content, size, kMaxContentBytes)) return cutOff();
    const std::optional<std::string> afterData = connection.ReadLine();
    if (!afterData) return cutOff();
    countFraming(*afterData);
  }
  ReadHeaderLines(connection, response.rawHeaders);
}

void ReadMultipart(Connection& connection, HttpResponse& response) {
  const std::u16string boundary = ContentTypeParameter(response.contentType, u"boundary");
  if (boundary.empty()) {
    // Without a boundary there is no closing marker to look for.
    connection.ReadToClose(response.content, kMaxContentBytes);
    return;
  }
  const std::string marker = "--" + TextToAscii(boundary) + "--";
  if (connection.ReadThrough(response.content, marker, kMaxContentBytes)) {
    (void)connection.ReadLine();
  } else {
    response.incomplete =
        EndedAfter(response.content.size(), u" bytes, before its closing boundary");
  }
}

}  // namespace

void ReadResponseHead(Connection& connection, HttpResponse& response, bool tunnelAnswer) {
  const std::optional<std::string> statusLine = connection.ReadLine();
  if (!statusLine) Raise(ErrorKind::kClosed, u"Connection Closed Gracefully.");
  response.ClearHead();
  response.responseText = AsciiBytesToText(*statusLine);
  if (tunnelAnswer && response.responseText.empty()) {
    response.responseText = u"HTTP/1.0 200 OK";
    response.rawHeaders.Add(u"Connection", u"close");
  } else {
    ReadHeaderLines(connection, response.rawHeaders);
  }
  response.ApplyHeaders();
}

void ReadResponseBody(Connection& connection, HttpResponse& response) {
  const int code = response.ResponseCode();
  if ((code >= 100 && code < 200) || code == 204 || code == 304) return;
  if (code >= 300 && code < 400 && !connection.WaitForInput(kRedirectBodyWaitMs)) {
    response.bodyUnread = true;
    return;
  }

  if (ContainsNoCase(response.transferEncoding, u"chunked")) {
    ReadChunked(connection, response);
  } else if (response.contentLength >= 0) {
    // A body shorter than announced is returned as far as it arrived, and said to be cut.
    if (!connection.ReadBytes(response.content, response.contentLength, kMaxContentBytes)) {
      response.incomplete = EndedAfter(response.content.size(),
                                       u" of " + IntToText(response.contentLength) + u" bytes");
    }
  } else if (StartsWithNoCase(MediaTypeOf(response.contentType), u"multipart/")) {
    ReadMultipart(connection, response);
  } else {
    // The end of the connection is the end of the body: only an orderly end vouches for it.
    connection.ReadToClose(response.content, kMaxContentBytes);
    if (!connection.EndedCleanly()) {
      response.incomplete = EndedAfter(response.content.size(),
                                       u" bytes without the server's orderly end of the "
                                       u"connection (TLS closing alert); it may be incomplete");
    }
  }
  ApplyBodyCharset(response);
}

}  // namespace tessora
