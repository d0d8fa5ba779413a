#include "http.h"

#include <vector>

namespace tessora::sandbox {

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// Whether a comma-separated header value lists `token` (any letter case).
bool ListsToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    if (EqualsIgnoringCase(Trim(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    case 422:
      return "Unprocessable Content";
    case 431:
      return "Request Header Fields Too Large";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
  for (const auto& header : headers) {
    if (EqualsIgnoringCase(header.first, name)) return header.second;
  }
  return std::nullopt;
}

std::size_t FindHeadEnd(std::string_view buffer) {
  std::size_t start = 0;
  while (start < buffer.size() && (buffer[start] == '\r' || buffer[start] == '\n'))
    ++start;
  for (std::size_t i = buffer.find('\n', start); i != std::string_view::npos;
       i = buffer.find('\n', i + 1)) {
    if (i + 1 < buffer.size() && buffer[i + 1] == '\n') return i + 2;
    if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

std::optional<HttpRequest> ParseRequestHead(std::string_view head, HeadError& error) {
  const auto fail = [&](int status, std::string message) -> std::optional<HttpRequest> {
    error = HeadError{status, std::move(message)};
    return std::nullopt;
  };
  while (!head.empty() && (head.front() == '\r' || head.front() == '\n'))
    head.remove_prefix(1);
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const std::size_t lf = head.find('\n');
    std::string_view line = head.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    lines.push_back(line);
    if (lines.size() > kMaxHeaderLines + 1) return fail(431, "too many header lines");
    if (lf == std::string_view::npos) break;
    head.remove_prefix(lf + 1);
  }
  if (lines.empty()) return fail(400, "empty request");

  HttpRequest request;
  const std::string_view requestLine = lines.front();
  const std::size_t first = requestLine.find(' ');
  const std::size_t last = requestLine.rfind(' ');
  if (first == std::string_view::npos || first == last) {
    return fail(400, "malformed request line");
  }
  request.method = std::string(requestLine.substr(0, first));
  request.target = std::string(requestLine.substr(first + 1, last - first - 1));
  const std::string_view version = requestLine.substr(last + 1);
  for (char c : request.method) {
    if (c < 'A' || c > 'Z') return fail(400, "malformed method");
  }
  if (request.target.empty() || request.target.front() != '/') {
    return fail(400, "the request target must be a path");
  }
  if (version == "HTTP/1.0") {
    request.http10 = true;
  } else if (version != "HTTP/1.1") {
    return fail(version.rfind("HTTP/", 0) == 0 ? 505 : 400, "unsupported HTTP version");
  }

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (line.front() == ' ' || line.front() == '\t') return fail(400, "folded header line");
    if (colon == std::string_view::npos || colon == 0) return fail(400, "malformed header line");
    const std::string_view name = line.substr(0, colon);
    if (Trim(name).size() != name.size()) return fail(400, "malformed header name");
    request.headers.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
  }

  if (request.Header("Transfer-Encoding")) {
    return fail(501, "request bodies in Transfer-Encoding are not supported");
  }
  bool hasLength = false;
  for (const auto& header : request.headers) {
    if (!EqualsIgnoringCase(header.first, "Content-Length")) continue;
    const std::string& text = header.second;
    std::size_t value = 0;
    bool valid = !text.empty() && text.size() <= 9;
    for (char c : text) {
      valid = valid && c >= '0' && c <= '9';
      value = valid ? value * 10 + static_cast<std::size_t>(c - '0') : 0;
    }
    if (!valid || (hasLength && value != request.contentLength)) {
      return fail(400, "invalid Content-Length");
    }
    hasLength = true;
    request.contentLength = value;
  }
  if (request.contentLength > kMaxBodyBytes) return fail(413, "the body is larger than 1 MiB");

  const std::string connection = request.Header("Connection").value_or("");
  request.keepAlive =
      request.http10 ? ListsToken(connection, "keep-alive") : !ListsToken(connection, "close");
  return request;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];  // a "+" is a plus: the library encodes spaces as %20
    }
  }
  return out;
}

bool SplitTarget(const std::string& target, const std::string& prefix, std::string& route,
                 Fields& query) {
  const std::size_t question = target.find('?');
  const std::string path = target.substr(0, question);
  if (path.rfind(prefix, 0) != 0) return false;
  const std::string rest = path.substr(prefix.size());
  if (!rest.empty() && rest.front() != '/') return false;  // "/api.tessora.netX/..."
  route = PercentDecode(rest);
  query.clear();
  if (question == std::string::npos) return true;
  std::string_view fields = std::string_view(target).substr(question + 1);
  while (!fields.empty()) {
    const std::size_t amp = fields.find('&');
    const std::string_view field = fields.substr(0, amp);
    if (!field.empty()) {
      const std::size_t equals = field.find('=');
      query.emplace_back(PercentDecode(field.substr(0, equals)),
                         equals == std::string_view::npos
                             ? std::string()
                             : PercentDecode(field.substr(equals + 1)));
    }
    if (amp == std::string_view::npos) break;
    fields.remove_prefix(amp + 1);
  }
  return true;
}

std::string SerializeResponse(const ApiResponse& response, bool keepAlive) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) +
                    "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                    std::to_string(response.body.size()) +
                    "\r\nConnection: " + (keepAlive ? "keep-alive" : "close") +
                    "\r\nServer: tessora-sandbox\r\n";
  for (const auto& header : response.headers) {
    out += header.first + ": " + header.second + "\r\n";
  }
  return out + "\r\n" + response.body;
}

}  // namespace tessora::sandbox
