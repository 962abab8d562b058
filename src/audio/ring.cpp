#include "audio/ring.h"

#include <bit>
#include <cstring>

uint32_t ring_size_for(uint32_t avg_bytes_per_sec) {
  uint64_t want = 2ull * avg_bytes_per_sec - 1;
  if (avg_bytes_per_sec == 0 || want < 65535) want = 65535;
  unsigned high = 63 - std::countl_zero(want);
  if (high >= 31) return 0;  // more than 2 GiB cannot be counted in 32-bit positions
  return 1u << (high + 1);
}

void ring_put_header(uint8_t* p, uint32_t frames, uint64_t device_position, uint64_t qpc_position) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(frames >> (8 * i));
  for (int i = 0; i < 8; ++i) p[4 + i] = static_cast<uint8_t>(device_position >> (8 * i));
  for (int i = 0; i < 8; ++i) p[12 + i] = static_cast<uint8_t>(qpc_position >> (8 * i));
}

void ring_get_header(const uint8_t* p, uint32_t* frames, uint64_t* device_position,
                     uint64_t* qpc_position) {
  uint32_t f = 0;
  uint64_t d = 0, q = 0;
  for (int i = 0; i < 4; ++i) f |= uint32_t{p[i]} << (8 * i);
  for (int i = 0; i < 8; ++i) d |= uint64_t{p[4 + i]} << (8 * i);
  for (int i = 0; i < 8; ++i) q |= uint64_t{p[12 + i]} << (8 * i);
  *frames = f;
  *device_position = d;
  *qpc_position = q;
}
