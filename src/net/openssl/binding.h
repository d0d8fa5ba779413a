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

// Constants with their OpenSSL 1.0 values.
inline constexpr long kOpNoSslV2 = 0x01000000L;
inline constexpr long kOpNoSslV3 = 0x02000000L;
inline constexpr long kOpNoTlsV1 = 0x04000000L;
inline constexpr long kOpNoTlsV11 = 0x10000000L;
inline constexpr long kModeAutoRetry = 0x00000004L;
inline constexpr int kCtrlOptions = 32;             // SSL_CTRL_OPTIONS
inline constexpr int kCtrlMode = 33;                // SSL_CTRL_MODE
inline constexpr int kCtrlGetSessionReused = 8;     // SSL_CTRL_GET_SESSION_REUSED
inline constexpr int kCtrlSetTlsextHostname = 55;   // SSL_CTRL_SET_TLSEXT_HOSTNAME
inline constexpr long kTlsextNametypeHostName = 0;  // TLSEXT_NAMETYPE_host_name
inline constexpr int kVerifyPeer = 0x01;            // SSL_VERIFY_PEER
inline constexpr unsigned kCheckFlagNoPartialWildcards = 0x4;
inline constexpr int kFileTypePem = 1;  // SSL_FILETYPE_PEM
inline constexpr int kCryptoLock = 1;   // CRYPTO_LOCK

// SSL_get_error results.
inline constexpr int kErrorNone = 0;
inline constexpr int kErrorSsl = 1;
inline constexpr int kErrorWantRead = 2;
inline constexpr int kErrorWantWrite = 3;
inline constexpr int kErrorSyscall = 5;
inline constexpr int kErrorZeroReturn = 6;

// ERR_error_string_n writes at most this many bytes, the terminating zero included.
inline constexpr std::size_t kErrorTextBuffer = 160;

struct Api {
  // Protocol methods; nullptr where the library lacks them.
  const Method* (*tls12ClientMethod)() = nullptr;
  const Method* (*tls1ClientMethod)() = nullptr;
  const Method* (*tls12ServerMethod)() = nullptr;  // for test servers
  // Whether the library has all three methods (plain, client, server) of these versions.
  bool hasSslV2Methods = false;
  bool hasSslV3Methods = false;
  bool hasTls11Methods = false;

  // With OpenSSL 3 the context comes pinned to TLS 1.2 (minimum and maximum protocol version):
  // its one method serves every version.
  Context* (*ctxNew)(const Method*) = nullptr;
  void (*ctxFree)(Context*) = nullptr;
  long (*ctxSetOptions)(Context*, long) = nullptr;
  long (*ctxSetMode)(Context*, long) = nullptr;
  // OpenSSL's compiled-in trust folders (and SSL_CERT_FILE / SSL_CERT_DIR); used where the
  // platform allows it (Linux), never on Windows. May be missing.
  int (*ctxSetDefaultVerifyPaths)(Context*) = nullptr;
  // Trusted certificates from a PEM file or a hashed folder (either may be null).
  int (*ctxLoadVerifyLocations)(Context*, const char* file, const char* folder) = nullptr;
  // The default verify paths' file and folder, for reports; may be missing.
  const char* (*defaultCertFile)() = nullptr;
  const char* (*defaultCertDir)() = nullptr;
  int (*ctxSetCipherList)(Context*, const char*) = nullptr;
  void (*ctxSetVerify)(Context*, int mode, void* callback) = nullptr;
  CertStore* (*ctxGetCertStore)(const Context*) = nullptr;
  // For test servers.
  int (*ctxUseCertificateChainFile)(Context*, const char*) = nullptr;
  int (*ctxUsePrivateKeyFile)(Context*, const char*, int type) = nullptr;

  Connection* (*sslNew)(Context*) = nullptr;
  void (*free)(Connection*) = nullptr;
  int (*setExData)(Connection*, int index, void* data) = nullptr;
  // Binds the connection to the socket (SSL_set_fd). The handle is pointer-wide, as a SOCKET is on
  // 64-bit Windows; OpenSSL 3 and the linked library keep it whole in the library's socket BIO.
  int (*setFd)(Connection*, platform::SocketHandle socket) = nullptr;
  long (*setTlsextHostName)(Connection*, const char* name) = nullptr;
  int (*connect)(Connection*) = nullptr;
  int (*accept)(Connection*) = nullptr;
  int (*read)(Connection*, void* buffer, int size) = nullptr;
  int (*write)(Connection*, const void* data, int size) = nullptr;
  int (*pending)(const Connection*) = nullptr;  // may be missing
  int (*getError)(const Connection*, int result) = nullptr;
  int (*shutdown)(Connection*) = nullptr;
  // The server name the client sent (test servers); may be missing.
  const char* (*getServername)(const Connection*, int type) = nullptr;
  // The certificate check's verdict and its text; may be missing (no verdict in failure reasons).
  long (*getVerifyResult)(const Connection*) = nullptr;
  const char* (*verifyCertErrorString)(long verdict) = nullptr;

  // The server's certificates as the latest handshake received them, the server's own first; there
  // also after the check refused them (for diagnosis). Owned by the connection. May be missing.
  CertChain* (*getPeerCertChain)(const Connection*) = nullptr;
  int (*chainCount)(const CertChain*) = nullptr;
  Certificate* (*chainValue)(const CertChain*, int index) = nullptr;
  // The connection's own verification mode and callback (SSL_set_verify), and what the callback
  // may ask about the certificate being checked; may be missing. The 1.0 line frees a refused
  // chain before the handshake returns, so the callback is the only place to see it.
  using VerifyCallback = int (*)(int preverifyOk, StoreContext* store);
  void (*setVerify)(Connection*, int mode, VerifyCallback callback) = nullptr;
  Certificate* (*storeCurrentCert)(StoreContext*) = nullptr;
  int (*storeErrorDepth)(StoreContext*) = nullptr;
  // The certificate's DER encoding (i2d_X509): the length, and the bytes written to *out when it
  // is not null (advancing it). May be missing.
  int (*i2dX509)(Certificate*, unsigned char** out) = nullptr;

  // Session resumption; may be missing (then every handshake is a full one). getSession returns
  // the connection's session with a reference of its own (SSL_get1_session); setSession offers a
  // session on the next handshake; sessionReused tells whether the handshake resumed one.
  Session* (*getSession)(Connection*) = nullptr;
  int (*setSession)(Connection*, Session*) = nullptr;
  void (*sessionFree)(Session*) = nullptr;
  long (*sessionReused)(Connection*) = nullptr;

  unsigned long (*errGetError)() = nullptr;
  void (*errErrorStringN)(unsigned long error, char* buffer, std::size_t size) = nullptr;
  void (*errClearError)() = nullptr;

  // Server certificate checks; the host-name ones may be missing from older libraries.
  Certificate* (*d2iX509)(Certificate**, const unsigned char**, long) = nullptr;
  int (*x509StoreAddCert)(CertStore*, Certificate*) = nullptr;
  // The trust store's contents (X509_STORE_get0_objects; X509_OBJECT_get0_X509, nullptr for what
  // is not a certificate) and X509_check_purpose. The shared context has each trusted
  // certificate's extensions decoded once, while it is still the only user: OpenSSL decodes them
  // on the first check and caches them in the certificate, and calls on several threads would
  // otherwise race to do so. May be missing (OpenSSL 1.0).
  StoreObjects* (*storeObjects)(CertStore*) = nullptr;
  int (*objectsCount)(const StoreObjects*) = nullptr;
  StoreObject* (*objectsValue)(const StoreObjects*, int index) = nullptr;
  Certificate* (*objectCertificate)(const StoreObject*) = nullptr;
  int (*checkPurpose)(Certificate*, int purpose, int ca) = nullptr;
  void (*x509Free)(Certificate*) = nullptr;
  VerifyParam* (*get0Param)(Connection*) = nullptr;
  int (*paramSet1Host)(VerifyParam*, const char* name, std::size_t length) = nullptr;
  void (*paramSetHostflags)(VerifyParam*, unsigned flags) = nullptr;
  int (*paramSet1IpAsc)(VerifyParam*, const char* address) = nullptr;
};

// The TLS library, loaded and initialised the first time any thread asks (once per process, under
// a lock); nullptr when it cannot be loaded, lacks a required function or fails to initialise. A
// failed attempt is made again by the next call, so libraries that appear later are picked up.
const Api* LoadOpenSsl();

// Releases the TLS library's global state and unloads it; the next LoadOpenSsl starts afresh.
// Called when the library itself is unloaded.
void UnloadOpenSsl();

// Registers the function that UnloadOpenSsl calls first, while the TLS library can still be used,
// to free what the rest of the library made with it and keeps (the shared client context and its
// sessions); a later registration replaces it. Where the TLS library stays loaded (Linux),
// UnloadOpenSsl leaves that to the owner's static destructor, which runs before OpenSSL's own
// clean-up at exit.
void SetReleaseBeforeUnload(void (*release)());

// How many times the TLS library has been initialised in this process (for tests).
int OpenSslInitialisations();

// Windows loader: the folder searched first for the OpenSSL 3 pair (names.h) instead of
// the folder of the module holding the loader; nullptr restores that. For tests, and for a program
// that links this code and wants the OpenSSL the library would load (tessora doctor: the folder
// of TessoraNet.dll).
void SetOwnFolder(const std::u16string* folder);

}  // namespace tessora::openssl
