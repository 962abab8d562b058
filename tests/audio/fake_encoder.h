#pragma once
// Stands in for the encoder's audio intake: records every block it accepts
// and refuses on request.
#include <cstdint>
#include <vector>

struct SubmittedBlock {
  std::vector<uint8_t> bytes;
  uint32_t frames = 0;
  int64_t time = 0;
  int64_t time_base = 0;
};

struct FakeEncoder {
  std::vector<SubmittedBlock> blocks;
  uint32_t block_align = 8;  // bytes kept per frame
  bool refuse = false;
  uint32_t refusals = 0;
};

extern FakeEncoder g_fake_encoder;
