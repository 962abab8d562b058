// The audio ring on the system's placeholder memory: one section seen
// twice, back to back, so a packet across the end is one contiguous span.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/ring.h"

namespace {
TEST(RingWin32, BothHalvesAreTheSameMemory) {
  for (uint32_t size : {65536u, 1u << 20}) {
    uint8_t* ring = ring_map(size);
    ASSERT_NE(ring, nullptr) << size;
    // A packet written across the end reads back whole from the start.
    const char packet[] = "across the end";
    std::memcpy(ring + size - 5, packet, sizeof packet);
    EXPECT_EQ(std::memcmp(ring + 2 * size - 5, packet, 5), 0);
    EXPECT_EQ(std::memcmp(ring, packet + 5, sizeof packet - 5), 0);
    ring[size + 7] = 0xA5;
    EXPECT_EQ(ring[7], 0xA5);
    ring_unmap(ring, size);
  }
  // Mapping and unmapping again finds the address space free.
  for (int i = 0; i < 64; ++i) {
    uint8_t* ring = ring_map(65536);
    ASSERT_NE(ring, nullptr) << i;
    ring_unmap(ring, 65536);
  }
}

TEST(RingWin32, SizesThatAreNoPowerOfTwoAreRefused) {
  for (uint32_t size : {0u, 65535u, 3u * 65536u}) EXPECT_EQ(ring_map(size), nullptr) << size;
}
}  // namespace
