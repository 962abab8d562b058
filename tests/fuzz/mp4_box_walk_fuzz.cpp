// Any bytes as the first part of a recording file: the top-level box walk
// must neither crash nor read outside them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recording/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The walk sees at most the first 64 KiB of a file. A private copy of
  // exactly that length lets the address sanitizer catch a read one past it.
  size_t n = size < 65536 ? size : 65536;
  std::vector<uint8_t> bytes(data, data + n);
  mp4_prefix_is_crash_safe(bytes.data(), bytes.size());
  return 0;
}
