// The mirrored ring on Linux: one shared-memory object mapped twice, back to
// back, so a packet that wraps at the end is still one contiguous span.
#include <sys/mman.h>
#include <unistd.h>

#include "audio/ring.h"

uint8_t* ring_map(uint32_t size) {
  if (size == 0 || (size & (size - 1)) != 0) return nullptr;
  int fd = memfd_create("frelvanta-audio-ring", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, size) != 0) {
    close(fd);
    return nullptr;
  }
  // Reserve both halves first so nothing else can land in the second one.
  void* base = mmap(nullptr, 2 * size_t{size}, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  auto* b = static_cast<uint8_t*>(base);
  void* first = mmap(b, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
  void* second = mmap(b + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
  close(fd);  // the mappings keep the memory alive
  if (first == MAP_FAILED || second == MAP_FAILED) {
    munmap(b, 2 * size_t{size});
    return nullptr;
  }
  return b;
}

void ring_unmap(uint8_t* ring, uint32_t size) {
  if (ring) munmap(ring, 2 * size_t{size});
}
