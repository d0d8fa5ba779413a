// The HTTP client of one API call.
#pragma once

namespace tessora {

class TTrafficLog;

class THttpClient {
 public:
  THttpClient();
  // Releasing the client closes its connection, whether it was still open or not.
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // The traffic recorder; not owned.
  TTrafficLog* TrafficLog() const { return trafficLog_; }
  void SetTrafficLog(TTrafficLog* log) { trafficLog_ = log; }

  // Closes the connection and tells the recorder.
  void Disconnect();

 private:
  TTrafficLog* trafficLog_ = nullptr;
};

}  // namespace tessora
