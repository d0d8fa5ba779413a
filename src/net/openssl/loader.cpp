// The run-time loader of OpenSSL (Windows). The first complete pair of libraries wins, in this
// order:
//   1. "libcrypto-3.dll" + "libssl-3.dll" (64-bit: "libcrypto-3-x64.dll" + "libssl-3-x64.dll") in
//      the folder of the library itself (deployed with it);
//   2. the OpenSSL 1.0 libraries by the standard search: "libeay32.dll", then "ssleay32.dll" or
//      "libssl32.dll" (the same names in 64-bit builds);
//   3. the OpenSSL 3 pair of 1. by the standard search.
// Every function is looked up by name and a pair lacking a required one is refused (for the 1.0
// names those of the 1.1 line and later among them). The winner is initialised once per process
// under a lock and fills the one function table the channel uses.
#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/openssl/binding.h"
#include "net/openssl/names.h"
#include "net/receive_deadline.h"
#include "platform/dynlib.h"
#include "platform/socket.h"

namespace tessora::openssl {

namespace {

using LockingCallback = void (*)(int mode, int lock, const char* file, int line);

// OpenSSL 3's own opaque types, used by the socket BIO only.
struct Bio;        // BIO
struct BioMethod;  // BIO_METHOD

enum class Profile { kNone, kOpenSsl10, kOpenSsl3 };

// The OpenSSL 3 functions the binding's own wrappers call, bound once when the pair is chosen
// (the socket BIO runs for every read and write).
struct OpenSsl3Calls {
  Context* (*ctxNew)(const Method*) = nullptr;
  void (*ctxFree)(Context*) = nullptr;
  long (*ctxCtrl)(Context*, int, long, void*) = nullptr;
  std::uint64_t (*ctxSetOptions)(Context*, std::uint64_t) = nullptr;
  void (*setBio)(Connection*, Bio*, Bio*) = nullptr;
  Bio* (*bioNew)(const BioMethod*) = nullptr;
  void (*bioSetData)(Bio*, void*) = nullptr;
  void* (*bioGetData)(Bio*) = nullptr;
  void (*bioSetInit)(Bio*, int) = nullptr;
  void (*bioClearFlags)(Bio*, int) = nullptr;
};

struct Loader {
  std::mutex loadLock;
  std::atomic<bool> loaded{false};
  Profile profile = Profile::kNone;  // the pair chosen: the first complete one
  // The OpenSSL 1.0 libraries. Kept once loaded, even when refused: the next attempt looks at
  // them again instead of loading them again.
  platform::LibraryHandle crypto = nullptr;
  platform::LibraryHandle ssl = nullptr;
  bool requiredFound = false;  // the last lookup of the 1.0 libraries found every required function
  // The OpenSSL 3 libraries, only when chosen: a refused pair is unloaded at once, so that a later
  // load by name cannot get the same modules back.
  platform::LibraryHandle crypto3 = nullptr;
  platform::LibraryHandle ssl3 = nullptr;
  std::map<std::string, void*> functions;  // of the last pair looked at
  std::unique_ptr<std::mutex[]> locks;
  int lockCount = 0;
  OpenSsl3Calls calls3;
  BioMethod* socketBio = nullptr;  // OpenSSL 3
  std::u16string ownFolderOverride;
  bool ownFolderOverridden = false;
  std::atomic<int> initialisations{0};
  Api table;
  std::atomic<void (*)()> releaseBeforeUnload{nullptr};
};

Loader& State() {
  static Loader loader;
  return loader;
}

void* Function(const char* name) {
  const auto& functions = State().functions;
  auto found = functions.find(name);
  return found == functions.end() ? nullptr : found->second;
}

template <class T>
void Bind(T& slot, const char* name) {
  slot = reinterpret_cast<T>(Function(name));
}

template <class T>
T Call(const char* name) {
  return reinterpret_cast<T>(Function(name));
}

// The macros of the 1.0 interface, as the control calls they stand for.
long CtxSetOptions(Context* ctx, long options) {
  return Call<long (*)(Context*, int, long, void*)>("SSL_CTX_ctrl")(ctx, kCtrlOptions, options,
                                                                    nullptr);
}

long CtxSetMode(Context* ctx, long mode) {
  return Call<long (*)(Context*, int, long, void*)>("SSL_CTX_ctrl")(ctx, kCtrlMode, mode, nullptr);
}

long SetTlsextHostName(Connection* ssl, const char* name) {
  return Call<long (*)(Connection*, int, long, void*)>("SSL_ctrl")(
      ssl, kCtrlSetTlsextHostname, kTlsextNametypeHostName, const_cast<char*>(name));
}

// OpenSSL 3: SSL_set_max_proto_version, the control call it stands for.
long SetMaxProtoVersion(Connection* ssl, long version) {
  return Call<long (*)(Connection*, int, long, void*)>("SSL_ctrl")(ssl, kCtrlSetMaxProtoVersion,
                                                                   version, nullptr);
}

// The version texts (OPENSSL_VERSION and SSLEAY_VERSION are both 0).
const char* VersionText3() {
  return Call<const char* (*)(int)>("OpenSSL_version")(0);
}
const char* VersionText10() {
  return Call<const char* (*)(int)>("SSLeay_version")(0);
}

// OpenSSL 3: the context of either method, pinned to TLS 1.2 (SSL_CTX_set_min_proto_version and
// SSL_CTX_set_max_proto_version, control calls 123 and 124).
Context* CtxNewTls12(const Method* method) {
  const OpenSsl3Calls& f = State().calls3;
  Context* ctx = f.ctxNew(method);
  if (ctx == nullptr) return nullptr;
  if (f.ctxCtrl(ctx, kCtrlSetMinProtoVersion, kTls12Version, nullptr) != 1 ||
      f.ctxCtrl(ctx, kCtrlSetMaxProtoVersion, kTls12Version, nullptr) != 1) {
    f.ctxFree(ctx);
    return nullptr;
  }
  return ctx;
}

// OpenSSL 3: the options are 64 bits wide and set by a function of their own.
long CtxSetOptions64(Context* ctx, long options) {
  const std::uint64_t result = State().calls3.ctxSetOptions(
      ctx, static_cast<std::uint64_t>(static_cast<unsigned long>(options)));
  return static_cast<long>(static_cast<unsigned long>(result));
}

// OpenSSL 3: bytes reach the socket through a small BIO of ours instead of OpenSSL's socket BIO,
// so that a connection fails as it does with the 1.0 libraries:
//   - the end of the stream is a read result of 0 (SSL_ERROR_SYSCALL), not the 3.x "unexpected
//     eof while reading" error;
//   - a receive or send that runs into the socket time-out fails outright with socket error 10060
//     instead of asking to be retried.
constexpr int kBioTypeSourceSink = 0x0400;                        // BIO_TYPE_SOURCE_SINK
constexpr int kBioCtrlFlush = 11;                                 // BIO_CTRL_FLUSH
constexpr int kBioFlagsRetryAndWhat = 0x01 | 0x02 | 0x04 | 0x08;  // BIO_clear_retry_flags

platform::SocketHandle BioSocket(Bio* bio) {
  return static_cast<platform::SocketHandle>(
      reinterpret_cast<std::intptr_t>(State().calls3.bioGetData(bio)));
}
int BioWrite(Bio* bio, const char* data, int size) {
  State().calls3.bioClearFlags(bio, kBioFlagsRetryAndWhat);
  return platform::SocketSend(BioSocket(bio), data, size);
}
int BioRead(Bio* bio, char* buffer, int size) {
  State().calls3.bioClearFlags(bio, kBioFlagsRetryAndWhat);
  if (!WaitToReceive(BioSocket(bio))) return -1;  // a handshake's deadline passed
  return platform::SocketReceive(BioSocket(bio), buffer, size);
}
long BioCtrl(Bio*, int command, long, void*) {
  // BIO_CTRL_EOF stays 0 on purpose: a read of 0 then ends the stream as it does in the 1.0 line.
  return command == kBioCtrlFlush ? 1 : 0;
}
int BioCreate(Bio* bio) {
  State().calls3.bioSetInit(bio, 1);
  return 1;
}

BioMethod* NewSocketBioMethod() {
  const int index = Call<int (*)()>("BIO_get_new_index")();
  if (index == -1) return nullptr;
  BioMethod* method = Call<BioMethod* (*)(int, const char*)>("BIO_meth_new")(
      index | kBioTypeSourceSink, "tessora socket");
  if (method == nullptr) return nullptr;
  Call<int (*)(BioMethod*, int (*)(Bio*, const char*, int))>("BIO_meth_set_write")(method,
                                                                                   &BioWrite);
  Call<int (*)(BioMethod*, int (*)(Bio*, char*, int))>("BIO_meth_set_read")(method, &BioRead);
  Call<int (*)(BioMethod*, long (*)(Bio*, int, long, void*))>("BIO_meth_set_ctrl")(method,
                                                                                   &BioCtrl);
  Call<int (*)(BioMethod*, int (*)(Bio*))>("BIO_meth_set_create")(method, &BioCreate);
  return method;
}

// OpenSSL 3's SSL_set_fd, with our socket BIO, which keeps the whole handle.
int SetSocketBio(Connection* ssl, platform::SocketHandle socket) {
  const Loader& s = State();
  Bio* bio = s.calls3.bioNew(s.socketBio);
  if (bio == nullptr) return 0;
  s.calls3.bioSetData(bio, reinterpret_cast<void*>(socket));
  s.calls3.setBio(ssl, bio, bio);
  return 1;
}

// SSL_set_fd of the 1.0 line takes an int, and its socket BIO keeps an int. A SOCKET is
// pointer-wide on 64-bit Windows, but the system keeps handle values within 32 bits (so that 32-
// and 64-bit processes can share them); a handle beyond an int is refused, never cut short.
int SetFd10(Connection* ssl, platform::SocketHandle socket) {
  if (socket < 0 || socket > std::numeric_limits<int>::max()) return 0;
  return Call<int (*)(Connection*, int)>("SSL_set_fd")(ssl, static_cast<int>(socket));
}

void LockingCallbackFunction(int mode, int lock, const char*, int) {
  Loader& s = State();
  if (lock < 0 || lock >= s.lockCount) return;
  if (mode & kCryptoLock) {
    s.locks[lock].lock();
  } else {
    s.locks[lock].unlock();
  }
}

bool HasAll(const char* first, const char* second, const char* third) {
  return Function(first) != nullptr && Function(second) != nullptr && Function(third) != nullptr;
}

// Looks the 1.0 libraries' functions up; requiredFound tells whether the pair is complete.
void LookUpAll() {
  Loader& s = State();
  s.functions.clear();
  bool found = true;
  auto lookUp = [&](platform::LibraryHandle library, const char* name, bool required) {
    void* address = platform::LibraryFunction(library, name);
    if (address != nullptr) s.functions[name] = address;
    if (required && address == nullptr) found = false;
  };
  for (const char* name : kRequiredSslFunctions)
    lookUp(s.ssl, name, true);
  for (const char* name : kOptionalSslFunctions)
    lookUp(s.ssl, name, false);
  for (const char* name : kRequiredCryptoFunctions)
    lookUp(s.crypto, name, true);
  for (const char* name : kOptionalCryptoFunctions)
    lookUp(s.crypto, name, false);
  for (const char* name : kAddAllAlgorithms)
    lookUp(s.crypto, name, false);
  if (Function(kAddAllAlgorithms[0]) == nullptr && Function(kAddAllAlgorithms[1]) == nullptr) {
    found = false;
  }
  s.requiredFound = found;
}

// Looks the OpenSSL 3 functions up; whether the pair is complete and of the 3 line.
bool LookUpOpenSsl3(platform::LibraryHandle crypto, platform::LibraryHandle ssl) {
  Loader& s = State();
  s.functions.clear();
  bool found = true;
  auto lookUp = [&](platform::LibraryHandle library, const char* name) {
    void* address = platform::LibraryFunction(library, name);
    if (address != nullptr) {
      s.functions[name] = address;
    } else {
      found = false;
    }
  };
  for (const char* name : kOpenSsl3SslFunctions)
    lookUp(ssl, name);
  for (const char* name : kOpenSsl3CryptoFunctions)
    lookUp(crypto, name);
  auto lookUpOptional = [&](platform::LibraryHandle library, const char* name) {
    void* address = platform::LibraryFunction(library, name);
    if (address != nullptr) s.functions[name] = address;
  };
  for (const char* name : kOpenSsl3OptionalSslFunctions)
    lookUpOptional(ssl, name);
  for (const char* name : kOpenSsl3OptionalCryptoFunctions)
    lookUpOptional(crypto, name);
  constexpr unsigned long kRelease3 = 0x30000000UL;
  return found && Call<unsigned long (*)()>("OpenSSL_version_num")() >= kRelease3;
}

void FillTable() {
  Api& t = State().table;
  t = Api{};
#define TESSORA_OPENSSL_BIND(slot, name, result, parameters) Bind(t.slot, #name);
  TESSORA_OPENSSL_FUNCTIONS(TESSORA_OPENSSL_BIND)
#undef TESSORA_OPENSSL_BIND
  // Trust comes from the Windows ROOT store and the files the process names
  // (platform::ReadTrustSources), never from OpenSSL's compiled-in folders: on Windows those are
  // paths such as "/usr/local/ssl" on the current drive, which any local user may create. So the
  // default verify paths are not bound at all.
  t.ctxSetDefaultVerifyPaths = nullptr;
  t.defaultCertFile = nullptr;
  t.defaultCertDir = nullptr;

  if (State().profile == Profile::kOpenSsl3) {
    OpenSsl3Calls& f = State().calls3;
    Bind(f.ctxNew, "SSL_CTX_new");
    Bind(f.ctxFree, "SSL_CTX_free");
    Bind(f.ctxCtrl, "SSL_CTX_ctrl");
    Bind(f.ctxSetOptions, "SSL_CTX_set_options");
    Bind(f.setBio, "SSL_set_bio");
    Bind(f.bioNew, "BIO_new");
    Bind(f.bioSetData, "BIO_set_data");
    Bind(f.bioGetData, "BIO_get_data");
    Bind(f.bioSetInit, "BIO_set_init");
    Bind(f.bioClearFlags, "BIO_clear_flags");
    // One method for every version, pinned to TLS 1.2 when the context is made.
    Bind(t.tls12ClientMethod, "TLS_client_method");
    t.hasTls11Methods = true;
    t.ctxNew = &CtxNewTls12;
    t.ctxSetOptions = &CtxSetOptions64;
    t.setFd = &SetSocketBio;
    t.setMaxProtoVersion = &SetMaxProtoVersion;
    t.versionText = &VersionText3;
    Bind(t.chainCount, "OPENSSL_sk_num");
    Bind(t.chainValue, "OPENSSL_sk_value");
    Bind(t.storeObjects, "X509_STORE_get0_objects");
    Bind(t.objectsCount, "OPENSSL_sk_num");
    Bind(t.objectsValue, "OPENSSL_sk_value");
    Bind(t.objectCertificate, "X509_OBJECT_get0_X509");
    Bind(t.checkPurpose, "X509_check_purpose");
    Bind(t.lookupMethodNew, "X509_LOOKUP_meth_new");
    Bind(t.lookupMethodSetGetBySubject, "X509_LOOKUP_meth_set_get_by_subject");
    Bind(t.lookupMethodFree, "X509_LOOKUP_meth_free");
    Bind(t.storeAddLookup, "X509_STORE_add_lookup");
    Bind(t.i2dName, "i2d_X509_NAME");
    Bind(t.objectSet1Certificate, "X509_OBJECT_set1_X509");
  } else {
    Bind(t.tls12ClientMethod, "TLSv1_2_client_method");
    Bind(t.tls1ClientMethod, "TLSv1_client_method");
    t.hasSslV2Methods = HasAll("SSLv2_method", "SSLv2_server_method", "SSLv2_client_method");
    t.hasSslV3Methods = HasAll("SSLv3_method", "SSLv3_server_method", "SSLv3_client_method");
    t.hasTls11Methods = HasAll("TLSv1_1_method", "TLSv1_1_server_method", "TLSv1_1_client_method");
    Bind(t.ctxNew, "SSL_CTX_new");
    t.ctxSetOptions = &CtxSetOptions;
    t.setFd = &SetFd10;
    t.versionText = &VersionText10;
    Bind(t.chainCount, "sk_num");
    Bind(t.chainValue, "sk_value");
  }
  t.ctxSetMode = &CtxSetMode;
  Bind(t.ctxSetVerify, "SSL_CTX_set_verify");
  t.setTlsextHostName = &SetTlsextHostName;
  Bind(t.setVerify, "SSL_set_verify");
}

bool InitialiseOpenSsl10() {
  Loader& s = State();
  Call<void (*)()>("OpenSSL_add_all_ciphers")();
  Call<void (*)()>("OpenSSL_add_all_digests")();
  Call<void (*)()>("RAND_screen")();
  Call<void (*)()>("SSL_load_error_strings")();
  if (Call<int (*)()>("SSL_library_init")() <= 0) return false;
  const int count = Call<int (*)()>("CRYPTO_num_locks")();
  s.lockCount = count > 0 ? count : 0;
  s.locks = std::make_unique<std::mutex[]>(static_cast<std::size_t>(s.lockCount));
  // No thread-identity callback: the library's default (the address of errno) tells threads apart.
  Call<void (*)(LockingCallback)>("CRYPTO_set_locking_callback")(&LockingCallbackFunction);
  return true;
}

// OpenSSL 3 is thread-safe by itself: no locks, no callbacks.
//
// No configuration file is read: OPENSSL_init_ssl would otherwise load "openssl.cnf" from the
// folder compiled into the DLLs (or the one OPENSSL_CONF names), and such a file can load provider
// and engine DLLs into the host process. OpenSSL 3 settles the configuration once per process, so
// asking for none here also keeps any later initialisation from reading it. (The 1.0 line reads a
// configuration file only when told to, which this loader never does.)
bool InitialiseOpenSsl3() {
  Loader& s = State();
  constexpr std::uint64_t kInitLoadCryptoStrings = 0x00000002;  // OPENSSL_INIT_LOAD_CRYPTO_STRINGS
  constexpr std::uint64_t kInitNoLoadConfig = 0x00000080;       // OPENSSL_INIT_NO_LOAD_CONFIG
  constexpr std::uint64_t kInitLoadSslStrings = 0x00200000;     // OPENSSL_INIT_LOAD_SSL_STRINGS
  if (Call<int (*)(std::uint64_t, const void*)>("OPENSSL_init_ssl")(
          kInitLoadCryptoStrings | kInitNoLoadConfig | kInitLoadSslStrings, nullptr) <= 0) {
    return false;
  }
  if (s.socketBio == nullptr) s.socketBio = NewSocketBioMethod();
  return s.socketBio != nullptr;
}

// The 1.0 libraries by the standard search, as they always were looked for.
bool ChooseOpenSsl10() {
  Loader& s = State();
  if (s.crypto == nullptr) s.crypto = platform::LoadSharedLibrary(u"libeay32.dll");
  if (s.crypto == nullptr) return false;
  if (s.ssl == nullptr) s.ssl = platform::LoadSharedLibrary(u"ssleay32.dll");
  if (s.ssl == nullptr) s.ssl = platform::LoadSharedLibrary(u"libssl32.dll");
  if (s.ssl == nullptr) return false;
  LookUpAll();
  if (!s.requiredFound) return false;
  s.profile = Profile::kOpenSsl10;
  return true;
}

// The OpenSSL 3 libraries in `folder`, or by the standard search when it is empty. The
// cryptography library first: the TLS library's import of it then finds it loaded.
bool ChooseOpenSsl3(const std::u16string& folder) {
  Loader& s = State();
  const std::u16string prefix = folder.empty() ? folder : folder + u"\\";
  platform::LibraryHandle crypto = platform::LoadSharedLibrary(prefix + kOpenSsl3CryptoLibrary);
  if (crypto == nullptr) return false;
  platform::LibraryHandle ssl = platform::LoadSharedLibrary(prefix + kOpenSsl3SslLibrary);
  if (ssl != nullptr && LookUpOpenSsl3(crypto, ssl)) {
    s.crypto3 = crypto;
    s.ssl3 = ssl;
    s.profile = Profile::kOpenSsl3;
    return true;
  }
  s.functions.clear();
  platform::UnloadSharedLibrary(ssl);
  platform::UnloadSharedLibrary(crypto);
  return false;
}

std::u16string OwnFolder() {
  const Loader& s = State();
  return s.ownFolderOverridden ? s.ownFolderOverride : platform::ModuleDirectory();
}

// The first complete pair, in the order of the file comment.
bool ChooseLibraries() {
  const std::u16string ownFolder = OwnFolder();
  if (!ownFolder.empty() && ChooseOpenSsl3(ownFolder)) return true;
  if (ChooseOpenSsl10()) return true;
  return ChooseOpenSsl3(u"");
}

bool Attempt() {
  Loader& s = State();
  if (s.profile == Profile::kNone && !ChooseLibraries()) return false;
  // A chosen pair stays chosen; when its initialisation fails, the next attempt repeats that.
  if (!(s.profile == Profile::kOpenSsl3 ? InitialiseOpenSsl3() : InitialiseOpenSsl10())) {
    return false;
  }
  FillTable();
  return true;
}

// Removes the locking callback and releases the 1.0 libraries' global state.
void UnloadOpenSsl10State() {
  Loader& s = State();
  if (auto setLocking = Call<void (*)(LockingCallback)>("CRYPTO_set_locking_callback")) {
    setLocking(nullptr);
  }
  if (s.loaded) {
    constexpr unsigned long kRelease098a = 0x0090801fUL;
    auto version = Call<unsigned long (*)()>("SSLeay");
    auto compressionMethods = Call<void* (*)()>("SSL_COMP_get_compression_methods");
    auto popFree = Call<void (*)(void*, void (*)(void*))>("sk_pop_free");
    auto cryptoFree = Call<void (*)(void*)>("CRYPTO_free");
    if (version != nullptr && version() == kRelease098a && compressionMethods != nullptr &&
        popFree != nullptr && cryptoFree != nullptr) {
      popFree(compressionMethods(), cryptoFree);
    }
    if (auto cleanupExData = Call<void (*)()>("CRYPTO_cleanup_all_ex_data")) cleanupExData();
    if (auto freeStrings = Call<void (*)()>("ERR_free_strings")) freeStrings();
    if (auto removeThreadState = Call<void (*)(const void*)>("ERR_remove_thread_state")) {
      removeThreadState(nullptr);
    } else if (auto removeState = Call<void (*)(unsigned long)>("ERR_remove_state")) {
      removeState(0);
    }
    if (auto evpCleanup = Call<void (*)()>("EVP_cleanup")) evpCleanup();
  }
}

}  // namespace

const Api* LoadOpenSsl() {
  Loader& s = State();
  if (s.loaded.load(std::memory_order_acquire)) return &s.table;
  std::lock_guard<std::mutex> guard(s.loadLock);
  if (s.loaded.load(std::memory_order_relaxed)) return &s.table;
  if (!Attempt()) return nullptr;
  ++s.initialisations;
  s.loaded.store(true, std::memory_order_release);
  return &s.table;
}

void UnloadOpenSsl() {
  // At process exit the libraries have already shut down; the system reclaims everything.
  if (platform::ProcessIsExiting()) return;
  Loader& s = State();
  // Outside the loading lock: the release takes the locks of its owner, which may load.
  if (auto release = s.releaseBeforeUnload.load()) {
    if (s.loaded) release();
  }
  std::lock_guard<std::mutex> guard(s.loadLock);
  if (s.profile == Profile::kOpenSsl3) {
    // OpenSSL 3 keeps itself in memory once initialised (it pins its modules) and releases its
    // global state at process exit; cleaning it up here would keep it from being initialised
    // again. Only what is ours goes.
    if (s.socketBio != nullptr) Call<void (*)(BioMethod*)>("BIO_meth_free")(s.socketBio);
  } else {
    UnloadOpenSsl10State();
  }
  platform::UnloadSharedLibrary(s.ssl3);
  platform::UnloadSharedLibrary(s.crypto3);
  platform::UnloadSharedLibrary(s.ssl);
  platform::UnloadSharedLibrary(s.crypto);
  s.ssl3 = nullptr;
  s.crypto3 = nullptr;
  s.socketBio = nullptr;
  s.calls3 = OpenSsl3Calls{};
  s.ssl = nullptr;
  s.crypto = nullptr;
  s.requiredFound = false;
  s.profile = Profile::kNone;
  s.functions.clear();
  s.table = Api{};
  s.locks.reset();
  s.lockCount = 0;
  s.loaded = false;
}

void SetOwnFolder(const std::u16string* folder) {
  Loader& s = State();
  std::lock_guard<std::mutex> guard(s.loadLock);
  s.ownFolderOverridden = folder != nullptr;
  s.ownFolderOverride = folder != nullptr ? *folder : std::u16string();
}

void SetReleaseBeforeUnload(void (*release)()) {
  State().releaseBeforeUnload = release;
}

int OpenSslInitialisations() {
  return State().initialisations;
}

}  // namespace tessora::openssl
