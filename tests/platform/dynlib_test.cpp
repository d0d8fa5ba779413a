#include "platform/dynlib.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>

#include "base/fault_injection.h"
#include "support/temp_dir.h"

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

#if defined(_WIN32)

// Sets PATH for as long as it lives.
class ScopedPath {
 public:
  explicit ScopedPath(const std::wstring& value) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(L"PATH", buffer, 32768);
    had_ = n > 0 && n < 32768;
    if (had_) previous_.assign(buffer, n);
    SetEnvironmentVariableW(L"PATH", value.c_str());
  }
  ~ScopedPath() { SetEnvironmentVariableW(L"PATH", had_ ? previous_.c_str() : nullptr); }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  bool had_ = false;
  std::wstring previous_;
};

// A library named without a folder is never taken from the current directory (whatever folder a
// host's file dialog moved to): one planted there would run inside the host. A folder of PATH
// still provides it. The probe leaves a file beside itself when it is loaded.
TEST(SharedLibraries, ANameAloneIsNotLookedForInTheCurrentDirectory) {
  test::TempDir dir;
  const std::filesystem::path probe = dir / "tessora-search-probe.dll";
  std::filesystem::copy_file(TESSORA_SEARCH_PROBE, probe);
  const std::filesystem::path marker = dir / "planted-module-loaded";
  {
    test::ScopedCurrentDir current(dir.Path());
    EXPECT_EQ(LoadSharedLibrary(u"tessora-search-probe.dll"), nullptr);
    // Nor through a relative folder of PATH, which is the current directory again.
    ScopedPath path(L".;bin");
    EXPECT_EQ(LoadSharedLibrary(u"tessora-search-probe.dll"), nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(marker));

  ScopedPath path(L"C:\\no-such-folder-7f3a;" + dir.Path().wstring());
  LibraryHandle library = LoadSharedLibrary(u"tessora-search-probe.dll");
  EXPECT_NE(library, nullptr);
  EXPECT_TRUE(std::filesystem::exists(marker));
  // Loaded now: the name alone finds it, whatever the search would say.
  ScopedPath none(L"");
  LibraryHandle again = LoadSharedLibrary(u"tessora-search-probe.dll");
  EXPECT_EQ(again, library);
  UnloadSharedLibrary(again);
  UnloadSharedLibrary(library);
}

// Nor are the imports of a library found in a folder: the DLL it imports, planted in the current
// directory, would run inside the host just the same.
TEST(SharedLibraries, TheImportsOfALibraryAreNotLookedForInTheCurrentDirectory) {
  test::TempDir found;
  test::TempDir current;
  std::filesystem::copy_file(TESSORA_IMPORT_PROBE, found / "tessora-import-probe.dll");
  std::filesystem::copy_file(TESSORA_IMPORTED_PROBE, current / "tessora-imported-probe.dll");
  test::ScopedCurrentDir here(current.Path());
  ScopedPath path(found.Path().wstring());
  EXPECT_EQ(LoadSharedLibrary(u"tessora-import-probe.dll"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(current / "planted-module-loaded"));

  // Beside it, the import is found.
  std::filesystem::copy_file(TESSORA_IMPORTED_PROBE, found / "tessora-imported-probe.dll");
  LibraryHandle library = LoadSharedLibrary(u"tessora-import-probe.dll");
  EXPECT_NE(library, nullptr);
  EXPECT_TRUE(std::filesystem::exists(found / "planted-module-loaded"));
  EXPECT_FALSE(std::filesystem::exists(current / "planted-module-loaded"));
  UnloadSharedLibrary(library);
}

#endif

TEST(SharedLibraries, NullHandleIsHarmless) {
  EXPECT_EQ(LibraryFunction(nullptr, kSystemFunction), nullptr);
  UnloadSharedLibrary(nullptr);
  EXPECT_FALSE(ProcessIsExiting());
}

}  // namespace
}  // namespace tessora::platform
