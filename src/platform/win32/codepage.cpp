// Windows code pages: GetACP read at load, MultiByteToWideChar / WideCharToMultiByte without flags.
#include "platform/codepage.h"

#include <windows.h>

#include <climits>

#include "base/fault_injection.h"

namespace tessora::platform {

namespace {

UINT gAnsiCodePage = CP_ACP;

int ClampLength(std::size_t count) {
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

bool Decode(UINT codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return true;
  const int inLength = ClampLength(bytes.size());
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), inLength, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(codePage, 0, bytes.data(), inLength,
                             reinterpret_cast<wchar_t*>(out.data()), n) == n;
}

}  // namespace

void InitAnsiCodePage() {
  gAnsiCodePage = GetACP();
}

unsigned AnsiCodePage() {
  return gAnsiCodePage;
}

std::u16string AnsiToText(std::string_view bytes) {
  std::u16string text;
  Decode(gAnsiCodePage, bytes, text);
  return text;
}

std::string TextToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int inLength = ClampLength(text.size());
  const int n = WideCharToMultiByte(gAnsiCodePage, 0, wide, inLength, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(gAnsiCodePage, 0, wide, inLength, out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::u16string> CodePageToText(unsigned codePage, std::string_view bytes) {
  if (TakeFault(Fault::kCodePage) != 0) return std::nullopt;
  if (!IsValidCodePage(codePage)) return std::nullopt;
  std::u16string text;
  if (!Decode(codePage, bytes, text)) return std::nullopt;
  return text;
}

}  // namespace tessora::platform
