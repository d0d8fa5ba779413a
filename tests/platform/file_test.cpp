#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/error.h"
#include "base/fault_injection.h"
#include "support/failure_of.h"
#include "support/temp_dir.h"

namespace tessora::platform {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::u16string TextPath(const std::filesystem::path& path) {
  return path.u16string();
}

using test::FailureOf;

class FileTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearFaults(); }
  TempDir dir_;
};

TEST_F(FileTest, AppendCreatesAnAbsentFileAndAppendsToAnExistingOne) {
  const auto path = dir_ / "log.txt";
  {
    auto file = File::OpenAppend(TextPath(path));
    EXPECT_TRUE(file->Write("one\r\n"));
  }
  {
    auto file = File::OpenAppend(TextPath(path));
    EXPECT_TRUE(file->Write("two\r\n"));
  }
  EXPECT_EQ(ReadFileBytes(path), "one\r\ntwo\r\n");
}

TEST_F(FileTest, ReadGivesTheWholeFile) {
  const auto path = dir_ / "endpoints.json";
  const std::string data(200000, 'x');
  WriteFileBytes(path, data);
  EXPECT_EQ(File::OpenRead(TextPath(path))->ReadAll(data.size()), data);
  // A limit reads at most one byte more than it, so that the caller can tell a larger file.
  EXPECT_EQ(File::OpenRead(TextPath(path))->ReadAll(1000), std::string(1001, 'x'));
  EXPECT_EQ(File::OpenRead(TextPath(path))->ReadAll(0), "x");
}

TEST_F(FileTest, ReadRefusesADirectory) {
  const Error error = FailureOf([&] { File::OpenRead(TextPath(dir_.Path())); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(error.Message().rfind(u"Cannot open file \"", 0), 0u);
}

#if !defined(_WIN32)
// Opening a FIFO for reading used to wait for a writer without end (holding the catalogue's lock,
// so every thread's call waited too); a device such as /dev/zero never ends.
TEST_F(FileTest, ReadRefusesWhatIsNotARegularFileWithoutWaiting) {
  const auto fifo = dir_ / "fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::u16string& path : {TextPath(fifo), std::u16string(u"/dev/zero")}) {
    const Error error = FailureOf([&] { File::OpenRead(path); });
    EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
    EXPECT_EQ(error.Message(),
              u"Cannot open file \"" + ExpandFileName(path) + u"\". It is not a regular file");
  }
}
#endif

TEST_F(FileTest, ReadersShareAFileButAWriterIsRefused) {
  const auto path = dir_ / "shared.txt";
  WriteFileBytes(path, "data");
  auto first = File::OpenRead(TextPath(path));
  auto second = File::OpenRead(TextPath(path));  // another reader is fine
  const Error error = FailureOf([&] { File::OpenAppend(TextPath(path)); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
}

TEST_F(FileTest, AWriterRefusesReadersAndOtherWriters) {
  const auto path = dir_ / "held.txt";
  auto writer = File::OpenAppend(TextPath(path));
  const Error read = FailureOf([&] { File::OpenRead(TextPath(path)); });
  EXPECT_EQ(read.Kind(), ErrorKind::kFileOpen);
  const std::u16string prefix = u"Cannot open file \"" + ExpandFileName(TextPath(path)) + u"\". ";
  EXPECT_EQ(read.Message().substr(0, prefix.size()), prefix);
  EXPECT_GT(read.Message().size(), prefix.size());
  const Error write = FailureOf([&] { File::OpenAppend(TextPath(path)); });
  EXPECT_EQ(write.Kind(), ErrorKind::kFileOpen);
}

TEST_F(FileTest, AMissingFileGivesTheSystemMessageWithTheFullPath) {
  test::ScopedCurrentDir cwd(dir_.Path());
  const Error error = FailureOf([] { File::OpenRead(u"missing.json"); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  const std::u16string expected = u"Cannot open file \"" + ExpandFileName(u"missing.json") +
                                  u"\". " + SystemErrorMessage(error.Code());
  EXPECT_EQ(error.Message(), expected);
  EXPECT_NE(error.Message().back(), u'.');
  EXPECT_NE(ExpandFileName(u"missing.json"), u"missing.json");
}

TEST_F(FileTest, AFileThatCannotBeCreatedRaisesTheCreateFailure) {
  const auto path = dir_ / "no-such-dir" / "log.txt";
  const Error error = FailureOf([&] { File::OpenAppend(TextPath(path)); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileCreate);
  const std::u16string prefix = u"Cannot create file \"";
  EXPECT_EQ(error.Message().substr(0, prefix.size()), prefix);
}

TEST_F(FileTest, InjectedFaultsFailTheNextOpenOnly) {
  const auto path = dir_ / "x.txt";
  WriteFileBytes(path, "x");
  InjectFault(Fault::kFileOpen, 5);
  const Error error = FailureOf([&] { File::OpenRead(TextPath(path)); });
  EXPECT_EQ(error.Code(), 5);
  EXPECT_NO_THROW(File::OpenRead(TextPath(path)));
}

// The log is opened in a folder others may write to (the host's current directory): a link
// planted in its place must not make the library write, or create, a file elsewhere.
TEST_F(FileTest, AppendRefusesALinkInThePlaceOfTheFile) {
  const auto path = dir_ / "log.txt";
  WriteFileBytes(path, "earlier\r\n");
  InjectFault(Fault::kLinkedFile, 1);
  const Error error = FailureOf([&] { File::OpenAppend(TextPath(path)); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(ReadFileBytes(path), "earlier\r\n");
  File::OpenAppend(TextPath(path))->Write("later\r\n");  // the fault was for one open only
  EXPECT_EQ(ReadFileBytes(path), "earlier\r\nlater\r\n");
}

// A hard link in the place of the log is refused: the records would go into the other file too.
TEST_F(FileTest, AppendRefusesAFileWithAnotherName) {
  const auto target = dir_ / "profile.txt";
  WriteFileBytes(target, "export A=1\n");
  const auto link = dir_ / "log.txt";
  std::filesystem::create_hard_link(target, link);
  EXPECT_EQ(FailureOf([&] { File::OpenAppend(TextPath(link)); }).Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(ReadFileBytes(target), "export A=1\n");
  // Once it has one name again, it is the user's log.
  std::filesystem::remove(target);
  File::OpenAppend(TextPath(link))->Write("ours\r\n");
  EXPECT_EQ(ReadFileBytes(link), "export A=1\nours\r\n");
}

#if !defined(_WIN32)
TEST_F(FileTest, AppendFollowsNoSymbolicLink) {
  const auto target = dir_ / "target.txt";
  WriteFileBytes(target, "secret\n");
  const auto link = dir_ / "log.txt";
  std::filesystem::create_symlink(target, link);
  const Error error = FailureOf([&] { File::OpenAppend(TextPath(link)); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(ReadFileBytes(target), "secret\n");

  // A dangling link's target is not created.
  const auto dangling = dir_ / "dangling.txt";
  std::filesystem::create_symlink(dir_ / "created-elsewhere.txt", dangling);
  EXPECT_EQ(FailureOf([&] { File::OpenAppend(TextPath(dangling)); }).Kind(), ErrorKind::kFileOpen);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "created-elsewhere.txt"));
}

// A FIFO in the place of the log is refused at once, whether anybody reads it or not: records
// would go to whoever reads, or the writes would wait for a reader.
TEST_F(FileTest, AppendRefusesAFifoWithoutWaiting) {
  const auto path = dir_ / "log.txt";
  ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
  EXPECT_EQ(FailureOf([&] { File::OpenAppend(TextPath(path)); }).Kind(), ErrorKind::kFileOpen);
}

// A log another user left in a folder both may write to is not written to.
TEST_F(FileTest, AppendRefusesAFileOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const auto path = dir_ / "log.txt";
  WriteFileBytes(path, "planted\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  const Error error = FailureOf([&] { File::OpenAppend(TextPath(path)); });
  EXPECT_EQ(error.Kind(), ErrorKind::kFileOpen);
  EXPECT_EQ(ReadFileBytes(path), "planted\r\n");
  ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
  File::OpenAppend(TextPath(path))->Write("ours\r\n");
  EXPECT_EQ(ReadFileBytes(path), "planted\r\nours\r\n");
}

TEST_F(FileTest, ACreatedLogIsPrivateToTheUser) {
  const auto path = dir_ / "log.txt";
  File::OpenAppend(TextPath(path));
  const auto permissions = std::filesystem::status(path).permissions();
  using std::filesystem::perms;
  EXPECT_EQ(permissions & (perms::group_all | perms::others_all), perms::none);
  EXPECT_EQ(permissions & perms::owner_all, perms::owner_read | perms::owner_write);
}
#endif

#if defined(_WIN32)
// A new log's access list is its own, not the folder's, which may let every local user read it:
// none of its entries allows anything to everyone, to the users of the machine or to the
// authenticated users.
TEST_F(FileTest, ACreatedLogIsPrivateToTheUser) {
  const auto path = dir_ / "log.txt";
  File::OpenAppend(TextPath(path));
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);  // a null list would allow everybody everything
  int ownEntries = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    for (const WELL_KNOWN_SID_TYPE everybody :
         {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid, WinInteractiveSid}) {
      EXPECT_FALSE(IsWellKnownSid(sid, everybody)) << "entry " << i;
    }
    ++ownEntries;
  }
  LocalFree(descriptor);
  EXPECT_GT(ownEntries, 0);
}
#endif

// A log of 4 GiB or more is appended to, not written over from its start.
TEST_F(FileTest, AppendGoesToTheEndOfAFileOfMoreThan4GiB) {
  const auto path = dir_ / "log.txt";
  WriteFileBytes(path, "head");
  constexpr std::uintmax_t kSize = (std::uintmax_t{1} << 32) + 16;
  std::error_code error;
  std::filesystem::resize_file(path, kSize, error);  // sparse where the file system allows it
  if (error) GTEST_SKIP() << "no file of that size here: " << error.message();
  {
    auto file = File::OpenAppend(TextPath(path));
    EXPECT_TRUE(file->Write("tail"));
  }
  EXPECT_EQ(std::filesystem::file_size(path), kSize + 4);
  EXPECT_EQ(File::OpenRead(TextPath(path))->ReadAll(3), "head");
}

#if !defined(_WIN32)
// A write beyond the process's file size limit fails like one on a full disk; the host lives on.
TEST_F(FileTest, AWriteBeyondTheFileSizeLimitFailsWithoutEndingTheProcess) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  if (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur < 8192) GTEST_SKIP();
  const auto path = dir_ / "log.txt";
  auto file = File::OpenAppend(TextPath(path));
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool first = file->Write(std::string(4096, 'a'));
  const bool second = file->Write("b");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGXFSZ), 0);  // nothing left to strike later
  EXPECT_TRUE(file->Write("c"));
  EXPECT_EQ(ReadFileBytes(path), std::string(4096, 'a') + "c");
}
#endif

TEST(SystemMessage, LosesTrailingBlanksLineBreaksAndPeriods) {
  EXPECT_EQ(TrimSystemMessage(u"Access is denied. \r\n"), u"Access is denied");
  EXPECT_EQ(TrimSystemMessage(u"...."), u"");
  EXPECT_EQ(TrimSystemMessage(u"v1.2 ok"), u"v1.2 ok");
}

TEST(ExpandFileName, ResolvesRelativePathsAgainstTheCurrentDirectory) {
  TempDir dir;
  test::ScopedCurrentDir cwd(dir.Path());
  const std::u16string full = ExpandFileName(u"a/../b.json");
  EXPECT_EQ(std::filesystem::path(full), std::filesystem::current_path() / "b.json");
  EXPECT_EQ(ExpandFileName(full), full);
}

}  // namespace
}  // namespace tessora::platform
