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
  std::mutex LoadLock;
  std::atomic<bool> Loaded{false};
  platform::LibraryHandle Crypto = nullptr;
  platform::LibraryHandle Ssl = nullptr;
  bool RequiredFound = false;  // the last lookup found every required function
  std::map<std::string, void*> Functions;
  std::unique_ptr<std::mutex[]> Locks;
  int LockCount = 0;
  std::atomic<int> Initialisations{0};
  Api Table;
};

Loader& State() {
  static Loader loader;
  return loader;
}

void* Function(const char* name) {
  const auto& functions = State().Functions;
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

void LockingCallbackFunction(int mode, int n, const char*, int) {
  Loader& s = State();
  if (n < 0 || n >= s.LockCount) return;
  if (mode & kCryptoLock) {
    s.Locks[n].lock();
  } else {
    s.Locks[n].unlock();
  }
}

bool HasAll(const char* a, const char* b, const char* c) {
  return Function(a) != nullptr && Function(b) != nullptr && Function(c) != nullptr;
}

void LookUpAll() {
  Loader& s = State();
  s.Functions.clear();
  bool found = true;
  auto lookUp = [&](platform::LibraryHandle library, const char* name, bool required) {
    void* address = platform::LibraryFunction(library, name);
    if (address != nullptr) s.Functions[name] = address;
    if (required && address == nullptr) found = false;
  };
  for (const char* name : kRequiredSslFunctions)
    lookUp(s.Ssl, name, true);
  for (const char* name : kOptionalSslFunctions)
    lookUp(s.Ssl, name, false);
  for (const char* name : kRequiredCryptoFunctions)
    lookUp(s.Crypto, name, true);
  for (const char* name : kOptionalCryptoFunctions)
    lookUp(s.Crypto, name, false);
  for (const char* name : kAddAllAlgorithms)
    lookUp(s.Crypto, name, false);
  if (Function(kAddAllAlgorithms[0]) == nullptr && Function(kAddAllAlgorithms[1]) == nullptr) {
    found = false;
  }
  s.RequiredFound = found;
}

void FillTable() {
  Api& t = State().Table;
  t = Api{};
  Bind(t.Tls12ClientMethod, "TLSv1_2_client_method");
  Bind(t.Tls1ClientMethod, "TLSv1_client_method");
  Bind(t.Tls12ServerMethod, "TLSv1_2_server_method");
  t.HasSslV2Methods = HasAll("SSLv2_method", "SSLv2_server_method", "SSLv2_client_method");
  t.HasSslV3Methods = HasAll("SSLv3_method", "SSLv3_server_method", "SSLv3_client_method");
  t.HasTls11Methods = HasAll("TLSv1_1_method", "TLSv1_1_server_method", "TLSv1_1_client_method");
  Bind(t.CtxNew, "SSL_CTX_new");
  Bind(t.CtxFree, "SSL_CTX_free");
  t.CtxSetOptions = &CtxSetOptions;
  t.CtxSetMode = &CtxSetMode;
  Bind(t.CtxSetDefaultPasswdCb, "SSL_CTX_set_default_passwd_cb");
  Bind(t.CtxSetDefaultPasswdCbUserdata, "SSL_CTX_set_default_passwd_cb_userdata");
  Bind(t.CtxSetDefaultVerifyPaths, "SSL_CTX_set_default_verify_paths");
  Bind(t.CtxSetCipherList, "SSL_CTX_set_cipher_list");
  Bind(t.CtxSetVerify, "SSL_CTX_set_verify");
  Bind(t.CtxGetCertStore, "SSL_CTX_get_cert_store");
  Bind(t.CtxUseCertificateChainFile, "SSL_CTX_use_certificate_chain_file");
  Bind(t.CtxUsePrivateKeyFile, "SSL_CTX_use_PrivateKey_file");
  Bind(t.New, "SSL_new");
  Bind(t.Free, "SSL_free");
  Bind(t.SetExData, "SSL_set_ex_data");
  Bind(t.SetFd, "SSL_set_fd");
  t.SetTlsextHostName = &SetTlsextHostName;
  Bind(t.Connect, "SSL_connect");
  Bind(t.Accept, "SSL_accept");
  Bind(t.Read, "SSL_read");
  Bind(t.Write, "SSL_write");
  Bind(t.Pending, "SSL_pending");
  Bind(t.GetError, "SSL_get_error");
  Bind(t.Shutdown, "SSL_shutdown");
  Bind(t.GetServername, "SSL_get_servername");
  Bind(t.ErrGetError, "ERR_get_error");
  Bind(t.ErrErrorStringN, "ERR_error_string_n");
  Bind(t.ErrClearError, "ERR_clear_error");
  Bind(t.D2iX509, "d2i_X509");
  Bind(t.X509StoreAddCert, "X509_STORE_add_cert");
  Bind(t.X509Free, "X509_free");
  Bind(t.Get0Param, "SSL_get0_param");
  Bind(t.ParamSet1Host, "X509_VERIFY_PARAM_set1_host");
  Bind(t.ParamSetHostflags, "X509_VERIFY_PARAM_set_hostflags");
  Bind(t.ParamSet1IpAsc, "X509_VERIFY_PARAM_set1_ip_asc");
}

bool Initialise() {
  Loader& s = State();
  Call<void (*)()>("OpenSSL_add_all_ciphers")();
  Call<void (*)()>("OpenSSL_add_all_digests")();
  Call<void (*)()>("RAND_screen")();
  Call<void (*)()>("SSL_load_error_strings")();
  if (Call<int (*)()>("SSL_library_init")() <= 0) return false;
  const int count = Call<int (*)()>("CRYPTO_num_locks")();
  s.LockCount = count > 0 ? count : 0;
  s.Locks = std::make_unique<std::mutex[]>(static_cast<std::size_t>(s.LockCount));
  // No thread-identity callback: the library's default (the address of errno) tells threads apart.
  Call<void (*)(LockingCallback)>("CRYPTO_set_locking_callback")(&LockingCallbackFunction);
  return true;
}

bool Attempt() {
  Loader& s = State();
  if (!(s.Crypto != nullptr && s.Ssl != nullptr && s.RequiredFound)) {
    if (s.Crypto == nullptr) s.Crypto = platform::LoadSharedLibrary(u"libeay32.dll");
    if (s.Crypto == nullptr) return false;
    if (s.Ssl == nullptr) s.Ssl = platform::LoadSharedLibrary(u"ssleay32.dll");
    if (s.Ssl == nullptr) s.Ssl = platform::LoadSharedLibrary(u"libssl32.dll");
    if (s.Ssl == nullptr) return false;
    LookUpAll();
    if (!s.RequiredFound) return false;
  }
  if (!Initialise()) return false;
  FillTable();
  return true;
}

}  // namespace

const Api* LoadOpenSsl() {
  Loader& s = State();
  if (s.Loaded.load(std::memory_order_acquire)) return &s.Table;
  std::lock_guard<std::mutex> guard(s.LoadLock);
  if (s.Loaded.load(std::memory_order_relaxed)) return &s.Table;
  if (!Attempt()) return nullptr;
  ++s.Initialisations;
  s.Loaded.store(true, std::memory_order_release);
  return &s.Table;
}

void UnloadOpenSsl() {
  // At process exit the libraries have already shut down; the system reclaims everything.
  if (platform::ProcessIsExiting()) return;
  Loader& s = State();
  std::lock_guard<std::mutex> guard(s.LoadLock);
  if (auto setLocking = Call<void (*)(LockingCallback)>("CRYPTO_set_locking_callback")) {
    setLocking(nullptr);
  }
  if (s.Loaded) {
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
  platform::UnloadSharedLibrary(s.Ssl);
  platform::UnloadSharedLibrary(s.Crypto);
  s.Ssl = nullptr;
  s.Crypto = nullptr;
  s.RequiredFound = false;
  s.Functions.clear();
  s.Table = Api{};
  s.Locks.reset();
  s.LockCount = 0;
  s.Loaded = false;
}

int OpenSslInitialisations() {
  return State().Initialisations;
}

}  // namespace tessora::openssl
