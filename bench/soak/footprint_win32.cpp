// Windows: the working set (GetProcessMemoryInfo), GetProcessHandleCount and the process's
// entries in a thread snapshot. Wine answers GetProcessHandleCount with 0 (a stub); the handles
// are then counted in the system's handle table, which Wine does keep.
#include <windows.h>
// (after windows.h)
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "footprint.h"

namespace tessora::soak {
namespace {

// An entry of the system handle table (NtQuerySystemInformation, class 16) and the table's head.
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE handleFlags;
  USHORT handleValue;
  PVOID objectPointer;
  ULONG accessMask;
};

struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry handles[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// This process's entries in the system handle table; 0 when it cannot be read.
int HandlesInSystemTable() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = ntdll != nullptr
                         ? reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
                               GetProcAddress(ntdll, "NtQuerySystemInformation")))
                         : nullptr;
  if (query == nullptr) return 0;
  std::vector<unsigned char> buffer(1 << 16);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
      if (table->handles[i].ownerPid == self) ++count;
    }
    return count;
  }
  return 0;
}

}  // namespace

Footprint MeasureFootprint() {
  Footprint footprint;
  const HANDLE process = GetCurrentProcess();
  PROCESS_MEMORY_COUNTERS counters{};
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    footprint.memoryBytes = static_cast<long long>(counters.WorkingSetSize);
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(process, &handles)) footprint.handles = static_cast<int>(handles);
  if (footprint.handles == 0) footprint.handles = HandlesInSystemTable();
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == self) ++footprint.threads;
    }
    CloseHandle(snapshot);
  }
  return footprint;
}

const char* HandlesName() {
  return "handles";
}

}  // namespace tessora::soak
