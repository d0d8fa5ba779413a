// Windows: the library is loaded with LoadLibrary, and a failure leaves an export as a
// non-continuable structured exception. MinGW has no __try, so the catch is built by hand:
//   - 32-bit: an i386 exception registration frame on the stack whose handler unwinds the frames
//     above it and jumps back into CatchHostFailure;
//   - 64-bit: exception handling is table-based there, so a vectored handler, called before any
//     frame's handler, sees the failure while a CatchHostFailure of the thread waits for it. It
//     lets the system's dispatcher resume in a landing function that jumps back into
//     CatchHostFailure. The frames skipped are the library's export, which has destroyed its own
//     objects before it raises, and those of the call itself.
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

#if defined(__i386__)

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

#elif defined(__x86_64__)

namespace {

// A CatchHostFailure waiting on this thread (the innermost; each keeps the one it covers).
struct CatchFrame {
  CatchFrame* prev;
  void* jumpBuffer[5];
  char message[1024];
};

thread_local CatchFrame* tCatchFrame = nullptr;

[[noreturn]] void LandInCatchFrame() {
  __builtin_longjmp(tCatchFrame->jumpBuffer, 1);
}

LONG CALLBACK CatchHandler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  CatchFrame* frame = tCatchFrame;
  if (frame == nullptr || record->ExceptionCode != TESSORANET_FAILURE_CODE) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const char* message = record->NumberParameters >= 1 && record->ExceptionInformation[0] != 0
                            ? reinterpret_cast<const char*>(record->ExceptionInformation[0])
                            : "";
  lstrcpynA(frame->message, message, sizeof frame->message);
  // Resume in LandInCatchFrame on the stack of the raise, below its frames (16-byte aligned, then
  // the return address's slot, as at a function's entry): the dispatcher is left as it expects,
  // and the jump happens outside it.
  CONTEXT* context = info->ContextRecord;
  context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  context->Rip = reinterpret_cast<DWORD64>(&LandInCatchFrame);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  static const PVOID kHandler = AddVectoredExceptionHandler(1, &CatchHandler);
  (void)kHandler;
  CatchFrame frame{};
  frame.prev = tCatchFrame;
  tCatchFrame = &frame;
  if (__builtin_setjmp(frame.jumpBuffer) == 0) {
    call();
    tCatchFrame = frame.prev;
    return std::nullopt;
  }
  tCatchFrame = frame.prev;
  return std::string(frame.message);
}

#else
#error "CatchHostFailure knows the exception handling of i386 and x86-64 only"
#endif

}  // namespace tessora::host
