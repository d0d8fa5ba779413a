// The server's side of a TLS handshake, which the library's OpenSSL table leaves out (the library
// is only ever a client): taken from the same OpenSSL the library runs on, so that the scripted
// servers share its objects (contexts made with the table's ctxNew, connections of its sslNew).
#pragma once

#include <optional>

#include "net/openssl/binding.h"

namespace tessora::test {

struct ServerTls {
  const openssl::Method* (*method)() = nullptr;  // TLS_server_method, TLSv1_2_server_method
  int (*useCertificateChainFile)(openssl::Context*, const char* file) = nullptr;
  int (*usePrivateKeyFile)(openssl::Context*, const char* file, int type) = nullptr;
  int (*accept)(openssl::Connection*) = nullptr;
  // The server name the client sent; nullptr when it sent none.
  const char* (*serverName)(const openssl::Connection*) = nullptr;
  // Whether the handshake resumed a session the client offered.
  bool (*resumed)(openssl::Connection*) = nullptr;
  // The protocol version the handshake agreed (SSL_version: 0x0303 TLS 1.2, 0x0304 TLS 1.3).
  int (*version)(const openssl::Connection*) = nullptr;
  // Raises the context's highest protocol version (SSL_CTX_set_max_proto_version); nullptr, or
  // refused, where the library has no such version.
  long (*setMaxVersion)(openssl::Context*, long version) = nullptr;
};

// SSL_FILETYPE_PEM.
inline constexpr int kFileTypePem = 1;

// The functions of the OpenSSL the library has loaded now (openssl::LoadOpenSsl); none before, or
// when one is missing. Looked up anew at each call: a test may unload one line and load another.
std::optional<ServerTls> ServerTlsFunctions();

}  // namespace tessora::test
