// The sound engine backend on the real audio endpoint services (under Wine
// in CI, where the sound server's monitor of its output appears as an input).
// A tone playing on the output (with_tone.sh plays it from the sound
// server's side: Wine's own output starves under load and leaves gaps) must
// come back from the monitor at its level and frequency, through the
// system-sound source that SystemAudioDeviceId names and through the
// microphone opened by its id; the engine must wake the capture through the
// core's event.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/audio_endpoint.h"
#include "core/app_state.h"
#include "platform/event.h"

namespace {
constexpr double kToneHz = 1000;
constexpr double kToneAmplitude = 0.5;

bool under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

struct Captured {
  std::vector<float> first_channel;
  uint32_t wakes = 0;
};

// Runs the stream for `ms` and keeps the first channel of every packet.
Captured run_stream(AudioClient* client, const WaveFormat& format, uint32_t ms) {
  Captured out;
  AutoResetEvent event;
  client->set_event_handle(&event);
  EXPECT_TRUE(client->start());
  const ULONGLONG until = GetTickCount64() + ms;
  while (GetTickCount64() < until) {
    if (event.wait(200)) ++out.wakes;
    AudioBuffer b;
    while (client->get_buffer(&b) && b.frames != 0) {
      const auto* samples = reinterpret_cast<const float*>(b.data);
      for (uint32_t i = 0; i < b.frames; ++i) {
        out.first_channel.push_back((b.flags & AUDIO_BUFFER_SILENT) ? 0.f : samples[i * format.nChannels]);
      }
      client->release_buffer(b.frames);
    }
  }
  client->stop();
  client->set_event_handle(nullptr);
  return out;
}

// Level and frequency of the last `frames` samples.
void expect_tone(const std::vector<float>& s, uint32_t rate) {
  const size_t n = rate;  // the last second: the server takes over a second to start delivering
  ASSERT_GE(s.size(), n);
  double sum = 0;
  uint32_t rising = 0, zeros = 0;
  for (size_t i = s.size() - n; i < s.size(); ++i) {
    sum += double{s[i]} * s[i];
    if (i > 0 && s[i - 1] < 0 && s[i] >= 0) ++rising;
    if (s[i] == 0) ++zeros;
  }
  EXPECT_NEAR(std::sqrt(sum / n), kToneAmplitude / std::sqrt(2.0), 0.03) << s.size() << " samples, " << zeros << " zero";
  EXPECT_NEAR(rising, kToneHz, 10);
}

class Win32Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    // The sound server's monitor of its output, as the engine lists it.
    std::string names[32], ids[32];
    const uint32_t n = system_audio_endpoints()->enumerate_microphones(names, ids, 32);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_FALSE(ids[i].empty());
      if (monitor_name.empty() && names[i].find("Monitor") != std::string::npos) {
        monitor_name = names[i];
        monitor_id = ids[i];
      }
    }
  }
  void TearDown() override { app_reset(); }
  std::string monitor_name, monitor_id;
};

TEST_F(Win32Audio, ToneComesBackThroughTheNamedSourceAndTheMicrophone) {
  ASSERT_FALSE(monitor_name.empty()) << "no monitor input; run under scripts/test-env.sh";
  ASSERT_NE(std::getenv("FV_TONE_PLAYING"), nullptr) << "run through with_tone.sh";
  AudioEndpoints* ep = system_audio_endpoints();
  {
    SCOPED_TRACE("system sound from the input SystemAudioDeviceId names");
    g_app.config.SystemAudioDeviceId = monitor_name;
    std::unique_ptr<AudioClient> render, capture;
    WaveFormat format;
    ASSERT_TRUE(ep->open_system_loopback(&render, &capture, &format));
    ASSERT_TRUE(capture);
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    ASSERT_EQ(format.is_float, 1);
    ASSERT_EQ(format.wBitsPerSample, 32);
    Captured c = run_stream(capture.get(), format, 4500);
    EXPECT_GT(c.wakes, 20u);  // the engine signals the event itself
    expect_tone(c.first_channel, format.nSamplesPerSec);
  }
  {
    SCOPED_TRACE("microphone by its id, converted to 48 kHz float");
    const WaveFormat format = default_capture_format();
    std::unique_ptr<AudioClient> mic = ep->open_microphone(monitor_id, format);
    ASSERT_TRUE(mic);
    Captured c = run_stream(mic.get(), format, 4500);
    EXPECT_GT(c.wakes, 20u);
    expect_tone(c.first_channel, format.nSamplesPerSec);
  }
}

// What is missing fails cleanly: a named input or microphone that is not
// there (no fallback to the default one), and, under Wine, the
// process-loopback device.
TEST_F(Win32Audio, MissingEndpointsFail) {
  AudioEndpoints* ep = system_audio_endpoints();
  g_app.config.SystemAudioDeviceId = "No Such Input";
  std::unique_ptr<AudioClient> render, capture;
  WaveFormat format;
  EXPECT_FALSE(ep->open_system_loopback(&render, &capture, &format));
  EXPECT_FALSE(capture);
  EXPECT_FALSE(ep->open_microphone("{0.0.1.00000000}.{00000000-0000-0000-0000-000000000000}",
                                   default_capture_format()));
  if (under_wine()) {
    EXPECT_FALSE(ep->open_process_loopback(GetCurrentProcessId(), default_capture_format(), 5000));
  }
}
}  // namespace
