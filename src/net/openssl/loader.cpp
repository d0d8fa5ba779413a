// The run-time loader of the OpenSSL 1.0 libraries (Windows): "libeay32.dll", then "ssleay32.dll"
// or "libssl32.dll", every function looked up by name, libraries lacking a required function
// refused (those of the 1.1 line and later among them), initialised once per process under a lock.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/openssl/binding.h"
#include "net/openssl/names.h"
#include "platform/dynlib.h"

namespace tessora::openssl {

namespace {

using LockingCallback = void (*)(int mode, int n, const char* file, int line);

struct Loader {
  std::mutex loadLock;
  std::atomic<bool> loaded{false};
  platform::LibraryHandle crypto = nullptr;
  platform::LibraryHandle ssl = nullptr;
  bool requiredFound = false;  // the last lookup found every required function
  std::map<std::string, void*> functions;
  std::unique_ptr<std::mutex[]> locks;
  int lockCount = 0;
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

// SSL_session_reused: a function in later lines, a control call in the 1.0 line.
long SessionReused(Connection* ssl) {
  if (auto reused = Call<int (*)(Connection*)>("SSL_session_reused")) return reused(ssl);
  return Call<long (*)(Connection*, int, long, void*)>("SSL_ctrl")(ssl, kCtrlGetSessionReused, 0,
                                                                   nullptr);
}

void LockingCallbackFunction(int mode, int n, const char*, int) {
  Loader& s = State();
  if (n < 0 || n >= s.lockCount) return;
  if (mode & kCryptoLock) {
    s.locks[n].lock();
  } else {
    s.locks[n].unlock();
  }
}

bool HasAll(const char* a, const char* b, const char* c) {
  return Function(a) != nullptr && Function(b) != nullptr && Function(c) != nullptr;
}

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

void FillTable() {
  Api& t = State().table;
  t = Api{};
  Bind(t.tls12ClientMethod, "TLSv1_2_client_method");
  Bind(t.tls1ClientMethod, "TLSv1_client_method");
  Bind(t.tls12ServerMethod, "TLSv1_2_server_method");
  t.hasSslV2Methods = HasAll("SSLv2_method", "SSLv2_server_method", "SSLv2_client_method");
  t.hasSslV3Methods = HasAll("SSLv3_method", "SSLv3_server_method", "SSLv3_client_method");
  t.hasTls11Methods = HasAll("TLSv1_1_method", "TLSv1_1_server_method", "TLSv1_1_client_method");
  Bind(t.ctxNew, "SSL_CTX_new");
  Bind(t.ctxFree, "SSL_CTX_free");
  t.ctxSetOptions = &CtxSetOptions;
  t.ctxSetMode = &CtxSetMode;
  Bind(t.ctxSetDefaultVerifyPaths, "SSL_CTX_set_default_verify_paths");
  Bind(t.ctxSetCipherList, "SSL_CTX_set_cipher_list");
  Bind(t.ctxSetVerify, "SSL_CTX_set_verify");
  Bind(t.ctxGetCertStore, "SSL_CTX_get_cert_store");
  Bind(t.ctxUseCertificateChainFile, "SSL_CTX_use_certificate_chain_file");
  Bind(t.ctxUsePrivateKeyFile, "SSL_CTX_use_PrivateKey_file");
  Bind(t.sslNew, "SSL_new");
  Bind(t.free, "SSL_free");
  Bind(t.setExData, "SSL_set_ex_data");
  Bind(t.setFd, "SSL_set_fd");
  t.setTlsextHostName = &SetTlsextHostName;
  Bind(t.connect, "SSL_connect");
  Bind(t.accept, "SSL_accept");
  Bind(t.read, "SSL_read");
  Bind(t.write, "SSL_write");
  Bind(t.pending, "SSL_pending");
  Bind(t.getError, "SSL_get_error");
  Bind(t.shutdown, "SSL_shutdown");
  Bind(t.getServername, "SSL_get_servername");
  Bind(t.getVerifyResult, "SSL_get_verify_result");
  Bind(t.verifyCertErrorString, "X509_verify_cert_error_string");
  Bind(t.getSession, "SSL_get1_session");
  Bind(t.setSession, "SSL_set_session");
  Bind(t.sessionFree, "SSL_SESSION_free");
  t.sessionReused = &SessionReused;
  Bind(t.errGetError, "ERR_get_error");
  Bind(t.errErrorStringN, "ERR_error_string_n");
  Bind(t.errClearError, "ERR_clear_error");
  Bind(t.d2iX509, "d2i_X509");
  Bind(t.x509StoreAddCert, "X509_STORE_add_cert");
  Bind(t.x509Free, "X509_free");
  Bind(t.get0Param, "SSL_get0_param");
  Bind(t.paramSet1Host, "X509_VERIFY_PARAM_set1_host");
  Bind(t.paramSetHostflags, "X509_VERIFY_PARAM_set_hostflags");
  Bind(t.paramSet1IpAsc, "X509_VERIFY_PARAM_set1_ip_asc");
}

bool Initialise() {
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

bool Attempt() {
  Loader& s = State();
  if (!(s.crypto != nullptr && s.ssl != nullptr && s.requiredFound)) {
    if (s.crypto == nullptr) s.crypto = platform::LoadSharedLibrary(u"libeay32.dll");
    if (s.crypto == nullptr) return false;
    if (s.ssl == nullptr) s.ssl = platform::LoadSharedLibrary(u"ssleay32.dll");
    if (s.ssl == nullptr) s.ssl = platform::LoadSharedLibrary(u"libssl32.dll");
    if (s.ssl == nullptr) return false;
    LookUpAll();
    if (!s.requiredFound) return false;
  }
  if (!Initialise()) return false;
  FillTable();
  return true;
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
  platform::UnloadSharedLibrary(s.ssl);
  platform::UnloadSharedLibrary(s.crypto);
  s.ssl = nullptr;
  s.crypto = nullptr;
  s.requiredFound = false;
  s.functions.clear();
  s.table = Api{};
  s.locks.reset();
  s.lockCount = 0;
  s.loaded = false;
}

void SetReleaseBeforeUnload(void (*release)()) {
  State().releaseBeforeUnload = release;
}

int OpenSslInitialisations() {
  return State().initialisations;
}

}  // namespace tessora::openssl
