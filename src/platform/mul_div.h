#pragma once
// a * b / c on a 128-bit product, for converting between clocks and sample
// rates where the product overflows 64 bits. 0 when c is 0.
#include <cstdint>

// `d` is added before the division: c - 1 rounds up.
inline uint64_t mul_div(uint64_t a, uint64_t b, uint64_t c, uint64_t d = 0) {
  if (c == 0) return 0;
  return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b + d) / c);
}

// Signed times (a stamp before the first frame is negative); the quotient is
// cut towards zero.
inline int64_t mul_div_signed(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  return static_cast<int64_t>(static_cast<__int128>(a) * b / c);
}
