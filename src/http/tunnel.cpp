// How a client gets its connection: directly to the API host, or through a proxy's CONNECT
// tunnel, with TLS to the API host in both cases.
#include "base/error.h"
#include "base/text.h"
#include "http/client.h"
#include "http/response_reader.h"

namespace tessora {

void THttpClient::Open() {
  const bool tunnelled = !proxy_.ProxyServer.empty();
  OpenTarget target;
  if (tunnelled) {
    target = {ConnectionKind::Tunnelled, proxy_.ProxyServer, proxy_.ProxyPort & 0xFFFF,
              url_.Destination()};
  } else {
    target = {ConnectionKind::Direct, url_.Host, url_.Port(), {}};
  }
  if (Connected() && openTarget_ &&
      (openTarget_->Kind != target.Kind || openTarget_->Host != target.Host ||
       openTarget_->Port != target.Port || openTarget_->Destination != target.Destination)) {
    Disconnect();
  }
  // Neither kind of connection sends a "Connection" line.
  request_.Connection.clear();
  if (!tunnelled) {
    ConnectTo(target.Host, target.Port, false);
  } else {
    if (Connected() && !keepAlive_) Disconnect();
    if (!Connected()) Tunnel();
    connection_.ClearInput();
  }
  openTarget_ = std::move(target);
}

void THttpClient::ConnectTo(const std::u16string& host, int port, bool passThrough) {
  if (Connected() && !keepAlive_) Disconnect();
  connection_.ClearInput();
  if (Connected()) return;
  connection_.Open(absoluteUrl_, host, port, connectTimeout_, passThrough);
  keepAlive_ = true;
}

// The tunnel moves through named states; each failure leaves it at once, and the exchange then
// closes the connection. The API request is never sent before the tunnel stands, so it cannot
// travel in clear over the proxy connection.
void THttpClient::Tunnel() {
  enum class State { Connecting, Requesting, AwaitingAnswer, Established };
  THttpRequest tunnelRequest;
  THttpResponse answer;
  State state = State::Connecting;
  while (state != State::Established) {
    switch (state) {
      case State::Connecting:
        ConnectTo(proxy_.ProxyServer, proxy_.ProxyPort & 0xFFFF, true);
        state = State::Requesting;
        break;
      case State::Requesting:
        tunnelRequest.Method = u"CONNECT";
        tunnelRequest.URL = url_.Destination();
        tunnelRequest.Host = request_.Host;
        tunnelRequest.UserAgent = request_.UserAgent;
        tunnelRequest.Pragma = u"no-cache";
        tunnelRequest.ProxyConnection = u"keep-alive";
        SendRequest(tunnelRequest);
        state = State::AwaitingAnswer;
        break;
      case State::AwaitingAnswer: {
        ReadResponseHead(connection_, answer, true);
        StoreCookies(answer.RawHeaders);
        const int code = answer.ResponseCode();
        if (code < 200 || code > 299) {
          // Not retried, not even a 407: the configured credentials went with this request.
          Raise(u"Tunnel refused by the proxy: " + answer.ResponseText);
        }
        // Whatever else the proxy sent is not for the TLS connection.
        connection_.ClearInput();
        Channel()->SetPassThrough(false);
        state = State::Established;
        break;
      }
      case State::Established:
        break;
    }
  }
}

}  // namespace tessora
