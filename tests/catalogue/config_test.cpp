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
  const Config* const config = SharedConfig(first).get();
  EXPECT_EQ(SharedConfig(second).get(), config);
  EXPECT_EQ(SharedConfig(Missing()).get(), config);
  EXPECT_EQ(config->FileName(), first);
  EXPECT_EQ(config->GetEndpoint(u"OP1").endpoint, u"/first/1");
  EXPECT_EQ(LoadFileRunsForTesting(), 1);
}

TEST_F(ConfigTest, ChangesToTheFileAfterTheLoadHaveNoEffect) {
  const std::u16string file = Write("endpoints.json", EndpointFile("old", 1));
  SharedConfig(file);
  Write("endpoints.json", EndpointFile("new", 1));
  EXPECT_EQ(SharedConfig(file)->GetEndpoint(u"OP0").endpoint, u"/old/0");
  EXPECT_EQ(LoadFileRunsForTesting(), 1);
}

TEST_F(ConfigTest, AFailedLoadIsRetriedByTheNextCallOnAnyThreadWithItsOwnFile) {
  const std::u16string bad = Write("bad.json", R"({"ENDPOINTS":{"A":{"method":"PATCH"}}})");
  const std::u16string good = Write("good.json", EndpointFile("good", 1));
  EXPECT_THROW(SharedConfig(Missing()), Error);
  EXPECT_THROW(SharedConfig(bad), Error);
  EXPECT_EQ(LoadFileRunsForTesting(), 2);
  const Config* loaded = nullptr;
  std::thread other([&] { loaded = SharedConfig(good).get(); });
  other.join();
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->FileName(), good);
  EXPECT_EQ(SharedConfig(Missing()).get(), loaded);
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
    std::vector<const Config*> seen(kThreads, nullptr);
    std::vector<std::u16string> routes(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        seen[t] = SharedConfig(files[t]).get();
        routes[t] = seen[t]->GetEndpoint(u"OP499").endpoint;
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
  std::vector<const Config*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      try {
        seen[t] = SharedConfig(t % 2 == 0 ? Missing() : good).get();
      } catch (const Error& error) {
        if (error.Kind() == ErrorKind::kFileOpen) ++failures;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  // Every thread with the good file got the catalogue; a thread with the missing file either
  // failed to open it or found the catalogue already loaded.
  const Config* const catalogue = SharedConfig(Missing()).get();
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

// A file without operations used to be kept for the whole process, so a deployer who mended it had
// to restart the host; each call now reads it again until it names an operation.
TEST_F(ConfigTest, AFileWithoutOperationsIsReadAgainByTheNextCall) {
  const std::u16string file = Write("endpoints.json", "");
  const struct {
    const char* bytes;
  } kWithout[] = {{""}, {"{}"}, {R"({"OTHER": 1})"}, {R"({"ENDPOINTS": {}})"}};
  int runs = 0;
  for (const auto& without : kWithout) {
    Write("endpoints.json", without.bytes);
    const auto config = SharedConfig(file);
    EXPECT_EQ(config->Count(), 0u);
    EXPECT_THROW(config->GetEndpoint(u"OP0"), Error);
    EXPECT_EQ(LoadFileRunsForTesting(), ++runs);
  }
  Write("endpoints.json", EndpointFile("mended", 1));
  EXPECT_EQ(SharedConfig(file)->GetEndpoint(u"OP0").endpoint, u"/mended/0");
  EXPECT_EQ(SharedConfig(Missing())->GetEndpoint(u"OP0").endpoint, u"/mended/0");
  EXPECT_EQ(LoadFileRunsForTesting(), runs + 1);
}

TEST_F(ConfigTest, AFileLargerThan16MiBFailsAndIsNotKept) {
  std::string large = EndpointFile("big", 1);
  large += std::string(kMaxEndpointFileBytes + 1 - large.size(), ' ');
  const std::u16string file = Write("large.json", large);
  try {
    SharedConfig(file);
    ADD_FAILURE() << "no failure";
  } catch (const Error& error) {
    EXPECT_EQ(error.Message(),
              u"The endpoint file \"" + file + u"\" is larger than 16 MiB, the most it may hold.");
  }
  // One byte less is read.
  Write("large.json", large.substr(0, kMaxEndpointFileBytes));
  EXPECT_EQ(SharedConfig(file)->GetEndpoint(u"OP0").endpoint, u"/big/0");
}

}  // namespace
}  // namespace tessora
