// The run-time loader of the OpenSSL DLLs (Windows). This program lives in a directory of its
// own, without the DLLs; each test points the DLL search at a directory it fills itself (or at one
// of the folders holding one OpenSSL line), and some stand in another folder for the one the
// OpenSSL 3 DLLs are first looked for in (the folder of the module holding the loader).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "base/fault_injection.h"
#include "net/openssl/binding.h"
#include "net/openssl/names.h"
#include "net/tls_channel.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

namespace fs = std::filesystem;
using test::FailureOf;
using test::ScriptedServer;
using test::ServerConnection;

constexpr char16_t kCouldNotLoad[] = u"Could not load SSL library.";

// The OpenSSL 3 names of this build's width ("-x64" in 64-bit builds).
const wchar_t* const kCrypto3 = reinterpret_cast<const wchar_t*>(openssl::kOpenSsl3CryptoLibrary);
const wchar_t* const kSsl3 = reinterpret_cast<const wchar_t*>(openssl::kOpenSsl3SslLibrary);

fs::path ProgramDir() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

// The real DLLs of each line, in folders of their own next to the other test programs.
fs::path Dlls10() {
  return ProgramDir().parent_path() / "openssl-1.0";
}
fs::path Dlls3() {
  return ProgramDir().parent_path() / "openssl-3";
}
fs::path FakeDlls(const char* name) {
  return ProgramDir().parent_path() / name;
}

// No 64-bit OpenSSL 1.0.2 DLLs of a vetted source are to be had, so the 64-bit build runs the
// tests that need the real 1.0 DLLs only when someone placed them (the stand-ins of fake-full and
// fake-missing are built here for either width).
bool NoOpenSsl10() {
  return sizeof(void*) == 8 && !fs::exists(Dlls10() / "libeay32.dll");
}
constexpr char kNoOpenSsl10[] = "no 64-bit OpenSSL 1.0 DLLs in openssl-1.0";

void SearchDllsIn(const fs::path& dir) {
  ASSERT_TRUE(SetDllDirectoryW(dir.wstring().c_str()));
}

void LookFirstIn(const fs::path& dir) {
  const std::u16string folder = dir.u16string();
  openssl::SetOwnFolder(&folder);
}

bool IsLoaded(const wchar_t* name) {
  return GetModuleHandleW(name) != nullptr;
}

// The folder a loaded module came from.
fs::path LoadedFrom(const wchar_t* name) {
  HMODULE module = GetModuleHandleW(name);
  if (module == nullptr) return {};
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  return !a.empty() && !b.empty() && fs::equivalent(a, b);
}

void Place(const fs::path& dir, const char* name, const char* as = nullptr) {
  fs::copy_file(Dlls10() / name, dir / (as != nullptr ? as : name),
                fs::copy_options::overwrite_existing);
}

void PlaceOpenSsl3(const fs::path& dir) {
  for (const wchar_t* name : {kCrypto3, kSsl3}) {
    fs::copy_file(Dlls3() / name, dir / name, fs::copy_options::overwrite_existing);
  }
}

// A TLS connection through the channel; the channel is the first to need the TLS library.
void ExpectHandshake() {
  ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) { c.StartTls(); });
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", server.Port());
  channel.Connect(u"127.0.0.1", server.Port(), 20000);
  EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
}

// Two threads that need OpenSSL at the same moment: both get it, it is initialised once, and it
// works.
void ExpectTwoThreadsAtOnceLoadItOnce() {
  std::atomic<int> ready{0};
  std::atomic<int> loaded{0};
  auto load = [&] {
    ++ready;
    while (ready < 2)
      std::this_thread::yield();
    if (openssl::LoadOpenSsl() != nullptr) ++loaded;
  };
  std::thread first(load);
  std::thread second(load);
  first.join();
  second.join();
  EXPECT_EQ(loaded, 2);
  EXPECT_EQ(openssl::OpenSslInitialisations(), 1);
  ExpectHandshake();
}

Error TlsConnectFailure() {
  ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) { c.ReadUntilClosed(); });
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", server.Port());
  return FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), 20000); });
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    SetDllDirectoryW(nullptr);
    openssl::SetOwnFolder(nullptr);
  }
  test::TempDir dir_;
};

TEST_F(LoaderTest, AbsentLibrariesFailEveryAttemptUntilTheyArePlaced) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  SearchDllsIn(dir_.Path());
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
  }
  Place(dir_.Path(), "libeay32.dll");
  Place(dir_.Path(), "ssleay32.dll");
  ExpectHandshake();
  EXPECT_EQ(openssl::OpenSslInitialisations(), 1);
}

// The TLS library is looked for while the TCP connect is under way. Without it, a server that
// refuses the connection is still reported as refusing, and one that accepts it gets the load
// failure after the connect.
TEST_F(LoaderTest, WithoutTheLibrariesARefusedConnectIsReportedAsRefused) {
  SearchDllsIn(dir_.Path());
  int port = 0;
  const platform::SocketHandle listener = test::ListenOnLoopback(port);
  ASSERT_NE(listener, platform::kNoSocket);
  platform::CloseSocket(listener);  // nothing listens there any more
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", port);
  const Error refused = FailureOf([&] { channel.Connect(u"127.0.0.1", port, 20000); });
  EXPECT_EQ(refused.Code(), 10061);
  EXPECT_FALSE(channel.Connected());
  EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
}

TEST_F(LoaderTest, WithoutTheCryptoLibraryTheTlsLibraryIsNotTried) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  Place(dir_.Path(), "ssleay32.dll");
  SearchDllsIn(dir_.Path());
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
}

TEST_F(LoaderTest, Libssl32TakesThePlaceOfSsleay32) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  Place(dir_.Path(), "libeay32.dll");
  Place(dir_.Path(), "ssleay32.dll", "libssl32.dll");
  SearchDllsIn(dir_.Path());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(L"libssl32.dll"));
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
}

TEST_F(LoaderTest, LibraryLackingARequiredFunctionIsRefused) {
  SearchDllsIn(FakeDlls("fake-missing"));
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));  // loaded, looked at, refused
  EXPECT_TRUE(IsLoaded(L"ssleay32.dll"));
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
  EXPECT_EQ(openssl::OpenSslInitialisations(), 0);
}

TEST_F(LoaderTest, LibraryWithoutProtocolMethodsGivesNoMethod) {
  SearchDllsIn(FakeDlls("fake-full"));
  ASSERT_NE(openssl::LoadOpenSsl(), nullptr);  // every required function is there
  EXPECT_EQ(TlsConnectFailure().Message(), u"Error getting SSL method.");
}

// Only the loading failure waits for TLS to be switched on: a library that loaded but cannot make
// the context fails the connect, before a proxy's CONNECT request goes out.
TEST_F(LoaderTest, OtherSetUpFailuresAreNotDroppedInPassThrough) {
  SearchDllsIn(FakeDlls("fake-full"));
  ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) { c.ReadUntilClosed(); });
  TlsChannel channel;
  channel.SetServerName(u"api.tessora.net", 443);
  channel.SetPassThrough(true);
  EXPECT_EQ(FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), 20000); }).Message(),
            u"Error getting SSL method.");
  EXPECT_FALSE(channel.Connected());
}

// The 1.0 line's SSL_set_fd takes an int: a 64-bit socket handle beyond it is refused, never cut
// short to another handle (the stand-in's SSL_set_fd reports success for whatever it gets).
TEST_F(LoaderTest, OpenSsl10RefusesASocketHandleBeyondAnInt) {
  if (sizeof(platform::SocketHandle) < 8) GTEST_SKIP() << "socket handles are 32 bits wide here";
  SearchDllsIn(FakeDlls("fake-full"));
  const openssl::Api* api = openssl::LoadOpenSsl();
  ASSERT_NE(api, nullptr);
  // (computed in 64 bits: the 32-bit build compiles this test too, and skips it)
  EXPECT_EQ(api->setFd(nullptr, static_cast<platform::SocketHandle>(std::int64_t{1} << 40)), 0);
  EXPECT_EQ(api->setFd(nullptr, static_cast<platform::SocketHandle>(std::int64_t{1} << 31)), 0);
  EXPECT_EQ(api->setFd(nullptr, 0x1234), 1);
}

TEST_F(LoaderTest, TwoThreadsNeedingTlsAtOnceLoadItOnce) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  SearchDllsIn(Dlls10());
  ExpectTwoThreadsAtOnceLoadItOnce();
}

TEST_F(LoaderTest, UnloadReleasesTheLibrariesAndTheNextUseLoadsThemAgain) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  SearchDllsIn(Dlls10());
  ExpectHandshake();
  openssl::UnloadOpenSsl();
  EXPECT_FALSE(IsLoaded(L"libeay32.dll"));
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
  ExpectHandshake();
  EXPECT_EQ(openssl::OpenSslInitialisations(), 2);
}

TEST_F(LoaderTest, LoadFailureIsDroppedInPassThroughUntilTlsIsSwitchedOn) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  SearchDllsIn(Dlls10());
  // One failed load for each of the three places the libraries are looked for.
  platform::InjectFault(platform::Fault::kLoadLibrary, ERROR_MOD_NOT_FOUND, 3);
  {
    ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) {
      c.ReadHead();
      c.Write("HTTP/1.1 200 OK\r\n\r\n");
      c.ReadUntilClosed();
    });
    TlsChannel channel;
    channel.SetServerName(u"api.tessora.net", 443);
    channel.SetPassThrough(true);
    channel.Connect(u"127.0.0.1", server.Port(), 20000);
    EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kPlain);
    const std::string request = "CONNECT api.tessora.net:443 HTTP/1.1\r\n\r\n";
    EXPECT_EQ(channel.Send(request.data(), static_cast<int>(request.size())),
              static_cast<int>(request.size()));
    char buffer[64];
    EXPECT_GT(channel.Receive(buffer, sizeof buffer), 0);
    EXPECT_EQ(FailureOf([&] { channel.SetPassThrough(false); }).Message(), kCouldNotLoad);
  }
  // The failed attempt is made again by the next channel.
  ExpectHandshake();
}

// ---- The order: OpenSSL 3 next to the library, OpenSSL 1.0 by the search, OpenSSL 3 by the
// search.

TEST_F(LoaderTest, OpenSsl3NextToTheLibraryWinsOverOpenSsl10OnTheSearchPath) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  LookFirstIn(Dlls3());
  SearchDllsIn(Dlls10());
  ExpectHandshake();
  EXPECT_TRUE(SameFolder(LoadedFrom(kSsl3), Dlls3()));
  EXPECT_TRUE(SameFolder(LoadedFrom(kCrypto3), Dlls3()));
  EXPECT_FALSE(IsLoaded(L"libeay32.dll"));
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
}

TEST_F(LoaderTest, OpenSsl10WinsOverOpenSsl3WhenBothAreOnlyOnTheSearchPath) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  Place(dir_.Path(), "libeay32.dll");
  Place(dir_.Path(), "ssleay32.dll");
  PlaceOpenSsl3(dir_.Path());
  SearchDllsIn(dir_.Path());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));
  EXPECT_TRUE(IsLoaded(L"ssleay32.dll"));
  EXPECT_FALSE(IsLoaded(kCrypto3));
  EXPECT_FALSE(IsLoaded(kSsl3));
}

TEST_F(LoaderTest, OpenSsl3OnTheSearchPathServesWhenNothingElseIsThere) {
  SearchDllsIn(Dlls3());
  ExpectHandshake();
  EXPECT_TRUE(SameFolder(LoadedFrom(kSsl3), Dlls3()));
  EXPECT_FALSE(IsLoaded(L"libeay32.dll"));
  EXPECT_EQ(openssl::OpenSslInitialisations(), 1);
}

TEST_F(LoaderTest, OpenSsl3LackingAFunctionFallsThroughToOpenSsl10) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  LookFirstIn(FakeDlls("fake-missing-3"));
  SearchDllsIn(Dlls10());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));
  // Refused and unloaded again.
  EXPECT_FALSE(IsLoaded(kCrypto3));
  EXPECT_FALSE(IsLoaded(kSsl3));
}

TEST_F(LoaderTest, RefusedOpenSsl3NextToTheLibraryDoesNotStandInForTheOnesOnTheSearchPath) {
  LookFirstIn(FakeDlls("fake-missing-3"));
  SearchDllsIn(Dlls3());
  ExpectHandshake();
  EXPECT_TRUE(SameFolder(LoadedFrom(kCrypto3), Dlls3()));
  EXPECT_TRUE(SameFolder(LoadedFrom(kSsl3), Dlls3()));
}

TEST_F(LoaderTest, LibrariesOfAnotherVersionUnderTheOpenSsl3NamesAreRefused) {
  if (NoOpenSsl10()) GTEST_SKIP() << kNoOpenSsl10;
  LookFirstIn(FakeDlls("fake-full-3"));  // every function, but the version number is not 3.x
  SearchDllsIn(dir_.Path());
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_FALSE(IsLoaded(kCrypto3));
  SearchDllsIn(Dlls10());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));
}

TEST_F(LoaderTest, OpenSsl10LackingAFunctionFallsThroughToOpenSsl3OnTheSearchPath) {
  for (const char* name : {"libeay32.dll", "ssleay32.dll"}) {
    fs::copy_file(FakeDlls("fake-missing") / name, dir_.Path() / name);
  }
  PlaceOpenSsl3(dir_.Path());
  SearchDllsIn(dir_.Path());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(kSsl3));
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));  // looked at, refused, kept as before
}

TEST_F(LoaderTest, OpenSsl3PlacedLaterIsPickedUpByTheNextAttempt) {
  LookFirstIn(dir_.Path());
  SearchDllsIn(dir_.Path());
  EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
  PlaceOpenSsl3(dir_.Path());
  ExpectHandshake();
  EXPECT_TRUE(SameFolder(LoadedFrom(kSsl3), dir_.Path()));
}

TEST_F(LoaderTest, TwoThreadsNeedingOpenSsl3AtOnceLoadItOnce) {
  LookFirstIn(Dlls3());
  ExpectTwoThreadsAtOnceLoadItOnce();
}

// OpenSSL 3 keeps its modules in memory once initialised; unloading drops our hold on them and
// the next use initialises them again.
TEST_F(LoaderTest, OpenSsl3IsUsableAgainAfterUnloading) {
  LookFirstIn(Dlls3());
  ExpectHandshake();
  openssl::UnloadOpenSsl();
  ExpectHandshake();
  EXPECT_EQ(openssl::OpenSslInitialisations(), 2);
}

}  // namespace
}  // namespace tessora
