// Warm connections over real TLS: a client hands its connection to the thread's next client, which
// sends its request on it when it is still good, and never sends anything but a GET twice. Each
// scripted server counts the requests that reached it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "e2e_util.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace tessora::test {
namespace {

constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";

// What one connection of a server does after it answered its first request.
enum class Then {
  kServeMore,       // answers every further request, keeping the connection
  kCloseWhenIdle,   // closes the connection at once
  kCloseAfterHead,  // reads the next request (its head and body) and closes without an answer
  kCloseUnread,     // waits for the next request and closes without reading it
  kHangThenClose,   // reads the next request, answers nothing for 3 s, then closes
};

class KeptServer {
 public:
  explicit KeptServer(Then then)
      : then_(then), server_(ScriptedServer::kTls, [this](ServerConnection& c) { Serve(c); }) {}

  int Port() const { return server_.Port(); }
  // Requests whose head the server read, over all its connections.
  int Requests() const { return requests_; }
  int Connections() const { return server_.Connections(); }
  void WaitForFirstToEnd() { server_.WaitForFinished(1); }

 private:
  // Reads one request: its head and the body its Content-Length announces.
  bool ReadRequest(ServerConnection& c) {
    const std::string head = c.ReadHead();
    if (head.empty()) return false;
    ++requests_;
    const std::size_t at = head.find("Content-Length: ");
    if (at != std::string::npos) c.Read(std::stoul(head.substr(at + 16)));
    return true;
  }

  void Serve(ServerConnection& c) {
    const bool first = connections_++ == 0;
    if (!ReadRequest(c)) return;
    c.Write(kAnswer);
    if (!first || then_ == Then::kServeMore) {
      while (ReadRequest(c))
        c.Write(kAnswer);
      return;
    }
    switch (then_) {
      case Then::kCloseWhenIdle:
        c.Close();
        return;
      case Then::kCloseAfterHead:
        ReadRequest(c);
        c.Close();
        return;
      case Then::kCloseUnread:
        c.WaitForData();
        c.Reset();
        return;
      case Then::kHangThenClose:
        ReadRequest(c);
        c.Hang(3000);
        c.Close();
        return;
      case Then::kServeMore:
        return;
    }
  }

  Then then_;
  std::atomic<int> requests_{0};
  std::atomic<int> connections_{0};
  ScriptedServer server_;
};

class KeptConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetFilename((dir_ / "Call Logs.txt").u16string());
    log_.SetActive(true);
  }

  // A client as the request layer makes it for a call, with warm connections on.
  std::unique_ptr<HttpClient> NewClient() {
    std::unique_ptr<HttpClient> client = MakeTlsClient({});
    client->SetConnectionReuse(true, 30000);
    client->SetLog(&log_);
    return client;
  }

  // A first call on the thread, answered; the connection its client keeps.
  std::optional<KeptConnection> FirstCall(const KeptServer& server) {
    std::unique_ptr<HttpClient> first = NewClient();
    EXPECT_EQ(
        first->Perform(u"GET", HttpVersion::kHttp11, LocalUrl(server.Port(), "a"), std::nullopt),
        u"{}");
    std::optional<KeptConnection> kept = first->TakeKeptConnection();
    EXPECT_TRUE(kept.has_value());
    return kept;
  }

  // Two calls on one thread: the first client's connection is offered to the second.
  std::unique_ptr<HttpClient> SecondCall(KeptServer& server, std::u16string_view method,
                                         std::optional<Error>* failure,
                                         const std::function<void()>& between = {}) {
    std::optional<KeptConnection> kept = FirstCall(server);
    if (between) between();
    std::unique_ptr<HttpClient> second = NewClient();
    if (kept) second->OfferKeptConnection(std::move(*kept));
    std::optional<std::string> body;
    if (method != u"GET" && method != u"DELETE") body = "{\"amount\":1}";
    try {
      EXPECT_EQ(second->Perform(method, HttpVersion::kHttp11, LocalUrl(server.Port(), "b"),
                                std::move(body)),
                u"{}");
    } catch (const Error& error) {
      if (failure != nullptr) *failure = error;
    }
    return second;
  }

  std::string Log() { return ReadFileBytes(dir_ / "Call Logs.txt"); }

  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++count;
    return count;
  }

  TempDir dir_;
  TrafficLog log_;
};

TEST_F(KeptConnectionTest, TheNextCallGoesOutOnTheKeptConnection) {
  KeptServer server(Then::kServeMore);
  std::unique_ptr<HttpClient> second = SecondCall(server, u"POST", nullptr);
  EXPECT_TRUE(second->UsedKeptConnection());
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(server.Requests(), 2);
  // Connected once; the connection has not ended yet.
  EXPECT_EQ(Count(Log(), "Stat Connected."), 1);
  EXPECT_EQ(Count(Log(), "Stat Disconnected."), 0);
  second.reset();
  EXPECT_EQ(Count(Log(), "Stat Disconnected."), 1);
}

TEST_F(KeptConnectionTest, AConnectionTheServerClosedWhileIdleIsNotUsed) {
  KeptServer server(Then::kCloseWhenIdle);
  // The next call starts once the server has closed the connection.
  std::unique_ptr<HttpClient> second =
      SecondCall(server, u"POST", nullptr, [&server] { server.WaitForFirstToEnd(); });
  EXPECT_FALSE(second->UsedKeptConnection());
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(server.Requests(), 2);  // each request once
}

// A kept connection carries the next call's bound of a receive, not the bound of the call that
// kept it: here the server's silence ends in "Read timed out." before the server closes.
TEST_F(KeptConnectionTest, AKeptConnectionTakesTheNextCallsReceiveBound) {
  KeptServer server(Then::kHangThenClose);
  std::unique_ptr<HttpClient> first = NewClient();
  first->SetCallTimeout(0, 30000);
  ASSERT_EQ(
      first->Perform(u"GET", HttpVersion::kHttp11, LocalUrl(server.Port(), "a"), std::nullopt),
      u"{}");
  std::optional<KeptConnection> kept = first->TakeKeptConnection();
  ASSERT_TRUE(kept.has_value());
  first.reset();
  std::unique_ptr<HttpClient> second = NewClient();
  second->SetCallTimeout(0, 200);
  second->OfferKeptConnection(std::move(*kept));
  try {
    second->Perform(u"POST", HttpVersion::kHttp11, LocalUrl(server.Port(), "b"),
                    std::string("{\"amount\":1}"));
    ADD_FAILURE() << "answered";
  } catch (const Error& error) {
    EXPECT_NE(TextToUtf8(error.Message()).find("Read timed out."), std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(second->UsedKeptConnection());
  EXPECT_EQ(server.Requests(), 2);
}

// An interim answer other than 100 ends the call as its answer (as only 100 is skipped), but the
// final answer may still follow on that connection: it is not kept for the next call, which
// would read that answer as its own.
TEST_F(KeptConnectionTest, AConnectionAfterAnInterimAnswerIsNotKept) {
  ScriptedServer server(ScriptedServer::kTls, [](ServerConnection& c) {
    if (c.ReadHead().empty()) return;
    c.Write("HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n");
    c.Hang(300);
    c.Write(kAnswer);
    c.WaitForData();
  });
  std::unique_ptr<HttpClient> client = NewClient();
  EXPECT_EQ(
      client->Perform(u"GET", HttpVersion::kHttp11, LocalUrl(server.Port(), "a"), std::nullopt),
      u"");
  EXPECT_FALSE(client->TakeKeptConnection().has_value());
}

// A call that failed before it took the offered connection (here a header value with a line
// break, refused before anything is sent) leaves it with the client. Released as a thread's end or
// another thread's unload releases it, without its log, the client records nothing, that
// connection's end neither.
TEST_F(KeptConnectionTest, AnOfferedConnectionNotTakenRecordsNothingOnceTheLogIsTakenAway) {
  KeptServer server(Then::kServeMore);
  std::optional<KeptConnection> kept = FirstCall(server);
  ASSERT_TRUE(kept.has_value());
  std::unique_ptr<HttpClient> second = NewClient();
  second->OfferKeptConnection(std::move(*kept));
  second->Request().contentType = u"application/json\r\nX-Injected: 1";
  EXPECT_THROW(
      second->Perform(u"GET", HttpVersion::kHttp11, LocalUrl(server.Port(), "b"), std::nullopt),
      Error);
  EXPECT_FALSE(second->UsedKeptConnection());
  const int ends = Count(Log(), "Stat Disconnected.");
  second->SetLog(nullptr);
  second.reset();
  EXPECT_EQ(Count(Log(), "Stat Disconnected."), ends);
}

struct SafetyCase {
  const char* name;
  Then then;
  const char16_t* method;
  bool answered;  // the second call got its answer
  int requests;   // requests whose head reached the server, the first call's included
};

class KeptConnectionSafety : public KeptConnectionTest,
                             public ::testing::WithParamInterface<SafetyCase> {};

// Only a GET whose answer had not begun goes once more; a POST or DELETE that may have reached the
// server fails and says so.
TEST_P(KeptConnectionSafety, NothingButAGetIsSentTwice) {
  const SafetyCase& c = GetParam();
  KeptServer server(c.then);
  std::optional<Error> failure;
  std::unique_ptr<HttpClient> second = SecondCall(server, c.method, &failure);
  EXPECT_EQ(!failure.has_value(), c.answered) << (failure ? failure->what() : "");
  EXPECT_EQ(second->RequestMayHaveArrived(), !c.answered);
  EXPECT_EQ(server.Requests(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeptConnectionSafety,
    ::testing::Values(
        SafetyCase{"GetAfterTheHeadWasRead", Then::kCloseAfterHead, u"GET", true, 3},
        SafetyCase{"PostAfterTheHeadWasRead", Then::kCloseAfterHead, u"POST", false, 2},
        SafetyCase{"DeleteAfterTheHeadWasRead", Then::kCloseAfterHead, u"DELETE", false, 2},
        SafetyCase{"GetUnread", Then::kCloseUnread, u"GET", true, 2},
        SafetyCase{"PostUnread", Then::kCloseUnread, u"POST", false, 1}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tessora::test
