// The mirrored ring on Windows: a pagefile-backed section mapped twice, back
// to back, so a packet that wraps at the end is still one contiguous span.
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

namespace {
// Both halves in one reserved placeholder: nothing else can take the second
// half between the two views. Null when the system has no placeholders.
uint8_t* map_into_placeholder(HANDLE section, uint32_t size) {
  static const auto VirtualAlloc2 = kernelbase<VirtualAlloc2Fn>("VirtualAlloc2");
  static const auto MapViewOfFile3 = kernelbase<MapViewOfFile3Fn>("MapViewOfFile3");
  if (!VirtualAlloc2 || !MapViewOfFile3) return nullptr;
  auto* base = static_cast<uint8_t*>(VirtualAlloc2(nullptr, nullptr, 2 * size_t{size},
                                                   MEM_RESERVE | MEM_RESERVE_PLACEHOLDER, PAGE_NOACCESS, nullptr, 0));
  if (!base) return nullptr;
  // Two placeholders of one size each; a view then replaces each of them.
  if (!VirtualFree(base, size, MEM_RELEASE | MEM_PRESERVE_PLACEHOLDER)) {
    VirtualFree(base, 0, MEM_RELEASE);
    return nullptr;
  }
  void* first = MapViewOfFile3(section, nullptr, base, 0, size, MEM_REPLACE_PLACEHOLDER, PAGE_READWRITE, nullptr, 0);
  void* second =
      first ? MapViewOfFile3(section, nullptr, base + size, 0, size, MEM_REPLACE_PLACEHOLDER, PAGE_READWRITE, nullptr, 0)
            : nullptr;
  if (!first || !second) {
    if (first) UnmapViewOfFileEx(first, 0);
    VirtualFree(first ? base + size : base, 0, MEM_RELEASE);
    if (!first) VirtualFree(base + size, 0, MEM_RELEASE);
    return nullptr;
  }
  return base;
}

// Without placeholders (Wine, for one): find a free range of both halves,
// give it back and map the two views into it; another thread may take the
// range in between, so a few tries.
uint8_t* map_into_free_range(HANDLE section, uint32_t size) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    void* range = VirtualAlloc(nullptr, 2 * size_t{size}, MEM_RESERVE, PAGE_NOACCESS);
    if (!range) return nullptr;
    VirtualFree(range, 0, MEM_RELEASE);
    auto* base = static_cast<uint8_t*>(range);
    void* first = MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, size, base);
    void* second = first ? MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, size, base + size) : nullptr;
    if (first && second) return base;
    if (first) UnmapViewOfFile(first);
  }
  return nullptr;
}
}  // namespace

uint8_t* ring_map(uint32_t size) {
  if (size == 0 || (size & (size - 1)) != 0) return nullptr;
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr);
  if (!section) return nullptr;
  uint8_t* ring = map_into_placeholder(section, size);
  if (!ring) ring = map_into_free_range(section, size);
  CloseHandle(section);  // the views keep the memory alive
  return ring;
}

void ring_unmap(uint8_t* ring, uint32_t size) {
  if (!ring) return;
  UnmapViewOfFileEx(ring, 0);
  UnmapViewOfFileEx(ring + size, 0);
}
