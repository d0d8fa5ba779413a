// config.shared: what a thread that never called ConfigureService takes from the process, and what
// it gives back when the setting is off again.
#include "api/shared_config.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "api/settings.h"
#include "api/thread_settings.h"
#include "base/text.h"
#include "platform/library_entry.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

class SharedConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LibraryStartup()); }
  void TearDown() override { LibraryShutdown(); }

  // What ConfigureService, ConfigureProxy and a token response leave on the calling thread (A).
  static void ConfigureThisThread() {
    ThreadSettings& settings = CurrentSettings();
    OwnService(settings);
    settings.clientId = u"client-a";
    settings.clientSecret = u"secret-a";
    settings.environment = u"127.0.0.1:9/";
    settings.configFileName = u"endpoints.json";
    settings.partnerToken = u"partner-a";
    PublishService(settings);
    OwnProxy(settings);
    settings.proxyServer = u"proxy-a";
    settings.proxyPort = 3128;
    PublishProxy(settings);
    settings.accessToken = u"tok-a";
    settings.tokenType = u"Bearer";
    settings.tokenExpiration = 50000.0;
    PublishToken(settings);
  }
  static void Share(const char16_t* value) {
    ASSERT_EQ(SetOption(CurrentSettings(), u"config.shared", value), u"");
  }

  test::TempDir dir_;
  test::ScopedCurrentDir cwd_{dir_.Path()};
};

// Runs `body` with the settings of a new thread.
template <class Body>
void OnAnotherThread(Body&& body) {
  std::thread([&] { body(CurrentSettings()); }).join();
}

TEST_F(SharedConfigTest, OffLeavesAnUnconfiguredThreadEmpty) {
  ConfigureThisThread();
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"");
    EXPECT_EQ(b.environment, u"");
    EXPECT_EQ(b.accessToken, u"");
    EXPECT_EQ(b.proxyServer, u"");
    EXPECT_TRUE(TokenExpired(b));
  });
}

TEST_F(SharedConfigTest, OnGivesAnUnconfiguredThreadTheProcesssConfigurationProxyAndToken) {
  ConfigureThisThread();
  Share(u"ON");
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"client-a");
    EXPECT_EQ(b.clientSecret, u"secret-a");
    EXPECT_EQ(b.environment, u"127.0.0.1:9/");
    EXPECT_EQ(b.configFileName, u"endpoints.json");
    EXPECT_EQ(b.partnerToken, u"partner-a");
    EXPECT_EQ(b.proxyServer, u"proxy-a");
    EXPECT_EQ(b.proxyPort, 3128);
    EXPECT_EQ(b.accessToken, u"tok-a");
    EXPECT_EQ(b.tokenType, u"Bearer");
    EXPECT_EQ(b.tokenExpiration, 50000.0);
  });
}

TEST_F(SharedConfigTest, AThreadsOwnProxyWins) {
  ConfigureThisThread();
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    OwnProxy(b);
    b.proxyServer = u"proxy-b";
    b.proxyPort = 8080;
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"client-a");
    EXPECT_EQ(b.proxyServer, u"proxy-b");
    EXPECT_EQ(b.proxyPort, 8080);
  });
}

TEST_F(SharedConfigTest, AThreadThatConfiguredKeepsItsOwn) {
  ConfigureThisThread();
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    OwnService(b);
    b.clientId = u"client-b";
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"client-b");
    EXPECT_EQ(b.accessToken, u"");
    EXPECT_EQ(b.proxyServer, u"");
  });
}

TEST_F(SharedConfigTest, TurnedOffAgainTheThreadIsEmptyAgain) {
  ConfigureThisThread();
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    ASSERT_EQ(b.accessToken, u"tok-a");
    ASSERT_EQ(SetOption(b, u"config.shared", u"off"), u"");
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"");
    EXPECT_EQ(b.accessToken, u"");
    EXPECT_EQ(b.proxyServer, u"");
  });
}

TEST_F(SharedConfigTest, ConfiguringDropsTheTokenTakenFromTheProcess) {
  ConfigureThisThread();
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    ASSERT_EQ(b.accessToken, u"tok-a");
    OwnService(b);
    EXPECT_EQ(b.accessToken, u"");
    EXPECT_EQ(b.tokenExpiration, 0.0);
  });
}

TEST_F(SharedConfigTest, ATokenCapturedOnAnyThreadIsTheProcesss) {
  ConfigureThisThread();
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    b.accessToken = u"tok-b";
    PublishToken(b);
  });
  OnAnotherThread([](ThreadSettings& c) {
    TakeSharedConfiguration(c);
    EXPECT_EQ(c.accessToken, u"tok-b");
  });
  // A thread with its own configuration keeps its own token.
  TakeSharedConfiguration(CurrentSettings());
  EXPECT_EQ(CurrentSettings().accessToken, u"tok-a");
}

// Another thread's new configuration (another Environment or client) drops the process's token:
// a thread that takes the process's configuration never sends a token to a host or for a client
// it was not issued for. The same configuration again keeps it.
TEST_F(SharedConfigTest, ANewConfigurationDropsTheProcesssToken) {
  ConfigureThisThread();
  Share(u"on");
  const auto configure = [](const char16_t* clientId, const char16_t* environment) {
    OnAnotherThread([&](ThreadSettings& c) {
      OwnService(c);
      c.clientId = clientId;
      c.clientSecret = u"secret-a";
      c.environment = environment;
      c.configFileName = u"endpoints.json";
      PublishService(c);
    });
  };
  const auto tokenOfAnUnconfiguredThread = [] {
    std::u16string token;
    OnAnotherThread([&](ThreadSettings& b) {
      TakeSharedConfiguration(b);
      token = b.accessToken;
    });
    return token;
  };
  configure(u"client-a", u"127.0.0.1:9/");
  EXPECT_EQ(tokenOfAnUnconfiguredThread(), u"tok-a");
  configure(u"client-a", u"localhost:10/");
  EXPECT_EQ(tokenOfAnUnconfiguredThread(), u"");
  OnAnotherThread([](ThreadSettings& c) {  // a token for localhost:10
    TakeSharedConfiguration(c);
    c.accessToken = u"tok-c";
    PublishToken(c);
  });
  ASSERT_EQ(tokenOfAnUnconfiguredThread(), u"tok-c");
  configure(u"client-b", u"localhost:10/");
  EXPECT_EQ(tokenOfAnUnconfiguredThread(), u"");
  // The thread that captured the token keeps its own copy.
  EXPECT_EQ(CurrentSettings().accessToken, u"tok-a");
}

// A token captured for another configuration than the process's, by a thread with its own or by
// one whose copy another thread's ConfigureService replaced meanwhile, stays that thread's.
TEST_F(SharedConfigTest, ATokenForAnotherConfigurationIsNotTheProcesss) {
  ConfigureThisThread();  // client-a at 127.0.0.1:9, with tok-a
  Share(u"on");
  ThreadSettings copyBefore;  // what a thread took from the process before client-b came
  copyBefore.clientId = u"client-a";
  copyBefore.clientSecret = u"secret-a";
  copyBefore.environment = u"127.0.0.1:9/";
  OnAnotherThread([](ThreadSettings& c) {
    OwnService(c);
    c.clientId = u"client-b";
    c.clientSecret = u"secret-b";
    c.environment = u"localhost:10/";
    PublishService(c);
  });
  // This thread (client-a, its own configuration) captures a new token; and a thread that took
  // the process's configuration before client-b's replaced it captures one too.
  CurrentSettings().accessToken = u"tok-a2";
  PublishToken(CurrentSettings());
  copyBefore.accessToken = u"tok-a3";
  PublishToken(copyBefore);
  OnAnotherThread([](ThreadSettings& d) {
    TakeSharedConfiguration(d);
    EXPECT_EQ(d.clientId, u"client-b");
    EXPECT_EQ(d.accessToken, u"");
  });
}

TEST_F(SharedConfigTest, AnUnloadForgetsTheProcesssConfiguration) {
  ConfigureThisThread();
  LibraryShutdown();
  ASSERT_TRUE(LibraryStartup());
  Share(u"on");
  OnAnotherThread([](ThreadSettings& b) {
    TakeSharedConfiguration(b);
    EXPECT_EQ(b.clientId, u"");
    EXPECT_EQ(b.accessToken, u"");
  });
}

TEST_F(SharedConfigTest, ThreadsPublishAndTakeAtOnce) {
  Share(u"on");
  std::thread publisher([] {
    ThreadSettings& a = CurrentSettings();
    OwnService(a);
    for (int i = 0; i < 500; ++i) {
      a.clientId = u"client-" + IntToText(i);
      a.accessToken = u"tok-" + IntToText(i);
      PublishService(a);
      PublishToken(a);
    }
  });
  std::thread taker([] {
    ThreadSettings& b = CurrentSettings();
    for (int i = 0; i < 500; ++i) {
      TakeSharedConfiguration(b);
      // Each copy is whole: a client and a token of the same round, or of rounds in order.
      EXPECT_TRUE(b.clientId.empty() || b.clientId.rfind(u"client-", 0) == 0);
    }
  });
  publisher.join();
  taker.join();
}

struct SharedCase {
  const char16_t* given;
  const char16_t* stored;  // nullptr: refused
};

class SharedValues : public SharedConfigTest, public ::testing::WithParamInterface<SharedCase> {};

TEST_P(SharedValues, AreNormalisedOrRefused) {
  const std::u16string refused = SetOption(CurrentSettings(), u"config.shared", GetParam().given);
  const SettingValue inForce = OptionInForce(nullptr, *FindSettingKey(u"config.shared"));
  if (GetParam().stored == nullptr) {
    EXPECT_EQ(refused, u"The setting \"config.shared\" cannot be \"" +
                           std::u16string(GetParam().given) + u"\": it takes \"on\" or \"off\".");
    EXPECT_EQ(inForce.value, u"off");
  } else {
    EXPECT_EQ(refused, u"");
    EXPECT_EQ(inForce.value, GetParam().stored);
    EXPECT_EQ(inForce.source, SettingSource::kHost);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SharedValues,
                         ::testing::Values(SharedCase{u"on", u"on"}, SharedCase{u"On", u"on"},
                                           SharedCase{u"OFF", u"off"}, SharedCase{u"", nullptr},
                                           SharedCase{u"1", nullptr}, SharedCase{u"true", nullptr},
                                           SharedCase{u"yes", nullptr},
                                           SharedCase{u"on ", nullptr}));

TEST_F(SharedConfigTest, TheEndpointFileCannotTurnItOn) {
  ApplyFileSettings({{u"config.shared", u"on"}});
  EXPECT_EQ(OptionInForce(nullptr, *FindSettingKey(u"config.shared")).value, u"off");
}

}  // namespace
}  // namespace tessora
