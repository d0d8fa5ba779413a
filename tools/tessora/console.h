// What the command-line host needs from the system besides loading the library: writing the
// library's ANSI text to the terminal, and the ANSI code page's rules.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessora::cli {

// Prepares standard output and error (Windows: binary mode, so response bytes pass unchanged).
void PrepareConsole();

// Writes text in the ANSI code page: bytes unchanged to a file or pipe; to a Windows console as
// the characters they stand for.
void WriteText(std::FILE* stream, std::string_view text);

// Converts UTF-8 text to the ANSI code page the library expects (characters it cannot hold
// become a close equivalent or "?").
std::string Utf8ToAnsi(std::string_view utf8);

// Whether `byte` starts a two-byte character in the ANSI code page.
bool IsAnsiLeadByte(unsigned char byte);

// The process's environment variables whose names begin with "TESSORANET_" (Windows: in any letter
// case, the name given in upper case, as Windows matches names), name and value (ANSI).
std::vector<std::pair<std::string, std::string>> LibraryVariables();

// The text in double quotes, as the tool's messages name files, values and operations.
inline std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace tessora::cli
