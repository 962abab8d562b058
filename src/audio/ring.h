#pragma once
// The mirrored packet ring: one block of memory mapped twice, back to back,
// so a packet that runs past the end is still one contiguous block.
#include <cstdint>

// Smallest power of two holding two seconds of audio, at least 64 KiB.
uint32_t ring_size_for(uint32_t avg_bytes_per_sec);

// Maps `size` bytes (a power of two, a multiple of the page size) twice in a
// row. Returns null on failure.
uint8_t* ring_map(uint32_t size);
void ring_unmap(uint8_t* ring, uint32_t size);

// Little-endian, unaligned packet header fields.
void ring_put_header(uint8_t* p, uint32_t frames, uint64_t device_position, uint64_t qpc_position);
void ring_get_header(const uint8_t* p, uint32_t* frames, uint64_t* device_position,
                     uint64_t* qpc_position);
