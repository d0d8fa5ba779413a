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

#include "net/openssl/binding.h"
#include "platform/socket.h"

namespace tessora::openssl {

namespace {

SSL_CTX* C(Context* ctx) {
  return reinterpret_cast<SSL_CTX*>(ctx);
}
const SSL_CTX* C(const Context* ctx) {
  return reinterpret_cast<const SSL_CTX*>(ctx);
}
SSL* S(Connection* ssl) {
  return reinterpret_cast<SSL*>(ssl);
}
const SSL* S(const Connection* ssl) {
  return reinterpret_cast<const SSL*>(ssl);
}

const Method* ClientMethod() {
  return reinterpret_cast<const Method*>(TLS_client_method());
}
const Method* ServerMethod() {
  return reinterpret_cast<const Method*>(TLS_server_method());
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
void CtxFree(Context* ctx) {
  SSL_CTX_free(C(ctx));
}
long CtxSetOptions(Context* ctx, long options) {
  return static_cast<long>(SSL_CTX_set_options(C(ctx), static_cast<std::uint64_t>(options)));
}
long CtxSetMode(Context* ctx, long mode) {
  return SSL_CTX_set_mode(C(ctx), mode);
}
int CtxSetDefaultVerifyPaths(Context* ctx) {
  return SSL_CTX_set_default_verify_paths(C(ctx));
}
int CtxLoadVerifyLocations(Context* ctx, const char* file, const char* folder) {
  return SSL_CTX_load_verify_locations(C(ctx), file, folder);
}
const char* DefaultCertFile() {
  return X509_get_default_cert_file();
}
const char* DefaultCertDir() {
  return X509_get_default_cert_dir();
}
int CtxSetCipherList(Context* ctx, const char* list) {
  return SSL_CTX_set_cipher_list(C(ctx), list);
}
void CtxSetVerify(Context* ctx, int mode, void* callback) {
  SSL_CTX_set_verify(C(ctx), mode, reinterpret_cast<SSL_verify_cb>(callback));
}
CertStore* CtxGetCertStore(const Context* ctx) {
  return reinterpret_cast<CertStore*>(SSL_CTX_get_cert_store(C(ctx)));
}
int CtxUseCertificateChainFile(Context* ctx, const char* file) {
  return SSL_CTX_use_certificate_chain_file(C(ctx), file);
}
int CtxUsePrivateKeyFile(Context* ctx, const char* file, int type) {
  return SSL_CTX_use_PrivateKey_file(C(ctx), file, type);
}

Connection* New(Context* ctx) {
  return reinterpret_cast<Connection*>(SSL_new(C(ctx)));
}
void Free(Connection* ssl) {
  SSL_free(S(ssl));
}
int SetExData(Connection* ssl, int index, void* data) {
  return SSL_set_ex_data(S(ssl), index, data);
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

// The method table of our socket BIO, made on first use and freed when the library unloads (its
// static destructors run then), so that unloading leaves nothing of ours in OpenSSL's heap.
class SocketBio {
 public:
  SocketBio()
      : method_(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tessora socket")) {
    if (method_ != nullptr) {
      BIO_meth_set_write(method_, &BioWrite);
      BIO_meth_set_read(method_, &BioRead);
      BIO_meth_set_ctrl(method_, &BioCtrl);
      BIO_meth_set_create(method_, &BioCreate);
    }
  }
  ~SocketBio() { BIO_meth_free(method_); }
  SocketBio(const SocketBio&) = delete;
  SocketBio& operator=(const SocketBio&) = delete;
  BIO_METHOD* Method() const { return method_; }

 private:
  BIO_METHOD* method_;
};

BIO_METHOD* SocketBioMethod() {
  static const SocketBio kBio;
  return kBio.Method();
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
int Connect(Connection* ssl) {
  return SSL_connect(S(ssl));
}
int Accept(Connection* ssl) {
  return SSL_accept(S(ssl));
}
int Read(Connection* ssl, void* buffer, int size) {
  return SSL_read(S(ssl), buffer, size);
}
int Write(Connection* ssl, const void* data, int size) {
  return SSL_write(S(ssl), data, size);
}
int Pending(const Connection* ssl) {
  return SSL_pending(S(ssl));
}
int GetError(const Connection* ssl, int result) {
  return SSL_get_error(S(ssl), result);
}
int Shutdown(Connection* ssl) {
  return SSL_shutdown(S(ssl));
}
long GetVerifyResult(const Connection* ssl) {
  return SSL_get_verify_result(S(ssl));
}
const char* VerifyCertErrorString(long verdict) {
  return X509_verify_cert_error_string(verdict);
}
const char* GetServername(const Connection* ssl, int type) {
  return SSL_get_servername(S(ssl), type);
}
Session* GetSession(Connection* ssl) {
  return reinterpret_cast<Session*>(SSL_get1_session(S(ssl)));
}
int SetSession(Connection* ssl, Session* session) {
  return SSL_set_session(S(ssl), reinterpret_cast<SSL_SESSION*>(session));
}
void SessionFree(Session* session) {
  SSL_SESSION_free(reinterpret_cast<SSL_SESSION*>(session));
}
long SessionReused(Connection* ssl) {
  return SSL_session_reused(S(ssl));
}

unsigned long ErrGetError() {
  return ERR_get_error();
}
void ErrErrorStringN(unsigned long error, char* buffer, std::size_t size) {
  ERR_error_string_n(error, buffer, size);
}
void ErrClearError() {
  ERR_clear_error();
}

Certificate* D2iX509(Certificate** out, const unsigned char** data, long length) {
  return reinterpret_cast<Certificate*>(d2i_X509(reinterpret_cast<X509**>(out), data, length));
}
int X509StoreAddCert(CertStore* store, Certificate* certificate) {
  return X509_STORE_add_cert(reinterpret_cast<X509_STORE*>(store),
                             reinterpret_cast<X509*>(certificate));
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
void X509Free(Certificate* certificate) {
  X509_free(reinterpret_cast<X509*>(certificate));
}
CertChain* GetPeerCertChain(const Connection* ssl) {
  return reinterpret_cast<CertChain*>(SSL_get_peer_cert_chain(S(ssl)));
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
Certificate* StoreCurrentCert(StoreContext* store) {
  return reinterpret_cast<Certificate*>(
      X509_STORE_CTX_get_current_cert(reinterpret_cast<X509_STORE_CTX*>(store)));
}
int StoreErrorDepth(StoreContext* store) {
  return X509_STORE_CTX_get_error_depth(reinterpret_cast<X509_STORE_CTX*>(store));
}
int I2dX509(Certificate* certificate, unsigned char** out) {
  return i2d_X509(reinterpret_cast<X509*>(certificate), out);
}
VerifyParam* Get0Param(Connection* ssl) {
  return reinterpret_cast<VerifyParam*>(SSL_get0_param(S(ssl)));
}
int ParamSet1Host(VerifyParam* param, const char* name, std::size_t length) {
  return X509_VERIFY_PARAM_set1_host(reinterpret_cast<X509_VERIFY_PARAM*>(param), name, length);
}
void ParamSetHostflags(VerifyParam* param, unsigned flags) {
  X509_VERIFY_PARAM_set_hostflags(reinterpret_cast<X509_VERIFY_PARAM*>(param), flags);
}
int ParamSet1IpAsc(VerifyParam* param, const char* address) {
  return X509_VERIFY_PARAM_set1_ip_asc(reinterpret_cast<X509_VERIFY_PARAM*>(param), address);
}

Api MakeTable() {
  Api t;
  t.tls12ClientMethod = &ClientMethod;
  t.tls12ServerMethod = &ServerMethod;
  t.hasTls11Methods = true;
  t.ctxNew = &CtxNew;
  t.ctxFree = &CtxFree;
  t.ctxSetOptions = &CtxSetOptions;
  t.ctxSetMode = &CtxSetMode;
  t.ctxSetDefaultVerifyPaths = &CtxSetDefaultVerifyPaths;
  t.ctxLoadVerifyLocations = &CtxLoadVerifyLocations;
  t.defaultCertFile = &DefaultCertFile;
  t.defaultCertDir = &DefaultCertDir;
  t.ctxSetCipherList = &CtxSetCipherList;
  t.ctxSetVerify = &CtxSetVerify;
  t.ctxGetCertStore = &CtxGetCertStore;
  t.ctxUseCertificateChainFile = &CtxUseCertificateChainFile;
  t.ctxUsePrivateKeyFile = &CtxUsePrivateKeyFile;
  t.sslNew = &New;
  t.free = &Free;
  t.setExData = &SetExData;
  t.setFd = &SetFd;
  t.setTlsextHostName = &SetTlsextHostName;
  t.connect = &Connect;
  t.accept = &Accept;
  t.read = &Read;
  t.write = &Write;
  t.pending = &Pending;
  t.getError = &GetError;
  t.shutdown = &Shutdown;
  t.getServername = &GetServername;
  t.getVerifyResult = &GetVerifyResult;
  t.verifyCertErrorString = &VerifyCertErrorString;
  t.getSession = &GetSession;
  t.setSession = &SetSession;
  t.sessionFree = &SessionFree;
  t.sessionReused = &SessionReused;
  t.errGetError = &ErrGetError;
  t.errErrorStringN = &ErrErrorStringN;
  t.errClearError = &ErrClearError;
  t.d2iX509 = &D2iX509;
  t.x509StoreAddCert = &X509StoreAddCert;
  t.storeObjects = &StoreObjectsOf;
  t.objectsCount = &ObjectsCount;
  t.objectsValue = &ObjectsValue;
  t.objectCertificate = &ObjectCertificate;
  t.checkPurpose = &CheckPurpose;
  t.x509Free = &X509Free;
  t.getPeerCertChain = &GetPeerCertChain;
  t.chainCount = &ChainCount;
  t.chainValue = &ChainValue;
  t.i2dX509 = &I2dX509;
  t.setVerify = &SetVerify;
  t.storeCurrentCert = &StoreCurrentCert;
  t.storeErrorDepth = &StoreErrorDepth;
  t.get0Param = &Get0Param;
  t.paramSet1Host = &ParamSet1Host;
  t.paramSetHostflags = &ParamSetHostflags;
  t.paramSet1IpAsc = &ParamSet1IpAsc;
  return t;
}

}  // namespace

const Api* LoadOpenSsl() {
  // OpenSSL 3 initialises itself, thread-safely, on first use. It is initialised here, before the
  // table is handed out, so that its clean-up at exit is registered before anything made with it
  // is kept in a static object: such an object's destructor then runs first.
  static const Api kTable = [] {
    OPENSSL_init_ssl(0, nullptr);
    return MakeTable();
  }();
  return &kTable;
}

void UnloadOpenSsl() {
  // The linked library cleans up at process exit by itself. What the rest of the library keeps
  // (the shared client context) is freed by its owner's static destructor: this function also runs
  // at exit, after OpenSSL's clean-up, when nothing may be freed any more.
}

void SetReleaseBeforeUnload(void (*)()) {
  // Nothing to do: see UnloadOpenSsl.
}

void SetOwnFolder(const std::u16string*) {
  // Linked: there is nothing to search for.
}

int OpenSslInitialisations() {
  return 1;
}

}  // namespace tessora::openssl
