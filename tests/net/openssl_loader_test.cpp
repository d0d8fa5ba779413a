// The run-time loader of the OpenSSL 1.0 DLLs (Windows). This program lives in a directory of its
// own, without the DLLs; each test points the DLL search at a directory it fills itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/fault_injection.h"
#include "net/openssl/binding.h"
#include "net/tls_channel.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "tls_test_util.h"

namespace tessora {
namespace {

namespace fs = std::filesystem;
using test::FailureOf;
using test::ScriptedServer;
using test::ServerConnection;

constexpr char16_t kCouldNotLoad[] = u"Could not load SSL library.";

fs::path ProgramDir() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

// The real DLLs, placed next to the other test programs.
fs::path RealDlls() {
  return ProgramDir().parent_path();
}

void SearchDllsIn(const fs::path& dir) {
  ASSERT_TRUE(SetDllDirectoryW(dir.wstring().c_str()));
}

bool IsLoaded(const wchar_t* name) {
  return GetModuleHandleW(name) != nullptr;
}

void Place(const fs::path& dir, const char* name, const char* as = nullptr) {
  fs::copy_file(RealDlls() / name, dir / (as != nullptr ? as : name),
                fs::copy_options::overwrite_existing);
}

// A TLS connection through the channel; the channel is the first to need the TLS library.
void ExpectHandshake() {
  ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) { c.StartTls(); });
  TlsChannel channel;
  channel.SetURIToCheck(test::UrlFor("127.0.0.1", server.Port()));
  channel.Connect(u"127.0.0.1", server.Port(), 20000);
  EXPECT_EQ(channel.CurrentState(), TlsChannel::State::kRunning);
}

Error TlsConnectFailure() {
  ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) { c.ReadUntilClosed(); });
  TlsChannel channel;
  channel.SetURIToCheck(test::UrlFor("127.0.0.1", server.Port()));
  return FailureOf([&] { channel.Connect(u"127.0.0.1", server.Port(), 20000); });
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    SetDllDirectoryW(nullptr);
  }
  test::TempDir dir_;
};

TEST_F(LoaderTest, AbsentLibrariesFailEveryAttemptUntilTheyArePlaced) {
  SearchDllsIn(dir_.Path());
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
  }
  Place(dir_.Path(), "libeay32.dll");
  Place(dir_.Path(), "ssleay32.dll");
  ExpectHandshake();
  EXPECT_EQ(openssl::OpenSslInitialisations(), 1);
}

TEST_F(LoaderTest, WithoutTheCryptoLibraryTheTlsLibraryIsNotTried) {
  Place(dir_.Path(), "ssleay32.dll");
  SearchDllsIn(dir_.Path());
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
}

TEST_F(LoaderTest, Libssl32TakesThePlaceOfSsleay32) {
  Place(dir_.Path(), "libeay32.dll");
  Place(dir_.Path(), "ssleay32.dll", "libssl32.dll");
  SearchDllsIn(dir_.Path());
  ExpectHandshake();
  EXPECT_TRUE(IsLoaded(L"libssl32.dll"));
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
}

TEST_F(LoaderTest, LibraryLackingARequiredFunctionIsRefused) {
  SearchDllsIn(ProgramDir().parent_path() / "fake-missing");
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_TRUE(IsLoaded(L"libeay32.dll"));  // loaded, looked at, refused
  EXPECT_TRUE(IsLoaded(L"ssleay32.dll"));
  EXPECT_EQ(openssl::LoadOpenSsl(), nullptr);
  EXPECT_EQ(TlsConnectFailure().Message(), kCouldNotLoad);
  EXPECT_EQ(openssl::OpenSslInitialisations(), 0);
}

TEST_F(LoaderTest, LibraryWithoutProtocolMethodsGivesNoMethod) {
  SearchDllsIn(ProgramDir().parent_path() / "fake-full");
  ASSERT_NE(openssl::LoadOpenSsl(), nullptr);  // every required function is there
  EXPECT_EQ(TlsConnectFailure().Message(), u"Error getting SSL method.");
}

TEST_F(LoaderTest, TwoThreadsNeedingTlsAtOnceLoadItOnce) {
  SearchDllsIn(RealDlls());
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

TEST_F(LoaderTest, UnloadReleasesTheLibrariesAndTheNextUseLoadsThemAgain) {
  SearchDllsIn(RealDlls());
  ExpectHandshake();
  openssl::UnloadOpenSsl();
  EXPECT_FALSE(IsLoaded(L"libeay32.dll"));
  EXPECT_FALSE(IsLoaded(L"ssleay32.dll"));
  ExpectHandshake();
  EXPECT_EQ(openssl::OpenSslInitialisations(), 2);
}

TEST_F(LoaderTest, LoadFailureIsDroppedInPassThroughUntilTlsIsSwitchedOn) {
  SearchDllsIn(RealDlls());
  platform::InjectFault(platform::Fault::kLoadLibrary, ERROR_MOD_NOT_FOUND);
  {
    ScriptedServer server(ScriptedServer::kPlain, [](ServerConnection& c) {
      c.ReadHead();
      c.Write("HTTP/1.1 200 OK\r\n\r\n");
      c.ReadUntilClosed();
    });
    TlsChannel channel;
    channel.SetURIToCheck(test::UrlFor("api.tessora.net", 443));
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

}  // namespace
}  // namespace tessora
