#include "net/tls_context.h"

#include <map>
#include <mutex>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/trust_store.h"

namespace tessora {

namespace {

// Calls go to one API host; a few more servers (tests, a changed environment) fit easily.
constexpr std::size_t kMaxKeptSessions = 32;

class SharedTls {
 public:
  SharedTls() { (void)openssl::LoadOpenSsl(); }
  // What this object holds is freed by Release alone, when this library is unloaded: at the end
  // of the process other threads may still be inside a call that uses it after the static
  // destructors have run. So its destructor frees nothing (with glibc, std::mutex has none).
  SharedTls(const SharedTls&) = delete;
  SharedTls& operator=(const SharedTls&) = delete;

  openssl::Context* Context(const openssl::Api& api);
  void Offer(const openssl::Api& api, openssl::Connection* connection, const std::u16string& key);
  void Keep(const openssl::Api& api, openssl::Connection* connection, const std::u16string& key);
  void Drop(const std::u16string& key);
  void Release();
  int ContextsMade();
  bool Has(const std::u16string& key);

 private:
  openssl::Context* Make(const openssl::Api& api);
  void ImportSystemRoots(const openssl::Api& api, openssl::Context* context);
  // OpenSSL decodes a certificate's extensions on its first check and keeps them in the
  // certificate. The trusted certificates are shared by every connection, so they are decoded
  // here, before any other thread can see the context: handshakes on several threads then only
  // read them. (Certificates OpenSSL finds later in a hashed folder, SSL_CERT_DIR, are still
  // decoded by OpenSSL on their first check.)
  static void DecodeTrustedExtensions(const openssl::Api& api, openssl::Context* context);

  std::mutex lock_;
  // The table the context and the sessions were made with.
  const openssl::Api* api_ = nullptr;
  openssl::Context* context_ = nullptr;
  // Made on first use, freed by Release.
  std::map<std::u16string, openssl::Session*>* sessions_ = nullptr;
  int contextsMade_ = 0;
};

SharedTls& Shared() {
  static SharedTls shared;
  return shared;
}

std::u16string SessionKey(const std::u16string& host, int port) {
  return host + u":" + IntToText(port);
}

bool CanResume(const openssl::Api& api) {
  return api.getSession != nullptr && api.setSession != nullptr && api.sessionFree != nullptr;
}

openssl::Context* SharedTls::Context(const openssl::Api& api) {
  std::lock_guard<std::mutex> guard(lock_);
  // (Before the table changes, UnloadOpenSsl has this object released.)
  if (context_ != nullptr) return context_;
  openssl::Context* context = Make(api);
  api_ = &api;
  context_ = context;
  ++contextsMade_;
  openssl::SetReleaseBeforeUnload(&ReleaseSharedTls);
  return context_;
}

openssl::Context* SharedTls::Make(const openssl::Api& api) {
  const openssl::Method* method = nullptr;
  if (api.tls12ClientMethod != nullptr) {
    method = api.tls12ClientMethod();
  } else if (api.tls1ClientMethod != nullptr) {
    method = api.tls1ClientMethod();
  } else {
    Raise(ErrorKind::kTlsLibrary, u"Error getting SSL method.");
  }
  api.errClearError();
  openssl::Context* context = api.ctxNew(method);
  if (context == nullptr) {
    Raise(ErrorKind::kTlsLibrary, std::u16string(u"Error creating SSL context.\r\n") +
                                      TlsErrorText(&api, api.errGetError()));
  }
  if (api.hasSslV2Methods) api.ctxSetOptions(context, openssl::kOpNoSslV2);
  if (api.hasSslV3Methods) api.ctxSetOptions(context, openssl::kOpNoSslV3);
  api.ctxSetOptions(context, openssl::kOpNoTlsV1);
  if (api.hasTls11Methods) api.ctxSetOptions(context, openssl::kOpNoTlsV11);
  api.ctxSetMode(context, openssl::kModeAutoRetry);
  // The server's certificate is checked: trusted roots from the platform and OpenSSL's default
  // paths; the host name is set per connection.
  api.ctxSetVerify(context, openssl::kVerifyPeer, nullptr);
  ImportSystemRoots(api, context);
  api.ctxSetDefaultVerifyPaths(context);
  DecodeTrustedExtensions(api, context);
  if (api.ctxSetCipherList(context, kClientCipherList) <= 0) {
    api.ctxFree(context);
    api.errClearError();
    Raise(ErrorKind::kTlsLibrary, u"SetCipher failed.");
  }
  api.errClearError();
  return context;
}

void SharedTls::ImportSystemRoots(const openssl::Api& api, openssl::Context* context) {
  if (api.ctxGetCertStore == nullptr) return;
  openssl::CertStore* store = api.ctxGetCertStore(context);
  if (store == nullptr) return;
  for (const std::string& der : platform::SystemRootCertificates()) {
    const auto* data = reinterpret_cast<const unsigned char*>(der.data());
    openssl::Certificate* certificate = api.d2iX509(nullptr, &data, static_cast<long>(der.size()));
    if (certificate == nullptr) continue;
    api.x509StoreAddCert(store, certificate);  // a duplicate is refused, harmlessly
    api.x509Free(certificate);
  }
  api.errClearError();
}

void SharedTls::DecodeTrustedExtensions(const openssl::Api& api, openssl::Context* context) {
  if (api.ctxGetCertStore == nullptr || api.storeObjects == nullptr ||
      api.objectsCount == nullptr || api.objectsValue == nullptr ||
      api.objectCertificate == nullptr || api.checkPurpose == nullptr) {
    return;
  }
  openssl::CertStore* store = api.ctxGetCertStore(context);
  openssl::StoreObjects* objects = store != nullptr ? api.storeObjects(store) : nullptr;
  if (objects == nullptr) return;
  constexpr int kAnyPurpose = -1;  // decodes and caches the extensions, checks nothing
  const int count = api.objectsCount(objects);
  for (int i = 0; i < count; ++i) {
    openssl::Certificate* certificate = api.objectCertificate(api.objectsValue(objects, i));
    if (certificate != nullptr) api.checkPurpose(certificate, kAnyPurpose, 0);
  }
  api.errClearError();
}

void SharedTls::Offer(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& key) {
  if (!CanResume(api)) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (sessions_ == nullptr) return;
  const auto found = sessions_->find(key);
  // The connection takes a reference of its own.
  if (found != sessions_->end()) api.setSession(connection, found->second);
}

void SharedTls::Keep(const openssl::Api& api, openssl::Connection* connection,
                     const std::u16string& key) {
  if (!CanResume(api)) return;
  openssl::Session* session = api.getSession(connection);
  if (session == nullptr) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (api_ == nullptr) {  // released meanwhile
    api.sessionFree(session);
    return;
  }
  if (sessions_ == nullptr) sessions_ = new std::map<std::u16string, openssl::Session*>;
  auto found = sessions_->find(key);
  if (found == sessions_->end()) {
    if (sessions_->size() >= kMaxKeptSessions) {
      api.sessionFree(sessions_->begin()->second);
      sessions_->erase(sessions_->begin());
    }
    sessions_->emplace(key, session);
    return;
  }
  api.sessionFree(found->second);
  found->second = session;
}

void SharedTls::Drop(const std::u16string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  if (sessions_ == nullptr) return;
  const auto found = sessions_->find(key);
  if (found == sessions_->end()) return;
  api_->sessionFree(found->second);
  sessions_->erase(found);
}

void SharedTls::Release() {
  std::lock_guard<std::mutex> guard(lock_);
  if (api_ == nullptr) return;
  if (sessions_ != nullptr) {
    for (const auto& [key, session] : *sessions_)
      api_->sessionFree(session);
  }
  delete sessions_;
  sessions_ = nullptr;
  if (context_ != nullptr) api_->ctxFree(context_);
  context_ = nullptr;
  api_ = nullptr;
}

int SharedTls::ContextsMade() {
  std::lock_guard<std::mutex> guard(lock_);
  return contextsMade_;
}

bool SharedTls::Has(const std::u16string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  return sessions_ != nullptr && sessions_->count(key) != 0;
}

}  // namespace

openssl::Context* SharedClientContext(const openssl::Api& api) {
  return Shared().Context(api);
}

void OfferKeptSession(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& host, int port) {
  Shared().Offer(api, connection, SessionKey(host, port));
}

void KeepSession(const openssl::Api& api, openssl::Connection* connection,
                 const std::u16string& host, int port) {
  Shared().Keep(api, connection, SessionKey(host, port));
}

void DropKeptSession(const std::u16string& host, int port) {
  Shared().Drop(SessionKey(host, port));
}

void ReleaseSharedTls() {
  Shared().Release();
}

std::u16string TlsErrorText(const openssl::Api* api, unsigned long error) {
  if (api == nullptr || api->errErrorStringN == nullptr) return {};
  char buffer[openssl::kErrorTextBuffer] = {};
  api->errErrorStringN(error, buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  return BytesToText(buffer);
}

int ClientContextsMade() {
  return Shared().ContextsMade();
}

bool HasKeptSession(const std::u16string& host, int port) {
  return Shared().Has(SessionKey(host, port));
}

}  // namespace tessora
