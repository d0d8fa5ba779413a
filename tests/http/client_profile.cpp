#include "client_profile.h"

#include <algorithm>
#include <stdexcept>

#include "base/text.h"

namespace tessora::test {

namespace {

std::u16string Text(const std::string& utf8) {
  return Utf8ToText(utf8);
}

void SplitPair(const std::string& value, std::string& first, std::string& second) {
  const std::size_t colon = value.find(':');
  first = value.substr(0, colon);
  second = colon == std::string::npos ? std::string() : value.substr(colon + 1);
}

}  // namespace

ProfiledClient MakeClient(const std::vector<std::string>& settings) {
  auto channel = std::make_unique<MemoryChannel>();
  ProfiledClient result;
  result.channel = channel.get();
  result.client = std::make_unique<HttpClient>(std::move(channel));
  ApplySettings(*result.client, settings);
  return result;
}

void ApplySettings(HttpClient& client, const std::vector<std::string>& settings) {
  HttpRequest& request = client.Request();

  const bool profile = std::find(settings.begin(), settings.end(), "no-profile") == settings.end();
  std::string token, partner;
  std::vector<std::string> extraHeaders;
  if (profile) {
    client.SetConnectTimeout(20000);
    request.contentType = u"application/json";
    request.accept = u"application/json";
    request.userAgent = kUserAgent;
  }
  for (const std::string& setting : settings) {
    const std::size_t blank = setting.find(' ');
    const std::string key = setting.substr(0, blank);
    const std::string value =
        blank == std::string::npos ? std::string() : setting.substr(blank + 1);
    std::string first, second;
    if (key == "no-profile") {
      continue;
    } else if (key == "token") {
      token = value;
    } else if (key == "partner") {
      partner = value;
    } else if (key == "basic") {
      SplitPair(value, first, second);
      request.basicAuthentication = true;
      request.username = Text(first);
      request.password = Text(second);
    } else if (key == "proxy") {
      const std::size_t colon = value.rfind(':');
      client.ProxyParams().proxyServer = Text(value.substr(0, colon));
      client.ProxyParams().proxyPort = std::stoi(value.substr(colon + 1));
    } else if (key == "proxy-auth") {
      SplitPair(value, first, second);
      client.ProxyParams().basicAuthentication = true;
      client.ProxyParams().proxyUsername = Text(first);
      client.ProxyParams().proxyPassword = Text(second);
    } else if (key == "header") {
      extraHeaders.push_back(value);
    } else if (key == "user-agent") {
      request.userAgent = Text(value);
    } else if (key == "accept") {
      request.accept = Text(value);
    } else if (key == "content-type") {
      request.contentType = Text(value);
    } else {
      throw std::runtime_error("unknown setting " + setting);
    }
  }
  // The library's custom lines, in its order.
  if (!token.empty()) {
    const std::size_t blank = token.find(' ');
    request.customHeaders.Add(u"Authorization",
                              Text(token.substr(0, blank)) + u" " + Text(token.substr(blank + 1)));
  }
  if (profile) request.customHeaders.Add(u"api-sdk", u"delphi-3.1.0");
  if (!partner.empty()) request.customHeaders.Add(u"partner-token", Text(partner));
  for (const std::string& line : extraHeaders)
    request.customHeaders.AddLine(Text(line));
}

}  // namespace tessora::test
