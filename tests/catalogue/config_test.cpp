#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "catalogue/catalogue.h"
#include "support/temp_dir.h"

namespace tessora {
namespace {

// An endpoint file of `count` operations OP0, OP1, ... whose routes name `tag`.
std::string EndpointFile(const std::string& tag, int count) {
  std::string json = "{\"ENDPOINTS\":{";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ",\n";
    json += "\"OP" + std::to_string(i) + "\":{\"route\":\"/" + tag + "/" + std::to_string(i) +
            "\",\"method\":\"GET\"}";
  }
  return json + "}}";
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetConfigForTesting(); }
  void TearDown() override { ResetConfigForTesting(); }

  std::u16string Write(const std::string& name, const std::string& bytes) {
    test::WriteFileBytes(dir_ / name, bytes);
    return (dir_ / name).u16string();
  }
  std::u16string Missing() const { return (dir_ / "missing.json").u16string(); }

  test::TempDir dir_;
};

TEST_F(ConfigTest, TheFirstCallLoadsAndLaterCallsIgnoreTheirFileName) {
  const std::u16string first = Write("first.json", EndpointFile("first", 2));
  const std::u16string second = Write("second.json", EndpointFile("second", 3));
  TessoraConfig& config = SharedTessoraConfig(first);
  EXPECT_EQ(&SharedTessoraConfig(second), &config);
  EXPECT_EQ(&SharedTessoraConfig(Missing()), &config);
  EXPECT_EQ(config.FileName(), first);
  EXPECT_EQ(config.GetEndPoint(u"OP1").endPoint, u"/first/1");
  EXPECT_EQ(LoadFileRunsForTesting(), 1);
}

TEST_F(ConfigTest, ChangesToTheFileAfterTheLoadHaveNoEffect) {
  const std::u16string file = Write("endpoints.json", EndpointFile("old", 1));
  SharedTessoraConfig(file);
  Write("endpoints.json", EndpointFile("new", 1));
  EXPECT_EQ(SharedTessoraConfig(file).GetEndPoint(u"OP0").endPoint, u"/old/0");
  EXPECT_EQ(LoadFileRunsForTesting(), 1);
}

TEST_F(ConfigTest, AFailedLoadIsRetriedByTheNextCallOnAnyThreadWithItsOwnFile) {
  const std::u16string bad = Write("bad.json", R"({"ENDPOINTS":{"A":{"method":"PATCH"}}})");
  const std::u16string good = Write("good.json", EndpointFile("good", 1));
  EXPECT_THROW(SharedTessoraConfig(Missing()), Error);
  EXPECT_THROW(SharedTessoraConfig(bad), Error);
  EXPECT_EQ(LoadFileRunsForTesting(), 2);
  TessoraConfig* loaded = nullptr;
  std::thread other([&] { loaded = &SharedTessoraConfig(good); });
  other.join();
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->FileName(), good);
  EXPECT_EQ(&SharedTessoraConfig(Missing()), loaded);
  EXPECT_EQ(LoadFileRunsForTesting(), 3);
}

TEST_F(ConfigTest, ConcurrentFirstCallsLoadOnce) {
  constexpr int kThreads = 16;
  constexpr int kRounds = 10;
  std::vector<std::u16string> files;
  for (int t = 0; t < kThreads; ++t)
    files.push_back(Write("f" + std::to_string(t) + ".json", EndpointFile(std::to_string(t), 500)));
  for (int round = 0; round < kRounds; ++round) {
    ResetConfigForTesting();
    std::latch start(kThreads);
    std::vector<TessoraConfig*> seen(kThreads, nullptr);
    std::vector<std::u16string> routes(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        seen[t] = &SharedTessoraConfig(files[t]);
        routes[t] = seen[t]->GetEndPoint(u"OP499").endPoint;
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    ASSERT_EQ(LoadFileRunsForTesting(), 1) << "round " << round;
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(seen[t], seen[0]);
      EXPECT_EQ(routes[t], routes[0]);
    }
    // The catalogue comes from the file of whichever thread came first.
    const std::u16string& owner = seen[0]->FileName();
    EXPECT_NE(std::find(files.begin(), files.end(), owner), files.end());
  }
}

TEST_F(ConfigTest, ConcurrentFirstCallsWithFailingFilesLeaveOneCatalogue) {
  constexpr int kThreads = 16;
  const std::u16string good = Write("good.json", EndpointFile("good", 200));
  std::latch start(kThreads);
  std::atomic<int> failures{0};
  std::vector<TessoraConfig*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      try {
        seen[t] = &SharedTessoraConfig(t % 2 == 0 ? Missing() : good);
      } catch (const Error& error) {
        if (error.Kind() == ErrorKind::kFileOpen) ++failures;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  // Every thread with the good file got the catalogue; a thread with the missing file either
  // failed to open it or found the catalogue already loaded.
  TessoraConfig* const catalogue = &SharedTessoraConfig(Missing());
  int successes = 0;
  for (int t = 0; t < kThreads; ++t) {
    if (t % 2 == 1) {
      EXPECT_EQ(seen[t], catalogue);
    }
    if (seen[t] != nullptr) {
      EXPECT_EQ(seen[t], catalogue);
      ++successes;
    }
  }
  EXPECT_EQ(successes + failures.load(), kThreads);
  EXPECT_EQ(catalogue->FileName(), good);
  // One successful load plus one per failed attempt.
  EXPECT_EQ(LoadFileRunsForTesting(), 1 + failures.load());
}

}  // namespace
}  // namespace tessora
