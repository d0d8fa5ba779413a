#include "platform/dynlib.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>

#include "base/fault_injection.h"

namespace tessora::platform {
namespace {

#if defined(_WIN32)
constexpr char16_t kSystemLibrary[] = u"kernel32.dll";
constexpr char kSystemFunction[] = "GetTickCount";
#else
constexpr char16_t kSystemLibrary[] = u"libc.so.6";
constexpr char kSystemFunction[] = "strlen";
#endif

TEST(SharedLibraries, LoadLookUpUnload) {
  LibraryHandle library = LoadSharedLibrary(kSystemLibrary);
  ASSERT_NE(library, nullptr);
  EXPECT_NE(LibraryFunction(library, kSystemFunction), nullptr);
  EXPECT_EQ(LibraryFunction(library, "NoSuchFunctionAnywhere"), nullptr);
  UnloadSharedLibrary(library);
}

TEST(SharedLibraries, MissingFileGivesNothing) {
  EXPECT_EQ(LoadSharedLibrary(u"no-such-library-7f3a.dll"), nullptr);
}

TEST(SharedLibraries, InjectedFaultFailsTheLoad) {
  InjectFault(Fault::kLoadLibrary, 126);
  EXPECT_EQ(LoadSharedLibrary(kSystemLibrary), nullptr);
  LibraryHandle library = LoadSharedLibrary(kSystemLibrary);
  EXPECT_NE(library, nullptr);
  UnloadSharedLibrary(library);
  ClearFaults();
}

std::filesystem::path ProgramFile() {
#if defined(_WIN32)
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

// The code is linked into this program, so its module is the program.
TEST(SharedLibraries, ModuleDirectoryIsTheFolderOfTheModuleHoldingTheCode) {
  const std::u16string directory = ModuleDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.back(), u'/');
  EXPECT_NE(directory.back(), u'\\');
  EXPECT_TRUE(
      std::filesystem::equivalent(std::filesystem::path(directory), ProgramFile().parent_path()));
}

TEST(SharedLibraries, NullHandleIsHarmless) {
  EXPECT_EQ(LibraryFunction(nullptr, kSystemFunction), nullptr);
  UnloadSharedLibrary(nullptr);
  EXPECT_FALSE(ProcessIsExiting());
}

}  // namespace
}  // namespace tessora::platform
