// The system OpenSSL (3.x) linked into the library, presented in the shape of the 1.0 interface
// the channel is written against. TLS 1.2 is pinned with the minimum and maximum protocol
// version. Bytes reach the socket through a small BIO of our own, so that:
//   - a send to a closed peer raises no SIGPIPE (the platform's send suppresses it);
//   - a receive or send that runs into the socket time-out fails outright instead of asking to
//     be retried, and reaches the channel as a socket error 10060;
//   - the end of the stream is reported as in the 1.0 line (a read result of 0), not as the 3.x
//     "unexpected eof" error.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "net/openssl/binding.h"
#include "net/receive_deadline.h"
#include "platform/socket.h"

namespace tessora::openssl {

namespace {

SSL_CTX* C(Context* ctx) {
  return reinterpret_cast<SSL_CTX*>(ctx);
}
SSL* S(Connection* ssl) {
  return reinterpret_cast<SSL*>(ssl);
}

const Method* ClientMethod() {
  return reinterpret_cast<const Method*>(TLS_client_method());
}

long SetMaxProtoVersion(Connection* ssl, long version) {
  return SSL_set_max_proto_version(reinterpret_cast<SSL*>(ssl), static_cast<int>(version));
}

const char* VersionText() {
  return OpenSSL_version(OPENSSL_VERSION);
}

Context* CtxNew(const Method* method) {
  SSL_CTX* ctx = SSL_CTX_new(reinterpret_cast<const SSL_METHOD*>(method));
  if (ctx == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return reinterpret_cast<Context*>(ctx);
}
long CtxSetOptions(Context* ctx, long options) {
  return static_cast<long>(SSL_CTX_set_options(C(ctx), static_cast<std::uint64_t>(options)));
}
long CtxSetMode(Context* ctx, long mode) {
  return SSL_CTX_set_mode(C(ctx), mode);
}
// SSL_CTX_set_verify wants OpenSSL's callback type; the table's callback is called from a
// trampoline (one context is made at a time, and the callback is the same for each).
std::atomic<Api::VerifyCallback> gContextVerifyCallback{nullptr};
int ContextVerifyTrampoline(int preverifyOk, X509_STORE_CTX* store) {
  const Api::VerifyCallback callback = gContextVerifyCallback.load();
  return callback != nullptr ? callback(preverifyOk, reinterpret_cast<StoreContext*>(store))
                             : preverifyOk;
}
void CtxSetVerify(Context* ctx, int mode, Api::VerifyCallback callback) {
  if (callback != nullptr) gContextVerifyCallback = callback;
  SSL_CTX_set_verify(C(ctx), mode, callback != nullptr ? &ContextVerifyTrampoline : nullptr);
}

// The socket BIO: the socket handle is the BIO's data.
platform::SocketHandle BioSocket(BIO* bio) {
  return static_cast<platform::SocketHandle>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}
int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  return platform::SocketSend(BioSocket(bio), data, size);
}
int BioRead(BIO* bio, char* buffer, int size) {
  BIO_clear_retry_flags(bio);
  if (!WaitToReceive(BioSocket(bio))) return -1;  // a handshake's deadline passed
  return platform::SocketReceive(BioSocket(bio), buffer, size);
}
long BioCtrl(BIO*, int command, long, void*) {
  // BIO_CTRL_EOF stays 0 on purpose: a read of 0 then ends the stream as it does in the 1.0 line.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}
int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

// The method table of our socket BIO, made on first use and freed when this library is unloaded
// (UnloadOpenSsl), so that unloading leaves nothing of ours in OpenSSL's heap. Not by a static
// destructor: at the end of the process other threads may still be inside a call that uses it.
// (Nothing here has a destructor: std::mutex has none with glibc.)
std::mutex gSocketBioLock;
BIO_METHOD* gSocketBio = nullptr;

BIO_METHOD* SocketBioMethod() {
  std::lock_guard<std::mutex> guard(gSocketBioLock);
  if (gSocketBio == nullptr) {
    gSocketBio = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tessora socket");
    if (gSocketBio != nullptr) {
      BIO_meth_set_write(gSocketBio, &BioWrite);
      BIO_meth_set_read(gSocketBio, &BioRead);
      BIO_meth_set_ctrl(gSocketBio, &BioCtrl);
      BIO_meth_set_create(gSocketBio, &BioCreate);
    }
  }
  return gSocketBio;
}

int SetFd(Connection* ssl, platform::SocketHandle socket) {
  BIO_METHOD* method = SocketBioMethod();
  if (method == nullptr) return 0;
  BIO* bio = BIO_new(method);
  if (bio == nullptr) return 0;
  BIO_set_data(bio, reinterpret_cast<void*>(socket));
  SSL_set_bio(S(ssl), bio, bio);
  return 1;
}
long SetTlsextHostName(Connection* ssl, const char* name) {
  return SSL_set_tlsext_host_name(S(ssl), name);
}

StoreObjects* StoreObjectsOf(CertStore* store) {
  return reinterpret_cast<StoreObjects*>(
      X509_STORE_get0_objects(reinterpret_cast<X509_STORE*>(store)));
}
int ObjectsCount(const StoreObjects* objects) {
  return sk_X509_OBJECT_num(reinterpret_cast<const STACK_OF(X509_OBJECT)*>(objects));
}
StoreObject* ObjectsValue(const StoreObjects* objects, int index) {
  return reinterpret_cast<StoreObject*>(
      sk_X509_OBJECT_value(reinterpret_cast<const STACK_OF(X509_OBJECT)*>(objects), index));
}
Certificate* ObjectCertificate(const StoreObject* object) {
  return reinterpret_cast<Certificate*>(
      X509_OBJECT_get0_X509(reinterpret_cast<const X509_OBJECT*>(object)));
}
int CheckPurpose(Certificate* certificate, int purpose, int ca) {
  return X509_check_purpose(reinterpret_cast<X509*>(certificate), purpose, ca);
}
// The table's lookup function has OpenSSL's shape, with the table's opaque types and an int for
// X509_LOOKUP_TYPE.
int LookupMethodSetGetBySubject(LookupMethod* method, Api::GetBySubject function) {
  return X509_LOOKUP_meth_set_get_by_subject(
      reinterpret_cast<X509_LOOKUP_METHOD*>(method),
      reinterpret_cast<X509_LOOKUP_get_by_subject_fn>(reinterpret_cast<void (*)()>(function)));
}
int ChainCount(const CertChain* chain) {
  return sk_X509_num(reinterpret_cast<const STACK_OF(X509)*>(chain));
}
Certificate* ChainValue(const CertChain* chain, int index) {
  return reinterpret_cast<Certificate*>(
      sk_X509_value(reinterpret_cast<const STACK_OF(X509)*>(chain), index));
}
// SSL_set_verify wants OpenSSL's callback type; the table's callback is called from a trampoline.
std::atomic<Api::VerifyCallback> gVerifyCallback{nullptr};
// What UnloadOpenSsl calls first (SetReleaseBeforeUnload).
std::atomic<void (*)()> gReleaseBeforeUnload{nullptr};
int VerifyTrampoline(int preverifyOk, X509_STORE_CTX* store) {
  const Api::VerifyCallback callback = gVerifyCallback.load();
  return callback != nullptr ? callback(preverifyOk, reinterpret_cast<StoreContext*>(store))
                             : preverifyOk;
}
void SetVerify(Connection* ssl, int mode, Api::VerifyCallback callback) {
  gVerifyCallback = callback;
  SSL_set_verify(reinterpret_cast<SSL*>(ssl), mode,
                 callback != nullptr ? &VerifyTrampoline : nullptr);
}

// A linked function as the table's slot type: the table names OpenSSL's types by opaque ones of
// its own, of the same shape. (Through void (*)(), the one function type every other converts
// from without a warning.)
template <class Slot, class Function>
Slot As(Function* function) {
  return reinterpret_cast<Slot>(reinterpret_cast<void (*)()>(function));
}

Api MakeTable() {
  Api t;
#define TESSORA_OPENSSL_LINK(slot, name, result, parameters) t.slot = As<decltype(t.slot)>(&::name);
  TESSORA_OPENSSL_FUNCTIONS(TESSORA_OPENSSL_LINK)
#undef TESSORA_OPENSSL_LINK
  t.tls12ClientMethod = &ClientMethod;
  t.hasTls11Methods = true;
  t.ctxNew = &CtxNew;
  t.ctxSetOptions = &CtxSetOptions;
  t.ctxSetMode = &CtxSetMode;
  t.ctxSetVerify = &CtxSetVerify;
  t.setFd = &SetFd;
  t.setTlsextHostName = &SetTlsextHostName;
  t.setMaxProtoVersion = &SetMaxProtoVersion;
  t.versionText = &VersionText;
  t.chainCount = &ChainCount;
  t.chainValue = &ChainValue;
  t.setVerify = &SetVerify;
  t.storeObjects = &StoreObjectsOf;
  t.objectsCount = &ObjectsCount;
  t.objectsValue = &ObjectsValue;
  t.objectCertificate = &ObjectCertificate;
  t.checkPurpose = &CheckPurpose;
  t.lookupMethodNew = As<decltype(t.lookupMethodNew)>(&X509_LOOKUP_meth_new);
  t.lookupMethodSetGetBySubject = &LookupMethodSetGetBySubject;
  t.lookupMethodFree = As<decltype(t.lookupMethodFree)>(&X509_LOOKUP_meth_free);
  t.storeAddLookup = As<decltype(t.storeAddLookup)>(&X509_STORE_add_lookup);
  t.i2dName = As<decltype(t.i2dName)>(&i2d_X509_NAME);
  t.objectSet1Certificate = As<decltype(t.objectSet1Certificate)>(&X509_OBJECT_set1_X509);
  return t;
}

}  // namespace

const Api* LoadOpenSsl() {
  // OpenSSL 3 initialises itself, thread-safely, on first use. It is initialised here, before the
  // table is handed out.
  static const Api kTable = [] {
    OPENSSL_init_ssl(0, nullptr);
    return MakeTable();
  }();
  return &kTable;
}

void UnloadOpenSsl() {
  // OpenSSL stays loaded and initialised (it pins itself) and cleans up at process exit by itself.
  // What the rest of the library made with it goes (the shared client context), then our socket
  // method.
  if (auto release = gReleaseBeforeUnload.load()) release();
  std::lock_guard<std::mutex> guard(gSocketBioLock);
  BIO_meth_free(gSocketBio);
  gSocketBio = nullptr;
}

void SetReleaseBeforeUnload(void (*release)()) {
  gReleaseBeforeUnload = release;
}

void SetOwnFolder(const std::u16string*) {
  // Linked: there is nothing to search for.
}

int OpenSslInitialisations() {
  return 1;
}

}  // namespace tessora::openssl
