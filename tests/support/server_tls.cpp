#include "support/server_tls.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <openssl/ssl.h>
#endif

namespace tessora::test {

namespace {

#if defined(_WIN32)

// The TLS library the loader chose, whichever line it is.
HMODULE LoadedSslLibrary() {
  for (const wchar_t* name :
       {L"libssl-3.dll", L"libssl-3-x64.dll", L"ssleay32.dll", L"libssl32.dll"}) {
    if (HMODULE module = GetModuleHandleW(name)) return module;
  }
  return nullptr;
}

template <class T>
T Find(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const char* ServerName(const openssl::Connection* ssl) {
  // The 1.0 line and OpenSSL 3 both export it; TLSEXT_NAMETYPE_host_name is 0.
  const auto get = Find<const char* (*)(const openssl::Connection*, int)>(LoadedSslLibrary(),
                                                                          "SSL_get_servername");
  return get != nullptr ? get(ssl, 0) : nullptr;
}

bool Resumed(openssl::Connection* ssl) {
  // A function in OpenSSL 3; a control call (SSL_CTRL_GET_SESSION_REUSED) in the 1.0 line.
  const HMODULE module = LoadedSslLibrary();
  if (const auto reused = Find<int (*)(openssl::Connection*)>(module, "SSL_session_reused")) {
    return reused(ssl) != 0;
  }
  const auto control = Find<long (*)(openssl::Connection*, int, long, void*)>(module, "SSL_ctrl");
  constexpr int kCtrlGetSessionReused = 8;
  return control != nullptr && control(ssl, kCtrlGetSessionReused, 0, nullptr) != 0;
}

ServerTls Make() {
  ServerTls functions;
  const HMODULE module = LoadedSslLibrary();
  if (module == nullptr) return functions;
  functions.method = Find<const openssl::Method* (*)()>(module, "TLS_server_method");
  if (functions.method == nullptr) {
    functions.method = Find<const openssl::Method* (*)()>(module, "TLSv1_2_server_method");
  }
  functions.useCertificateChainFile =
      Find<int (*)(openssl::Context*, const char*)>(module, "SSL_CTX_use_certificate_chain_file");
  functions.usePrivateKeyFile =
      Find<int (*)(openssl::Context*, const char*, int)>(module, "SSL_CTX_use_PrivateKey_file");
  functions.accept = Find<int (*)(openssl::Connection*)>(module, "SSL_accept");
  functions.serverName = &ServerName;
  functions.resumed = &Resumed;
  functions.version = Find<int (*)(const openssl::Connection*)>(module, "SSL_version");
  if (Find<void (*)()>(module, "TLS_server_method") != nullptr) {
    functions.setMaxVersion = [](openssl::Context* context, long version) {
      const auto control =
          Find<long (*)(openssl::Context*, int, long, void*)>(LoadedSslLibrary(), "SSL_CTX_ctrl");
      return control != nullptr
                 ? control(context, openssl::kCtrlSetMaxProtoVersion, version, nullptr)
                 : 0L;
    };
  }
  return functions;
}

#else

SSL_CTX* C(openssl::Context* context) {
  return reinterpret_cast<SSL_CTX*>(context);
}
SSL* S(openssl::Connection* ssl) {
  return reinterpret_cast<SSL*>(ssl);
}

ServerTls Make() {
  ServerTls functions;
  functions.method = [] { return reinterpret_cast<const openssl::Method*>(TLS_server_method()); };
  functions.useCertificateChainFile = [](openssl::Context* context, const char* file) {
    return SSL_CTX_use_certificate_chain_file(C(context), file);
  };
  functions.usePrivateKeyFile = [](openssl::Context* context, const char* file, int type) {
    return SSL_CTX_use_PrivateKey_file(C(context), file, type);
  };
  functions.accept = [](openssl::Connection* ssl) { return SSL_accept(S(ssl)); };
  functions.serverName = [](const openssl::Connection* ssl) {
    return SSL_get_servername(reinterpret_cast<const SSL*>(ssl), TLSEXT_NAMETYPE_host_name);
  };
  functions.resumed = [](openssl::Connection* ssl) { return SSL_session_reused(S(ssl)) != 0; };
  functions.version = [](const openssl::Connection* ssl) {
    return SSL_version(reinterpret_cast<const SSL*>(ssl));
  };
  functions.setMaxVersion = [](openssl::Context* context, long version) {
    return static_cast<long>(SSL_CTX_set_max_proto_version(C(context), static_cast<int>(version)));
  };
  return functions;
}

#endif

bool Complete(const ServerTls& functions) {
  return functions.method != nullptr && functions.useCertificateChainFile != nullptr &&
         functions.usePrivateKeyFile != nullptr && functions.accept != nullptr;
}

}  // namespace

std::optional<ServerTls> ServerTlsFunctions() {
  if (openssl::LoadOpenSsl() == nullptr) return std::nullopt;
  const ServerTls functions = Make();
  if (!Complete(functions)) return std::nullopt;
  return functions;
}

}  // namespace tessora::test
