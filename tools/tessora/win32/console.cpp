// Windows: the ANSI code page is GetACP(); consoles get the text as UTF-16, so it shows right
// whatever the console's own code page is.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "console.h"

// No wildcard expansion of the command line: --query name=* must reach the library as typed.
extern "C" {
int _dowildcard = 0;  // NOLINT(readability-identifier-naming): the run-time's name
}

namespace tessora::cli {

void PrepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void WriteText(std::FILE* stream, std::string_view text) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) && !text.empty() &&
      text.size() < 0x7FFFFFFF) {
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::vector<wchar_t> chars(static_cast<std::size_t>(wide > 0 ? wide : 1));
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, chars.data(), wide);
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, chars.data(), static_cast<DWORD>(wide), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (utf8.empty() || utf8.size() >= 0x7FFFFFFF) return std::string(utf8);
  const int length = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (wide <= 0) return std::string(utf8);
  std::vector<wchar_t> chars(static_cast<std::size_t>(wide));
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, chars.data(), wide);
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, chars.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, chars.data(), wide, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

bool IsAnsiLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

std::vector<std::pair<std::string, std::string>> LibraryVariables() {
  std::vector<std::pair<std::string, std::string>> found;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return found;
  constexpr std::wstring_view kPrefix = L"TESSORANET_";
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    // (Entries such as "=C:=C:\work" name a drive's folder: their name begins after the "=".)
    const std::size_t equals = text.find(L'=', 1);
    if (equals == std::wstring_view::npos || equals < kPrefix.size()) continue;
    std::wstring name(text.substr(0, equals));
    for (wchar_t& c : name) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    if (name.rfind(kPrefix, 0) != 0) continue;
    // As the library reads them: in the ANSI code page.
    auto ansi = [](std::wstring_view wide) {
      if (wide.empty() || wide.size() > 32767) return std::string();
      const int length = static_cast<int>(wide.size());
      const int size =
          WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
      std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
      if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
      }
      return bytes;
    };
    found.emplace_back(ansi(name), ansi(text.substr(equals + 1)));
  }
  FreeEnvironmentStringsW(block);
  return found;
}

}  // namespace tessora::cli
