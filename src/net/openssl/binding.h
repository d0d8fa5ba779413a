// The TLS library as the channel uses it: one table of functions in the shape of the OpenSSL 1.0
// programming interface, with its macros (SSL_CTX_set_options, SSL_set_tlsext_host_name, ...)
// turned into functions. Windows fills the table at run time from the OpenSSL 3 DLLs
// ("libcrypto-3.dll", "libssl-3.dll"; 64-bit "libcrypto-3-x64.dll", "libssl-3-x64.dll") or the
// OpenSSL 1.0 DLLs ("libeay32.dll", "ssleay32.dll");
// Linux from the system OpenSSL 3 linked into the library.
#pragma once

#include <cstddef>
#include <string>

#include "platform/socket.h"

namespace tessora::openssl {

// Opaque objects of the TLS library.
struct Method;        // SSL_METHOD
struct Context;       // SSL_CTX
struct Connection;    // SSL
struct Certificate;   // X509
struct CertStore;     // X509_STORE
struct VerifyParam;   // X509_VERIFY_PARAM
struct Session;       // SSL_SESSION
struct CertChain;     // STACK_OF(X509)
struct StoreContext;  // X509_STORE_CTX
struct StoreObjects;  // STACK_OF(X509_OBJECT)
struct StoreObject;   // X509_OBJECT
struct Name;          // X509_NAME
struct LookupMethod;  // X509_LOOKUP_METHOD
struct Lookup;        // X509_LOOKUP

// Constants with their OpenSSL 1.0 values.
inline constexpr long kOpNoSslV2 = 0x01000000L;
inline constexpr long kOpNoSslV3 = 0x02000000L;
inline constexpr long kOpNoTlsV1 = 0x04000000L;
inline constexpr long kOpNoTlsV11 = 0x10000000L;
inline constexpr long kModeAutoRetry = 0x00000004L;
inline constexpr int kCtrlOptions = 32;            // SSL_CTRL_OPTIONS
inline constexpr int kCtrlMode = 33;               // SSL_CTRL_MODE
inline constexpr int kCtrlSetTlsextHostname = 55;  // SSL_CTRL_SET_TLSEXT_HOSTNAME
// Control calls and protocol versions of OpenSSL 1.1 and later (the 1.0 line has neither).
inline constexpr int kCtrlSetMinProtoVersion = 123;  // SSL_CTRL_SET_MIN_PROTO_VERSION
inline constexpr int kCtrlSetMaxProtoVersion = 124;  // SSL_CTRL_SET_MAX_PROTO_VERSION
inline constexpr long kTls12Version = 0x0303;        // TLS1_2_VERSION
inline constexpr long kTls13Version = 0x0304;        // TLS1_3_VERSION
inline constexpr long kTlsextNametypeHostName = 0;   // TLSEXT_NAMETYPE_host_name
inline constexpr int kVerifyPeer = 0x01;             // SSL_VERIFY_PEER
inline constexpr int kVerifyCertRejected = 28;       // X509_V_ERR_CERT_REJECTED
inline constexpr unsigned kCheckFlagNoPartialWildcards = 0x4;
inline constexpr int kCryptoLock = 1;         // CRYPTO_LOCK
inline constexpr int kLookupCertificate = 1;  // X509_LU_X509

// SSL_get_error results.
inline constexpr int kErrorNone = 0;
inline constexpr int kErrorSsl = 1;
inline constexpr int kErrorWantRead = 2;
inline constexpr int kErrorWantWrite = 3;
inline constexpr int kErrorSyscall = 5;
inline constexpr int kErrorZeroReturn = 6;

// ERR_error_string_n writes at most this many bytes, the terminating zero included.
inline constexpr std::size_t kErrorTextBuffer = 160;

// The functions that every OpenSSL line the library runs on exports under the same name and with
// the shape the table gives them: one row each, the table's slot, the exported name, the return
// type and the parameter types. The Windows loader binds them by name, the Linux build to the
// linked functions; the slots whose function differs between the lines follow in Api itself.
// Each may be missing from an older library (nullptr) unless the loader requires it.
#define TESSORA_OPENSSL_FUNCTIONS(X)                                                             \
  X(ctxFree, SSL_CTX_free, void, (Context*))                                                     \
  /* OpenSSL's compiled-in trust folders, and SSL_CERT_FILE / SSL_CERT_DIR: used where the */    \
  /* platform allows it (Linux), never on Windows. */                                            \
  X(ctxSetDefaultVerifyPaths, SSL_CTX_set_default_verify_paths, int, (Context*))                 \
  /* Trusted certificates from a PEM file or a hashed folder (either may be null). */            \
  X(ctxLoadVerifyLocations, SSL_CTX_load_verify_locations, int,                                  \
    (Context*, const char* file, const char* folder))                                            \
  /* The default verify paths' file and folder, for reports. */                                  \
  X(defaultCertFile, X509_get_default_cert_file, const char*, ())                                \
  X(defaultCertDir, X509_get_default_cert_dir, const char*, ())                                  \
  X(ctxSetCipherList, SSL_CTX_set_cipher_list, int, (Context*, const char*))                     \
  X(ctxGetCertStore, SSL_CTX_get_cert_store, CertStore*, (const Context*))                       \
  X(sslNew, SSL_new, Connection*, (Context*))                                                    \
  X(free, SSL_free, void, (Connection*))                                                         \
  X(setExData, SSL_set_ex_data, int, (Connection*, int index, void* data))                       \
  X(connect, SSL_connect, int, (Connection*))                                                    \
  X(read, SSL_read, int, (Connection*, void* buffer, int size))                                  \
  X(write, SSL_write, int, (Connection*, const void* data, int size))                            \
  X(pending, SSL_pending, int, (const Connection*))                                              \
  X(getError, SSL_get_error, int, (const Connection*, int result))                               \
  X(shutdown, SSL_shutdown, int, (Connection*))                                                  \
  /* The certificate check's verdict and its text (none in failure reasons without them). */     \
  X(getVerifyResult, SSL_get_verify_result, long, (const Connection*))                           \
  X(verifyCertErrorString, X509_verify_cert_error_string, const char*, (long verdict))           \
  /* The server's certificates as the latest handshake received them, the server's own first; */ \
  /* there also after the check refused them (for diagnosis). Owned by the connection. */        \
  X(getPeerCertChain, SSL_get_peer_cert_chain, CertChain*, (const Connection*))                  \
  /* What the verification callback may ask about the certificate being checked. */              \
  X(storeCurrentCert, X509_STORE_CTX_get_current_cert, Certificate*, (StoreContext*))            \
  X(storeErrorDepth, X509_STORE_CTX_get_error_depth, int, (StoreContext*))                       \
  /* The verdict the callback gives a certificate it refuses. */                                 \
  X(storeSetError, X509_STORE_CTX_set_error, void, (StoreContext*, int error))                   \
  /* The certificate's DER encoding: the length, and the bytes written to *out when it is not */ \
  /* null (advancing it). */                                                                     \
  X(i2dX509, i2d_X509, int, (Certificate*, unsigned char** out))                                 \
  /* Session resumption (without it every handshake is a full one): the connection's session */  \
  /* with a reference of its own, a session offered on the next handshake, and its release. */   \
  X(getSession, SSL_get1_session, Session*, (Connection*))                                       \
  X(setSession, SSL_set_session, int, (Connection*, Session*))                                   \
  X(sessionFree, SSL_SESSION_free, void, (Session*))                                             \
  X(errGetError, ERR_get_error, unsigned long, ())                                               \
  X(errErrorStringN, ERR_error_string_n, void,                                                   \
    (unsigned long error, char* buffer, std::size_t size))                                       \
  X(errClearError, ERR_clear_error, void, ())                                                    \
  X(d2iX509, d2i_X509, Certificate*, (Certificate**, const unsigned char**, long))               \
  X(x509StoreAddCert, X509_STORE_add_cert, int, (CertStore*, Certificate*))                      \
  X(x509Free, X509_free, void, (Certificate*))                                                   \
  /* The host-name check of the server's certificate. */                                         \
  X(get0Param, SSL_get0_param, VerifyParam*, (Connection*))                                      \
  X(paramSet1Host, X509_VERIFY_PARAM_set1_host, int,                                             \
    (VerifyParam*, const char* name, std::size_t length))                                        \
  X(paramSetHostflags, X509_VERIFY_PARAM_set_hostflags, void, (VerifyParam*, unsigned flags))    \
  X(paramSet1IpAsc, X509_VERIFY_PARAM_set1_ip_asc, int, (VerifyParam*, const char* address))

struct Api {
#define TESSORA_OPENSSL_SLOT(slot, name, result, parameters) result(*slot) parameters = nullptr;
  TESSORA_OPENSSL_FUNCTIONS(TESSORA_OPENSSL_SLOT)
#undef TESSORA_OPENSSL_SLOT

  // The slots below differ between the lines (a macro in one, a function of another name or
  // shape in the other).

  // Protocol methods; nullptr where the library lacks them.
  const Method* (*tls12ClientMethod)() = nullptr;
  const Method* (*tls1ClientMethod)() = nullptr;
  // Whether the library has all three methods (plain, client, server) of these versions.
  bool hasSslV2Methods = false;
  bool hasSslV3Methods = false;
  bool hasTls11Methods = false;

  // With OpenSSL 3 the context comes pinned to TLS 1.2 (minimum and maximum protocol version):
  // its one method serves every version.
  Context* (*ctxNew)(const Method*) = nullptr;
  long (*ctxSetOptions)(Context*, long) = nullptr;
  long (*ctxSetMode)(Context*, long) = nullptr;
  // A verification callback: sees each certificate of the chain with the check's verdict so far
  // (1 good) and returns its own.
  using VerifyCallback = int (*)(int preverifyOk, StoreContext* store);
  void (*ctxSetVerify)(Context*, int mode, VerifyCallback callback) = nullptr;
  // Binds the connection to the socket (SSL_set_fd). The handle is pointer-wide, as a SOCKET is on
  // 64-bit Windows; OpenSSL 3 and the linked library keep it whole in the library's socket BIO.
  int (*setFd)(Connection*, platform::SocketHandle socket) = nullptr;
  long (*setTlsextHostName)(Connection*, const char* name) = nullptr;
  // The highest protocol version of one connection (SSL_set_max_proto_version; 1 on success).
  // nullptr in the 1.0 line, which knows no TLS 1.3.
  long (*setMaxProtoVersion)(Connection*, long version) = nullptr;
  // The library's version text, "OpenSSL 3.0.13 30 Jan 2024" (OpenSSL_version / SSLeay_version).
  const char* (*versionText)() = nullptr;
  // The stacks of certificates (STACK_OF(X509)): sk_num / sk_value, OPENSSL_sk_* in OpenSSL 3.
  int (*chainCount)(const CertChain*) = nullptr;
  Certificate* (*chainValue)(const CertChain*, int index) = nullptr;
  // The connection's own verification mode and callback (SSL_set_verify); the 1.0 line frees a
  // refused chain before the handshake returns, so the callback is the only place to see it.
  void (*setVerify)(Connection*, int mode, VerifyCallback callback) = nullptr;
  // The trust store's contents (X509_STORE_get0_objects; X509_OBJECT_get0_X509, nullptr for what
  // is not a certificate) and X509_check_purpose. The shared context has each trusted
  // certificate's extensions decoded once, while it is still the only user: OpenSSL decodes them
  // on the first check and caches them in the certificate, and calls on several threads would
  // otherwise race to do so. Missing from OpenSSL 1.0.
  StoreObjects* (*storeObjects)(CertStore*) = nullptr;
  int (*objectsCount)(const StoreObjects*) = nullptr;
  StoreObject* (*objectsValue)(const StoreObjects*, int index) = nullptr;
  Certificate* (*objectCertificate)(const StoreObject*) = nullptr;
  int (*checkPurpose)(Certificate*, int purpose, int ca) = nullptr;
  // A lookup method of the trust store: OpenSSL calls getBySubject for an issuer the store lacks
  // (X509_LOOKUP_meth_new, X509_LOOKUP_meth_set_get_by_subject, X509_LOOKUP_meth_free,
  // X509_STORE_add_lookup), with the name to DER-encode (i2d_X509_NAME) and the object to fill
  // (X509_OBJECT_set1_X509). Missing from OpenSSL 1.0.
  using GetBySubject = int (*)(Lookup*, int type, const Name* name, StoreObject* result);
  LookupMethod* (*lookupMethodNew)(const char* name) = nullptr;
  int (*lookupMethodSetGetBySubject)(LookupMethod*, GetBySubject) = nullptr;
  void (*lookupMethodFree)(LookupMethod*) = nullptr;
  Lookup* (*storeAddLookup)(CertStore*, LookupMethod*) = nullptr;
  int (*i2dName)(const Name*, unsigned char** out) = nullptr;
  int (*objectSet1Certificate)(StoreObject*, Certificate*) = nullptr;
};

// The TLS library, loaded and initialised the first time any thread asks (once per process, under
// a lock); nullptr when it cannot be loaded, lacks a required function or fails to initialise. A
// failed attempt is made again by the next call, so libraries that appear later are picked up.
const Api* LoadOpenSsl();

// Releases the TLS library's global state and unloads it; the next LoadOpenSsl starts afresh.
// Called when the library itself is unloaded, never at the end of the process (other threads may
// still be inside a call then). Where the TLS library is linked (Linux) it stays loaded and
// initialised; only what this library made with it goes.
void UnloadOpenSsl();

// Registers the function that UnloadOpenSsl calls first, while the TLS library can still be used,
// to free what the rest of the library made with it and keeps (the shared client context and its
// sessions); a later registration replaces it.
void SetReleaseBeforeUnload(void (*release)());

// How many times the TLS library has been initialised in this process (for tests).
int OpenSslInitialisations();

// Windows loader: the folder searched first for the OpenSSL 3 pair (names.h) instead of
// the folder of the module holding the loader; nullptr restores that. For tests, and for a program
// that links this code and wants the OpenSSL the library would load (tessora doctor: the folder
// of TessoraNet.dll).
void SetOwnFolder(const std::u16string* folder);

}  // namespace tessora::openssl
