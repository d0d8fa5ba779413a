#include "support/scripted_api.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tessora::test {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::size_t ContentLengthOf(const std::string& head) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
}

}  // namespace

std::string RecordedRequest::RequestLine() const {
  return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RecordedRequest::HeaderLines() const {
  std::vector<std::string> lines;
  std::size_t start = head.find("\r\n");
  while (start != std::string::npos) {
    start += 2;
    const std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    lines.push_back(head.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string JsonReply(const std::string& status, const std::string& body,
                      const std::string& extra) {
  return "HTTP/1.1 " + status +
         "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

ScriptedApi::ScriptedApi(std::vector<std::string> replies)
    : replies_(std::move(replies)),
      server_(std::make_unique<ScriptedServer>(ScriptedServer::kTls,
                                               [this](ServerConnection& c) { Serve(c); })) {}

ScriptedApi::~ScriptedApi() {
  server_.reset();
}

std::string ScriptedApi::Environment() const {
  return "127.0.0.1:" + std::to_string(Port()) + "/";
}

void ScriptedApi::Serve(ServerConnection& connection) {
  // Keep-alive: answer requests on this connection until the client closes it.
  for (int round = 0; round < 100; ++round) {
    RecordedRequest request;
    request.head = connection.ReadHead();
    if (request.head.empty()) break;
    request.body = connection.Read(ContentLengthOf(request.head));
    std::string reply;
    {
      std::lock_guard<std::mutex> guard(lock_);
      const std::size_t n = requests_.size();
      reply = replies_.empty() ? JsonReply("404 Not Found", "{}")
                               : replies_[std::min(n, replies_.size() - 1)];
      requests_.push_back(request);
    }
    connection.Write(reply);
    const bool http10 = request.RequestLine().find("HTTP/1.0") != std::string::npos;
    if (http10 || Lower(reply).find("\r\nconnection: close") != std::string::npos) {
      connection.Close();
      break;
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  ++closed_;
}

std::vector<RecordedRequest> ScriptedApi::Requests(std::size_t count) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (requests_.size() >= count || std::chrono::steady_clock::now() > deadline) {
        return requests_;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ScriptedApi::ClosedConnections() const {
  std::lock_guard<std::mutex> guard(lock_);
  return closed_;
}

}  // namespace tessora::test
