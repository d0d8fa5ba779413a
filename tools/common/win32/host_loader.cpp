// Windows: the library is loaded with LoadLibrary, and a failure leaves an export as a
// non-continuable structured exception. MinGW has no __try, so the catch is built by hand: an
// i386 exception registration frame on the stack whose handler unwinds the frames above it and
// jumps back into CatchHostFailure.
#include "host_loader.h"

#include <windows.h>

#include <cstring>

#include "TessoraNet.h"

namespace tessora::host {

namespace {

std::string SystemMessage(DWORD code) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
    --n;
  std::string message(text, n);
  return message.empty() ? "system error " + std::to_string(code) : message;
}

}  // namespace

Library::Library(const std::string& path) {
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) error_ = SystemMessage(GetLastError());
}

Library::~Library() {
  if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}

void* Library::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

std::string Library::FilePath() const {
  if (handle_ == nullptr) return {};
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(handle_), path, MAX_PATH);
  return std::string(path, n);
}

std::string Library::ResourceVersion() const {
  // The fixed part of the module's VS_VERSION_INFO resource, read from the loaded image.
  if (handle_ == nullptr) return {};
  const auto module = reinterpret_cast<HMODULE>(handle_);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
  const DWORD size = SizeofResource(module, found);
  if (data == nullptr) return {};
  // VS_FIXEDFILEINFO starts with the signature 0xFEEF04BD, on a 32-bit boundary.
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, data + at, sizeof info);
    if (info.dwSignature != 0xFEEF04BD) continue;
    return std::to_string(HIWORD(info.dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info.dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info.dwFileVersionLS));
  }
  return {};
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string full(path, n);
  const std::size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}

std::string LibraryNextToProgram() {
  return ProgramDirectory() + "\\TessoraNet.dll";
}

namespace {

// An exception registration record on the stack, as the i386 structured exception chain wants it,
// followed by what the handler needs to land back in CatchHostFailure.
struct CatchFrame {
  CatchFrame* prev;
  void* handler;
  void* jumpBuffer[5];
  char message[1024];
};

CatchFrame* ChainHead() {
  CatchFrame* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetChainHead(CatchFrame* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl CatchHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT*, void*) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      record->ExceptionCode != TESSORANET_FAILURE_CODE) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<CatchFrame*>(establisher);
  const char* message = record->NumberParameters >= 1 && record->ExceptionInformation[0] != 0
                            ? reinterpret_cast<const char*>(record->ExceptionInformation[0])
                            : "";
  lstrcpynA(frame->message, message, sizeof frame->message);
  // Unwind the frames registered above ours, then land in CatchHostFailure.
  RtlUnwind(establisher, nullptr, record, nullptr);
  __builtin_longjmp(frame->jumpBuffer, 1);
}

}  // namespace

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  CatchFrame frame{};
  frame.prev = ChainHead();
  frame.handler = reinterpret_cast<void*>(&CatchHandler);
  SetChainHead(&frame);
  if (__builtin_setjmp(frame.jumpBuffer) == 0) {
    call();
    SetChainHead(frame.prev);
    return std::nullopt;
  }
  SetChainHead(frame.prev);
  return std::string(frame.message);
}

}  // namespace tessora::host
