// The HTTP methods an endpoint file may name, one row each: everything the library does
// differently per method is in its row, so a new method is one enum value and one row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessora {

enum class HttpMethod : std::uint8_t { kGet = 0, kPost = 1, kPut = 2, kDelete = 3 };

struct MethodRow {
  HttpMethod method;
  // On the request line, and in the endpoint file in any ASCII letter case.
  std::u16string_view name;
  // The exchange goes out as HTTP/1.0 (and so does the CONNECT request of its tunnel).
  bool http10;
  // The host's body text goes with the request (when it is not empty).
  bool sendsBody;
  // The token request ("AUTHORIZE") sends the client id and secret as basic credentials.
  bool sendsClientCredentials;
};

inline constexpr MethodRow kMethods[] = {
    {HttpMethod::kGet, u"GET", false, false, false},
    {HttpMethod::kPost, u"POST", true, true, true},
    {HttpMethod::kPut, u"PUT", false, true, false},
    {HttpMethod::kDelete, u"DELETE", false, false, false},
};

// Every HttpMethod has its row, at the place of its number.
constexpr bool EveryMethodHasItsRow() {
  for (std::size_t i = 0; i < std::size(kMethods); ++i) {
    if (static_cast<std::size_t>(kMethods[i].method) != i) return false;
  }
  return static_cast<std::size_t>(HttpMethod::kDelete) + 1 == std::size(kMethods);
}
static_assert(EveryMethodHasItsRow(), "one row of kMethods per HttpMethod, in the enum's order");

// The row of a method.
constexpr const MethodRow& RowOf(HttpMethod method) {
  return kMethods[static_cast<std::size_t>(method)];
}

}  // namespace tessora
