#pragma once
// Shared pieces of the encoder tests: a temporary folder, synthetic screen
// pictures and audio, and waiting for the worker.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "video/encode/encoder.h"

// A desktop-like picture: flat background, a few "windows" with text-like
// stripes, and a box that moves with the frame number.
struct ScreenPicture {
  int32_t width, height;
  std::vector<uint8_t> pixels;
  ScreenPicture(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4) {}
  BgraImage image() const { return {pixels.data(), width, height, width * 4}; }
  void fill(uint8_t b, uint8_t g, uint8_t r) {
    for (size_t i = 0; i < pixels.size(); i += 4) {
      pixels[i] = b; pixels[i + 1] = g; pixels[i + 2] = r; pixels[i + 3] = 255;
    }
  }
  void rect(int32_t x0, int32_t y0, int32_t w, int32_t h, uint8_t b, uint8_t g, uint8_t r) {
    for (int32_t y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
      for (int32_t x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
        uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        p[0] = b; p[1] = g; p[2] = r; p[3] = 255;
      }
    }
  }
  void draw(int frame) {
    fill(0x30, 0x28, 0x20);
    rect(width / 10, height / 10, width / 2, height / 2, 0xF0, 0xF0, 0xF0);
    for (int32_t y = height / 10 + 8; y < height / 10 + height / 2 - 8; y += 12) {
      rect(width / 10 + 8, y, (width / 3) * ((y / 12) % 3 + 1) / 3, 3, 0x20, 0x20, 0x20);
    }
    rect((frame * 7) % std::max(1, width - 64), height * 2 / 3, 64, 48, 0x20, 0x40, 0xE0);
  }
};

// Interleaved 32-bit float sine, `channels` channels.
inline std::vector<float> sine_block(uint32_t rate, uint16_t channels, uint32_t frames, uint64_t start_frame) {
  std::vector<float> out(static_cast<size_t>(frames) * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    const float v = 0.25f * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(start_frame + i) / rate);
    for (uint16_t c = 0; c < channels; ++c) out[static_cast<size_t>(i) * channels + c] = v;
  }
  return out;
}

// Ends a worker the test left running (a failed assertion mid-recording) and
// clears the process state for the next test.
inline void end_encoder_test() {
  if (encoder_has_worker()) {
    encoder_request_stop();
    encoder_wait_worker(10000);
  }
  g_ui_service = nullptr;
  app_reset();
}
