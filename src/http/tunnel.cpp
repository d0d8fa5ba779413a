// How a client gets its connection: directly to the API host, or through a proxy's CONNECT
// tunnel, with TLS to the API host in both cases.
#include "base/error.h"
#include "base/text.h"
#include "http/client.h"
#include "http/response_reader.h"

namespace tessora {

void HttpClient::Open() {
  // A new connection for this exchange (a kept one is taken before, by UseOfferedConnection).
  if (Connected()) Disconnect();
  if (proxy_.proxyServer.empty()) {
    ConnectTo(url_.host, url_.Port(), false);
  } else {
    Tunnel();
    connection_.ClearInput();
  }
}

void HttpClient::ConnectTo(const std::u16string& host, int port, bool passThrough) {
  connection_.ClearInput();
  const int remaining = connection_.RemainingMs();
  if (remaining == 0) connection_.RaiseDeadline();
  // The connect ends at the call's deadline when that comes first.
  const bool deadlineFirst = remaining > 0 && (connectTimeout_ <= 0 || remaining < connectTimeout_);
  try {
    connection_.Open(host, port, deadlineFirst ? remaining : connectTimeout_, passThrough);
  } catch (const Error& failure) {
    if (deadlineFirst && failure.Kind() == ErrorKind::kTimeout) connection_.RaiseDeadline();
    throw;
  }
}

// The tunnel moves through named states; each failure leaves it at once, and the exchange then
// closes the connection. The API request is never sent before the tunnel stands, so it cannot
// travel in clear over the proxy connection.
void HttpClient::Tunnel() {
  enum class State { kConnecting, kRequesting, kAwaitingAnswer, kEstablished };
  HttpRequest tunnelRequest;
  HttpResponse answer;
  State state = State::kConnecting;
  while (state != State::kEstablished) {
    switch (state) {
      case State::kConnecting:
        ConnectTo(proxy_.proxyServer, proxy_.Port(), true);
        stage_ = Stage::kTunnelling;
        state = State::kRequesting;
        break;
      case State::kRequesting:
        tunnelRequest.method = u"CONNECT";
        tunnelRequest.url = url_.Destination();
        tunnelRequest.host = request_.host;
        tunnelRequest.userAgent = request_.userAgent;
        tunnelRequest.pragma = u"no-cache";
        tunnelRequest.proxyConnection = u"keep-alive";
        SendRequest(tunnelRequest, true);
        state = State::kAwaitingAnswer;
        break;
      case State::kAwaitingAnswer: {
        ReadResponseHead(connection_, answer, true);
        StoreCookies(answer.rawHeaders);
        const int code = answer.ResponseCode();
        if (code < 200 || code > 299) {
          // Not retried, not even a 407: the configured credentials went with this request.
          Raise(ErrorKind::kTunnel, u"Tunnel refused by the proxy: " + answer.responseText);
        }
        // Whatever else the proxy sent is not for the TLS connection.
        connection_.ClearInput();
        connection_.StartTls();
        state = State::kEstablished;
        break;
      }
      case State::kEstablished:
        break;
    }
  }
}

}  // namespace tessora
