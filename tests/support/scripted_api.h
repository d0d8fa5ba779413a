// A scripted API server over TLS on loopback for end-to-end tests: it records every request (head
// and body) and answers the requests in order with the replies it was given.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/scripted_server.h"

namespace tessora::test {

struct RecordedRequest {
  std::string head;  // request line and header lines, up to and including the empty line
  std::string body;  // as many bytes as Content-Length announced

  std::string RequestLine() const;
  // The header lines, without their line ends.
  std::vector<std::string> HeaderLines() const;
};

// "HTTP/1.1 <status>" with a JSON body, its charset and length; `extra` adds header lines
// ("Name: value\r\n" each).
std::string JsonReply(const std::string& status, const std::string& body,
                      const std::string& extra = "");

class ScriptedApi {
 public:
  // Answers the n-th request with replies[n]; requests beyond the list get the last reply.
  explicit ScriptedApi(std::vector<std::string> replies);
  ~ScriptedApi();

  int Port() const { return server_->Port(); }
  // The Environment that points the library at this server: "127.0.0.1:<port>/".
  std::string Environment() const;
  // Waits until `count` requests have arrived (bounded); the requests so far.
  std::vector<RecordedRequest> Requests(std::size_t count = 0) const;
  // Connections that the client closed (or that ended) after their last answer.
  int ClosedConnections() const;
  // Connections accepted so far.
  int Connections() const { return server_->Connections(); }

 private:
  void Serve(ServerConnection& connection);

  std::vector<std::string> replies_;
  mutable std::mutex lock_;
  std::vector<RecordedRequest> requests_;
  int closed_ = 0;
  std::unique_ptr<ScriptedServer> server_;
};

}  // namespace tessora::test
