// The mirrored ring on Windows: a pagefile-backed section mapped twice into
// one reserved placeholder that is split in halves, so a packet that wraps
// at the end is still one contiguous span and no other allocation can land
// between the two views.
#include <windows.h>

// The toolchain's headers lack the placeholder flags.
#ifndef MEM_RESERVE_PLACEHOLDER
#define MEM_RESERVE_PLACEHOLDER 0x00040000
#define MEM_REPLACE_PLACEHOLDER 0x00004000
#define MEM_PRESERVE_PLACEHOLDER 0x00000002
#endif

#include "audio/ring.h"

namespace {
// The placeholder calls (Windows 10 1803 on) live in kernelbase.dll and the
// toolchain's import libraries lack them; they are looked up once.
using VirtualAlloc2Fn = PVOID(WINAPI*)(HANDLE, PVOID, SIZE_T, ULONG, ULONG, void*, ULONG);
using MapViewOfFile3Fn = PVOID(WINAPI*)(HANDLE, HANDLE, PVOID, ULONG64, SIZE_T, ULONG, ULONG, void*, ULONG);

template <typename Fn>
Fn kernelbase(const char* name) {
  HMODULE module = GetModuleHandleW(L"kernelbase.dll");
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
}  // namespace

uint8_t* ring_map(uint32_t size) {
  if (size == 0 || (size & (size - 1)) != 0) return nullptr;
  static const auto VirtualAlloc2 = kernelbase<VirtualAlloc2Fn>("VirtualAlloc2");
  static const auto MapViewOfFile3 = kernelbase<MapViewOfFile3Fn>("MapViewOfFile3");
  if (!VirtualAlloc2 || !MapViewOfFile3) return nullptr;
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr);
  if (!section) return nullptr;
  auto* base = static_cast<uint8_t*>(VirtualAlloc2(nullptr, nullptr, 2 * size_t{size},
                                                   MEM_RESERVE | MEM_RESERVE_PLACEHOLDER, PAGE_NOACCESS, nullptr, 0));
  if (!base) {
    CloseHandle(section);
    return nullptr;
  }
  // Two placeholders of one size each; a view then replaces each of them.
  if (!VirtualFree(base, size, MEM_RELEASE | MEM_PRESERVE_PLACEHOLDER)) {
    VirtualFree(base, 0, MEM_RELEASE);
    CloseHandle(section);
    return nullptr;
  }
  void* first = MapViewOfFile3(section, nullptr, base, 0, size, MEM_REPLACE_PLACEHOLDER, PAGE_READWRITE, nullptr, 0);
  void* second =
      first ? MapViewOfFile3(section, nullptr, base + size, 0, size, MEM_REPLACE_PLACEHOLDER, PAGE_READWRITE, nullptr, 0)
            : nullptr;
  CloseHandle(section);  // the views keep the memory alive
  if (!first || !second) {
    if (first) UnmapViewOfFileEx(first, 0);
    VirtualFree(first ? base + size : base, 0, MEM_RELEASE);
    if (!first) VirtualFree(base + size, 0, MEM_RELEASE);
    return nullptr;
  }
  return base;
}

void ring_unmap(uint8_t* ring, uint32_t size) {
  if (!ring) return;
  UnmapViewOfFileEx(ring, 0);
  UnmapViewOfFileEx(ring + size, 0);
}
