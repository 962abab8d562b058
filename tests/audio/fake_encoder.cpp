#include "fake_encoder.h"

#include <cstring>

FakeEncoder g_fake_encoder;

bool encoder_submit_audio(const void* data, uint32_t frames, int64_t time, int64_t time_base) {
  if (g_fake_encoder.refuse) {
    ++g_fake_encoder.refusals;
    return false;
  }
  SubmittedBlock b;
  b.bytes.resize(size_t{frames} * g_fake_encoder.block_align);
  std::memcpy(b.bytes.data(), data, b.bytes.size());
  b.frames = frames;
  b.time = time;
  b.time_base = time_base;
  g_fake_encoder.blocks.push_back(std::move(b));
  return true;
}
