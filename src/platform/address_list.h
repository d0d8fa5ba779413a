// Reading a resolver's answer: POSIX's addrinfo and Windows' ADDRINFOW have the same fields, so
// both socket implementations take their addresses from it here. Included by them after their
// system headers (sockaddr_in, sockaddr_in6, AF_INET, AF_INET6).
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/socket.h"

namespace tessora::platform::detail {

// The first IPv4 address of the list, in network byte order.
template <class Info>
std::optional<std::uint32_t> FirstIpv4(const Info* list) {
  for (const Info* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      return reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    }
  }
  return std::nullopt;
}

// The IPv6 addresses of the list, in its order, at most kMostAddresses.
template <class Info>
std::vector<Ipv6Address> Ipv6Addresses(const Info* list) {
  std::vector<Ipv6Address> addresses;
  for (const Info* entry = list; entry != nullptr && addresses.size() < kMostAddresses;
       entry = entry->ai_next) {
    if (entry->ai_family != AF_INET6 || entry->ai_addr == nullptr) continue;
    Ipv6Address address{};
    std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr,
                address.size());
    addresses.push_back(address);
  }
  return addresses;
}

}  // namespace tessora::platform::detail
