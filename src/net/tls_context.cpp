#include "net/tls_context.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/trust_store.h"

namespace tessora {

namespace {

// The source of roots set for tests (SetRootSourceForTesting); nullptr for the system store.
std::atomic<RootSource> gTestRootSource{nullptr};

// What the context made last refuses as distrusted: the system's distrust, a test's source, or
// nothing (nullptr) where the platform keeps no distrusted certificates.
std::atomic<DistrustSource> gTestDistrustSource{nullptr};
std::atomic<DistrustSource> gDistrust{nullptr};

// The shared trust store's lookup of the system store's roots by subject: OpenSSL asks it for an
// issuer the trust store lacks; it asks the platform for the roots with that subject, adds them to
// the trust store and hands one back. So only the roots a server's chain needs are ever read,
// instead of the whole system store when the context is made. One per context, made with it and
// freed after it (SharedTls::Release).
class RootLookup {
 public:
  RootLookup(const openssl::Api& api, RootSource source) : api_(api), source_(source) {}
  RootLookup(const RootLookup&) = delete;
  RootLookup& operator=(const RootLookup&) = delete;

  // Whether the library has what a lookup method needs (OpenSSL 1.1 and later).
  static bool Possible(const openssl::Api& api);
  // Adds the lookup to the context's trust store; false when OpenSSL refused it (nothing added).
  bool Install(openssl::Context* context);
  // Frees the method and the certificates handed out; only after the context is freed.
  void Free();

 private:
  static int GetBySubject(openssl::Lookup* lookup, int type, const openssl::Name* name,
                          openssl::StoreObject* result);
  int Find(const openssl::Name* name, openssl::StoreObject* result);
  bool KnownMissing(const std::string& subject) const;

  const openssl::Api& api_;
  const RootSource source_;
  openssl::LookupMethod* method_ = nullptr;
  openssl::CertStore* store_ = nullptr;
  std::mutex lock_;
  // The certificates handed to OpenSSL: the result of a lookup only borrows its certificate (the
  // caller takes a reference of its own), so each one is held here as long as the store lives.
  std::vector<openssl::Certificate*> held_;
  // Subjects the source had no root for, the most recent last: a server's chain asks again on
  // every full handshake for its intermediates, which are never roots.
  std::vector<std::string> missing_;
};

// Bounds of what a lookup keeps: subjects longer than this are looked up but not remembered as
// missing; at most this many missing ones are remembered; at most this many certificates are
// held (the roots a process needs are a handful; past the bound nothing more is looked up).
constexpr std::size_t kMaxRememberedSubject = 1024;
constexpr std::size_t kMaxMissingSubjects = 64;
constexpr std::size_t kMaxHeldRoots = 256;
// A DER name longer than this is not asked for.
constexpr int kMaxSubject = 64 * 1024;

// The lookup of the context made last; OpenSSL's callback has no other way to reach it.
std::atomic<RootLookup*> gRootLookup{nullptr};

bool RootLookup::Possible(const openssl::Api& api) {
  return api.lookupMethodNew != nullptr && api.lookupMethodSetGetBySubject != nullptr &&
         api.lookupMethodFree != nullptr && api.storeAddLookup != nullptr &&
         api.i2dName != nullptr && api.objectSet1Certificate != nullptr &&
         api.checkPurpose != nullptr && api.ctxGetCertStore != nullptr;
}

bool RootLookup::Install(openssl::Context* context) {
  store_ = api_.ctxGetCertStore(context);
  if (store_ == nullptr) return false;
  method_ = api_.lookupMethodNew("system roots by subject");
  if (method_ == nullptr) return false;
  if (api_.lookupMethodSetGetBySubject(method_, &GetBySubject) <= 0) return false;
  gRootLookup.store(this, std::memory_order_release);
  // The store keeps the lookup (and calls it) until the store is freed.
  if (api_.storeAddLookup(store_, method_) == nullptr) {
    gRootLookup.store(nullptr, std::memory_order_release);
    return false;
  }
  return true;
}

void RootLookup::Free() {
  RootLookup* expected = this;
  gRootLookup.compare_exchange_strong(expected, nullptr);
  std::lock_guard<std::mutex> guard(lock_);
  for (openssl::Certificate* certificate : held_)
    api_.x509Free(certificate);
  held_.clear();
  if (method_ != nullptr) api_.lookupMethodFree(method_);
  method_ = nullptr;
}

int RootLookup::GetBySubject(openssl::Lookup*, int type, const openssl::Name* name,
                             openssl::StoreObject* result) {
  RootLookup* lookup = gRootLookup.load(std::memory_order_acquire);
  if (lookup == nullptr || type != openssl::kLookupCertificate || name == nullptr ||
      result == nullptr) {
    return 0;
  }
  return lookup->Find(name, result);
}

bool RootLookup::KnownMissing(const std::string& subject) const {
  return std::find(missing_.begin(), missing_.end(), subject) != missing_.end();
}

int RootLookup::Find(const openssl::Name* name, openssl::StoreObject* result) {
  const int length = api_.i2dName(name, nullptr);
  if (length <= 0 || length > kMaxSubject) return 0;
  std::string subject(static_cast<std::size_t>(length), '\0');
  auto* out = reinterpret_cast<unsigned char*>(subject.data());
  if (api_.i2dName(name, &out) != length) return 0;

  std::lock_guard<std::mutex> guard(lock_);
  if (held_.size() >= kMaxHeldRoots || KnownMissing(subject)) return 0;
  const std::vector<std::string> roots =
      source_ != nullptr ? source_(subject) : platform::SystemRootsWithSubject(subject);
  openssl::Certificate* found = nullptr;
  for (const std::string& der : roots) {
    if (held_.size() >= kMaxHeldRoots) break;
    const auto* data = reinterpret_cast<const unsigned char*>(der.data());
    openssl::Certificate* certificate = api_.d2iX509(nullptr, &data, static_cast<long>(der.size()));
    if (certificate == nullptr) continue;
    // Decoded while only this thread sees it (see DecodeTrustedExtensions), then shared.
    constexpr int kAnyPurpose = -1;
    api_.checkPurpose(certificate, kAnyPurpose, 0);
    // The store takes a reference of its own; a root it has already is refused, harmlessly.
    api_.x509StoreAddCert(store_, certificate);
    held_.push_back(certificate);
    if (found == nullptr) found = certificate;
  }
  api_.errClearError();
  if (found == nullptr) {
    if (subject.size() <= kMaxRememberedSubject) {
      if (missing_.size() >= kMaxMissingSubjects) missing_.erase(missing_.begin());
      missing_.push_back(std::move(subject));
    }
    return 0;
  }
  // The result borrows the certificate, as OpenSSL's own lookups fill it: set1 takes a
  // reference, which goes again at once; the one held here keeps the certificate alive.
  if (api_.objectSet1Certificate(result, found) <= 0) return 0;
  api_.x509Free(found);
  return 1;
}

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
  void ForgetSessions();
  int ContextsMade();
  bool Has(const std::u16string& key);
  std::optional<TrustInUse> Trust();

 private:
  openssl::Context* Make(const openssl::Api& api);
  // Frees the lookup of the context (after the context).
  void FreeRootLookup();
  // Fills the context's trust store from the sources; what it took, for reports.
  TrustInUse LoadTrust(const openssl::Api& api, openssl::Context* context);
  // Adds DER certificates to the context's trust store; how many it took.
  static int AddCertificates(const openssl::Api& api, openssl::Context* context,
                             const std::vector<std::string>& certificates);
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
  // The context's lookup of the system store's roots; nullptr when they were added at once.
  RootLookup* rootLookup_ = nullptr;
  // The kept sessions, at most kMaxKeptSessions; when one more comes, the one offered or kept
  // least recently goes. Made on first use, freed by Release alone (see the destructor).
  struct KeptSession {
    std::u16string key;
    openssl::Session* session;
    std::uint64_t lastUse;
  };
  std::vector<KeptSession>* sessions_ = nullptr;
  std::uint64_t uses_ = 0;
  KeptSession* Find(const std::u16string& key);
  int contextsMade_ = 0;
  TrustInUse trust_;  // of the context made last
};

// The longest path of the tls.ca-file setting, UTF-8 bytes: the setting's 4096 characters take at
// most three bytes each.
constexpr std::size_t kLongestCaFile = 3 * 4096;

// The tls.ca-file setting's file, and the file of the context in use. Apart from SharedTls, which
// loads the TLS library when it is made: the setting is given at load, before any connection.
// Nothing is allocated (the library may be loaded and unloaded many times), and on POSIX nothing
// needs destroying: exit() runs static destructors while other threads may still be in a call.
// (Windows ends the other threads before the DLL's destructors run.)
struct CaFileState {
  std::mutex lock;
  bool contextMade = false;
  char wanted[kLongestCaFile + 1] = {};    // for the next context
  char madeWith[kLongestCaFile + 1] = {};  // the file of the context in use
};
#if !defined(_WIN32)
static_assert(std::is_trivially_destructible_v<CaFileState>);
#endif

CaFileState& CaFile() {
  static CaFileState state;
  return state;
}

// Set once the shared state exists: what only forgets may look at it without making it (and
// without loading the TLS library).
std::atomic<SharedTls*> gMade{nullptr};

SharedTls& Shared() {
  static SharedTls shared;
  gMade.store(&shared, std::memory_order_release);
  return shared;
}

std::u16string SessionKey(const std::u16string& host, int port, long maxVersion) {
  std::u16string key = host + u":" + IntToText(port);
  if (maxVersion != openssl::kTls12Version) key += u" up to TLS 1.3";
  return key;
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
  // The server's certificate is checked against the trust sources the platform names, and its
  // chain against the certificates the system distrusts; the host name is set per connection.
  TrustInUse trust = LoadTrust(api, context);
  api.ctxSetVerify(context, openssl::kVerifyPeer,
                   gDistrust.load() != nullptr ? &RefuseDistrusted : nullptr);
  DecodeTrustedExtensions(api, context);
  if (api.ctxSetCipherList(context, kClientCipherList) <= 0) {
    api.ctxFree(context);
    FreeRootLookup();
    api.errClearError();
    {
      CaFileState& caFile = CaFile();
      const std::lock_guard<std::mutex> guard(caFile.lock);
      caFile.contextMade = false;
    }
    Raise(ErrorKind::kTlsLibrary, u"SetCipher failed.");
  }
  api.errClearError();
  trust_ = std::move(trust);
  return context;
}

TrustInUse SharedTls::LoadTrust(const openssl::Api& api, openssl::Context* context) {
  // With a lookup method the system store's roots are read when a chain needs one (opening the
  // store and decoding every root took most of a process's first call under Wine); without one
  // (OpenSSL 1.0) all of them are added now.
  const RootSource testSource = gTestRootSource.load();
  const bool lookupPossible = RootLookup::Possible(api);
  platform::TrustSources sources = platform::ReadTrustSources(
      lookupPossible ? platform::SystemRoots::kOnDemand : platform::SystemRoots::kAll);
  TrustInUse trust;
  const DistrustSource testDistrust = gTestDistrustSource.load();
  gDistrust.store(testDistrust != nullptr  ? testDistrust
                  : sources.systemDistrust ? &platform::SystemDistrusts
                                           : nullptr);
  // The context is made while the first connect is under way: the stores are opened then.
  if (testDistrust == nullptr && sources.systemDistrust) platform::OpenSystemDistrust();
  if (lookupPossible && (sources.systemLookup || testSource != nullptr)) {
    auto* lookup = new RootLookup(api, testSource);
    if (lookup->Install(context)) {
      rootLookup_ = lookup;
      trust.systemLookup = true;
    } else {
      lookup->Free();
      delete lookup;
      api.errClearError();
      if (sources.systemLookup) {
        sources.systemRoots = platform::ReadTrustSources(platform::SystemRoots::kAll).systemRoots;
      }
    }
  }
  trust.systemStore = sources.systemStoreName;
  trust.systemCertificates = AddCertificates(api, context, sources.systemRoots);
  trust.certFile = sources.certFile;
  trust.certDir = sources.certDir;
  if (sources.tlsLibraryDefaults) {
    // The TLS library reads SSL_CERT_FILE / SSL_CERT_DIR itself, in place of its own file and
    // folder.
    trust.libraryDefaults =
        api.ctxSetDefaultVerifyPaths != nullptr && api.ctxSetDefaultVerifyPaths(context) > 0;
    if (api.defaultCertFile != nullptr) trust.defaultFile = api.defaultCertFile();
    if (api.defaultCertDir != nullptr) trust.defaultDir = api.defaultCertDir();
    // The TLS library says nothing about the variables' files: they count as taken.
    trust.certFileLoaded = trust.libraryDefaults && !trust.certFile.empty();
    trust.certDirLoaded = trust.libraryDefaults && !trust.certDir.empty();
  } else if (api.ctxLoadVerifyLocations != nullptr) {
    // One call each: a file that cannot be read must not keep the folder out.
    if (!trust.certFile.empty()) {
      trust.certFileLoaded =
          api.ctxLoadVerifyLocations(context, trust.certFile.c_str(), nullptr) > 0;
    }
    if (!trust.certDir.empty()) {
      trust.certDirLoaded = api.ctxLoadVerifyLocations(context, nullptr, trust.certDir.c_str()) > 0;
    }
  }
  {
    CaFileState& caFile = CaFile();
    const std::lock_guard<std::mutex> guard(caFile.lock);
    trust.caFile = caFile.wanted;
    caFile.contextMade = true;
    std::memcpy(caFile.madeWith, caFile.wanted, sizeof caFile.madeWith);
  }
  if (!trust.caFile.empty() && api.ctxLoadVerifyLocations != nullptr) {
    trust.caFileLoaded = api.ctxLoadVerifyLocations(context, trust.caFile.c_str(), nullptr) > 0;
  }
  api.errClearError();
  return trust;
}

int SharedTls::AddCertificates(const openssl::Api& api, openssl::Context* context,
                               const std::vector<std::string>& certificates) {
  if (certificates.empty() || api.ctxGetCertStore == nullptr) return 0;
  openssl::CertStore* store = api.ctxGetCertStore(context);
  if (store == nullptr) return 0;
  int added = 0;
  for (const std::string& der : certificates) {
    const auto* data = reinterpret_cast<const unsigned char*>(der.data());
    openssl::Certificate* certificate = api.d2iX509(nullptr, &data, static_cast<long>(der.size()));
    if (certificate == nullptr) continue;
    if (api.x509StoreAddCert(store, certificate) > 0)
      ++added;  // a duplicate is refused, harmlessly
    api.x509Free(certificate);
  }
  api.errClearError();
  return added;
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

SharedTls::KeptSession* SharedTls::Find(const std::u16string& key) {
  if (sessions_ == nullptr) return nullptr;
  for (KeptSession& kept : *sessions_) {
    if (kept.key == key) return &kept;
  }
  return nullptr;
}

void SharedTls::Offer(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& key) {
  if (!CanResume(api)) return;
  std::lock_guard<std::mutex> guard(lock_);
  KeptSession* kept = Find(key);
  if (kept == nullptr) return;
  // The connection takes a reference of its own: the session may go from here while in use.
  api.setSession(connection, kept->session);
  kept->lastUse = ++uses_;
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
  if (KeptSession* kept = Find(key)) {
    api.sessionFree(kept->session);
    kept->session = session;
    kept->lastUse = ++uses_;
    return;
  }
  if (sessions_ == nullptr) sessions_ = new std::vector<KeptSession>;
  if (sessions_->size() >= kMaxKeptSessions) {
    const auto oldest = std::min_element(sessions_->begin(), sessions_->end(),
                                         [](const KeptSession& left, const KeptSession& right) {
                                           return left.lastUse < right.lastUse;
                                         });
    api.sessionFree(oldest->session);
    sessions_->erase(oldest);
  }
  sessions_->push_back(KeptSession{key, session, ++uses_});
}

void SharedTls::Drop(const std::u16string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  KeptSession* kept = Find(key);
  if (kept == nullptr) return;
  api_->sessionFree(kept->session);
  sessions_->erase(sessions_->begin() + (kept - sessions_->data()));
}

void SharedTls::Release() {
  std::lock_guard<std::mutex> guard(lock_);
  if (api_ == nullptr) return;
  if (sessions_ != nullptr) {
    for (const KeptSession& kept : *sessions_)
      api_->sessionFree(kept.session);
  }
  delete sessions_;
  sessions_ = nullptr;
  if (context_ != nullptr) api_->ctxFree(context_);
  context_ = nullptr;
  FreeRootLookup();
  api_ = nullptr;
  CaFileState& caFile = CaFile();
  const std::lock_guard<std::mutex> caFileGuard(caFile.lock);
  caFile.contextMade = false;
}

void SharedTls::FreeRootLookup() {
  if (rootLookup_ == nullptr) return;
  rootLookup_->Free();
  delete rootLookup_;
  rootLookup_ = nullptr;
}

void SharedTls::ForgetSessions() {
  std::lock_guard<std::mutex> guard(lock_);
  if (sessions_ == nullptr) return;
  for (const KeptSession& kept : *sessions_)
    api_->sessionFree(kept.session);
  sessions_->clear();
}

int SharedTls::ContextsMade() {
  std::lock_guard<std::mutex> guard(lock_);
  return contextsMade_;
}

bool SharedTls::Has(const std::u16string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  return Find(key) != nullptr;
}

std::optional<TrustInUse> SharedTls::Trust() {
  std::lock_guard<std::mutex> guard(lock_);
  if (context_ == nullptr) return std::nullopt;
  return trust_;
}

}  // namespace

openssl::Context* SharedClientContext(const openssl::Api& api) {
  return Shared().Context(api);
}

void OfferKeptSession(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& host, int port, long maxVersion) {
  Shared().Offer(api, connection, SessionKey(host, port, maxVersion));
}

void KeepSession(const openssl::Api& api, openssl::Connection* connection,
                 const std::u16string& host, int port, long maxVersion) {
  Shared().Keep(api, connection, SessionKey(host, port, maxVersion));
}

void DropKeptSession(const std::u16string& host, int port, long maxVersion) {
  Shared().Drop(SessionKey(host, port, maxVersion));
}

bool SetTrustedCaFile(const std::string& path) {
  CaFileState& caFile = CaFile();
  const std::lock_guard<std::mutex> guard(caFile.lock);
  if (path.size() > kLongestCaFile || path.find('\0') != std::string::npos) return false;
  if (caFile.contextMade && path != caFile.madeWith) return false;
  std::memcpy(caFile.wanted, path.c_str(), path.size() + 1);
  return true;
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

std::string CertificateDer(const openssl::Api& api, openssl::Certificate* certificate) {
  if (certificate == nullptr || api.i2dX509 == nullptr) return {};
  const int length = api.i2dX509(certificate, nullptr);
  if (length <= 0) return {};
  std::string der(static_cast<std::size_t>(length), '\0');
  auto* out = reinterpret_cast<unsigned char*>(der.data());
  return api.i2dX509(certificate, &out) == length ? der : std::string();
}

int RefuseDistrusted(int preverifyOk, openssl::StoreContext* store) {
  // A verdict against the certificate stands as it is; OpenSSL asks about every certificate of the
  // chain, the trusted root included, so each is looked at once it has passed.
  const DistrustSource distrust = gDistrust.load();
  if (preverifyOk != 1 || distrust == nullptr || store == nullptr) return preverifyOk;
  const openssl::Api* api = openssl::LoadOpenSsl();
  if (api == nullptr || api->storeCurrentCert == nullptr) return preverifyOk;
  const std::string der = CertificateDer(*api, api->storeCurrentCert(store));
  if (der.empty() || !distrust(der)) return preverifyOk;
  if (api->storeSetError != nullptr) api->storeSetError(store, openssl::kVerifyCertRejected);
  return 0;
}

std::optional<TrustInUse> SharedTrustInUse() {
  return Shared().Trust();
}

std::string DescribeTrust(const TrustInUse& trust) {
  std::vector<std::string> parts;
  if (!trust.systemStore.empty() && trust.systemLookup) {
    parts.push_back(trust.systemStore + " (looked up by issuer)");
  } else if (!trust.systemStore.empty()) {
    parts.push_back(trust.systemStore + " (" + std::to_string(trust.systemCertificates) +
                    (trust.systemCertificates == 1 ? " certificate)" : " certificates)"));
  }
  if (trust.libraryDefaults) {
    // The variables stand in for the default file and folder.
    std::vector<std::string> paths;
    if (trust.certFile.empty() && !trust.defaultFile.empty()) paths.push_back(trust.defaultFile);
    if (trust.certDir.empty() && !trust.defaultDir.empty()) paths.push_back(trust.defaultDir);
    std::string text = "OpenSSL default paths";
    if (!paths.empty()) {
      text += " (";
      for (std::size_t i = 0; i < paths.size(); ++i)
        text += (i == 0 ? "" : ", ") + paths[i];
      text += ")";
    }
    parts.push_back(text);
  }
  auto named = [&](const char* variable, const std::string& value, bool loaded) {
    if (value.empty()) return;
    parts.push_back(std::string(variable) + "=" + value + (loaded ? "" : " (not readable)"));
  };
  named("SSL_CERT_FILE", trust.certFile, trust.certFileLoaded);
  named("SSL_CERT_DIR", trust.certDir, trust.certDirLoaded);
  named("tls.ca-file", trust.caFile, trust.caFileLoaded);
  if (parts.empty()) return "nothing (no trusted certificate: every server is refused)";
  std::string text;
  for (const std::string& part : parts)
    text += (text.empty() ? "" : " + ") + part;
  return text;
}

void SetDistrustSourceForTesting(DistrustSource source) {
  gTestDistrustSource.store(source);
}

void SetRootSourceForTesting(RootSource source) {
  gTestRootSource.store(source);
}

void ForgetKeptSessionsForTesting() {
  if (SharedTls* shared = gMade.load(std::memory_order_acquire)) shared->ForgetSessions();
}

int ClientContextsMade() {
  return Shared().ContextsMade();
}

bool HasKeptSession(const std::u16string& host, int port, long maxVersion) {
  return Shared().Has(SessionKey(host, port, maxVersion));
}

}  // namespace tessora
