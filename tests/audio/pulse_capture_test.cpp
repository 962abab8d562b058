// Capture streams on a real sound server (scripts/test-env.sh starts one with
// a null sink "rec" as the default output). Tones are played by separate
// processes; what the streams deliver is checked for pitch and timing.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "audio/audio_capture.h"
#include "audio/audio_endpoint.h"
#include "platform/clock.h"

extern char** environ;

namespace {

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool server_running() { return std::system("pactl info >/dev/null 2>&1") == 0; }

// A shell pipeline in its own process group, so the whole tree can be ended.
class Player {
 public:
  explicit Player(const std::string& script) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
    if (posix_spawnp(&pid_, "sh", nullptr, &attr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    posix_spawnattr_destroy(&attr);
  }
  ~Player() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

// A tone of `hz` played by `paplay`, a child of the returned player's shell.
std::string tone_script(int hz, double seconds, double delay = 0.0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "sleep %.2f; sox -q -n -t wav - synth %.2f sine %d vol 0.3 | paplay",
                delay, seconds, hz);
  return buf;
}

struct Received {
  std::vector<float> left;  // first channel, as float
  struct Packet {
    uint64_t time, frames, arrival;
  };
  std::vector<Packet> packets;
};

// A null sink that was idle wakes up only at the end of its long idle
// block, so the first packet may take up to two seconds. Returns the clock
// value when it was there (the stream's start time for the tests), 0 if none.
uint64_t wait_first_packet(AudioCapture& cap) {
  for (int i = 0; i < 400; ++i) {
    if (cap.write_pos.load() != cap.read_pos.load()) return static_cast<uint64_t>(qpc_now());
    sleep_ms(10);
  }
  return 0;
}

// Reads and releases packets the way the mixer does, for `ms` milliseconds.
Received collect(AudioCapture& cap, uint64_t start, uint32_t ms) {
  Received r;
  const WaveFormat& f = *cap.stream_format;
  const int64_t until = qpc_now() + int64_t{ms} * 10000;
  while (qpc_now() < until) {
    AudioPacket p;
    while (read_packet(&cap, start, &p)) {
      r.packets.push_back({p.time, p.frames, static_cast<uint64_t>(qpc_now())});
      for (uint32_t i = 0; i < p.frames; ++i) {
        const uint8_t* s = p.data + size_t{i} * f.nBlockAlign;
        if (f.wBitsPerSample == 16) {
          int16_t v;
          std::memcpy(&v, s, 2);
          r.left.push_back(v / 32768.0f);
        } else {
          float v;
          std::memcpy(&v, s, 4);
          r.left.push_back(v);
        }
      }
      cap.read_pos.fetch_add(p.frames * f.nBlockAlign + kPacketHeaderBytes);
    }
    sleep_ms(5);
  }
  return r;
}

// Relative power of `hz` in the samples (Goertzel).
double tone_power(const std::vector<float>& x, double hz, double rate) {
  if (x.empty()) return 0.0;
  const double w = 2.0 * M_PI * hz / rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    double s0 = v + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (double(x.size()) * double(x.size()));
}

// Frequency from the rising zero crossings of the samples whose level is
// above the noise.
double measured_frequency(const std::vector<float>& x, double rate) {
  size_t first = x.size(), last = 0, rising = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0.0f && x[i] >= 0.0f && std::fabs(x[i] - x[i - 1]) > 1e-3f) {
      if (first == x.size()) first = i;
      last = i;
      ++rising;
    }
  }
  if (rising < 2) return 0.0;
  return double(rising - 1) * rate / double(last - first);
}

class PulseCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_running()) GTEST_SKIP() << "no sound server";
    app_reset();
    g_app.qpc_frequency = kQpcFrequency;
    audio_set_endpoints(nullptr);
  }
  void TearDown() override {
    close_capture(&g_app.system_capture);
    close_capture(&g_app.mic_capture);
    audio_capture_zero(&g_app.system_capture);
    audio_capture_zero(&g_app.mic_capture);
  }
};

TEST_F(PulseCaptureTest, SystemLoopbackKeepsPitchAndClock) {
  AudioCapture& cap = g_app.system_capture;
  ASSERT_TRUE(open_loopback_capture(&cap, 0));
  ASSERT_NE(cap.render_client, nullptr);
  const WaveFormat& f = *cap.stream_format;
  EXPECT_EQ(f.nSamplesPerSec, 48000u);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.is_float, 1);

  // Nothing plays yet: the silent stream keeps packets coming.
  const uint64_t start = wait_first_packet(cap);
  ASSERT_NE(start, 0u);
  Received quiet = collect(cap, start, 300);
  EXPECT_GT(quiet.left.size(), 48000u * 15 / 100);

  Player tone(tone_script(440, 2.0));
  Received r = collect(cap, start, 1800);
  ASSERT_GT(r.packets.size(), 20u);
  EXPECT_GT(tone_power(r.left, 440, 48000), 100 * tone_power(r.left, 1000, 48000));
  EXPECT_NEAR(measured_frequency(r.left, 48000), 440.0, 440.0 * 0.01);

  // Every packet ends before it arrives, and not long before: its time is the
  // capture time of its first frame.
  int64_t worst_late = 0, worst_early = 0;
  for (const auto& p : r.packets) {
    int64_t end = static_cast<int64_t>(p.time + p.frames * kQpcFrequency / f.nSamplesPerSec);
    int64_t lag = static_cast<int64_t>(p.arrival) - end;
    worst_late = std::max(worst_late, lag);
    worst_early = std::min(worst_early, lag);
  }
  EXPECT_GE(worst_early, -20 * 10000) << "a packet is stamped in the future";
  EXPECT_LE(worst_late, 20 * 10000 + 50 * 10000) << "packets lag the clock";
  // Back to back: consecutive packets follow on the clock within 20 ms.
  for (size_t i = 1; i < r.packets.size(); ++i) {
    const auto& a = r.packets[i - 1];
    int64_t expected = static_cast<int64_t>(a.time + a.frames * kQpcFrequency / f.nSamplesPerSec);
    EXPECT_NEAR(static_cast<double>(r.packets[i].time), static_cast<double>(expected), 20 * 10000.0) << i;
  }
  EXPECT_EQ(cap.overflow_count.load(), 0u);
}

}  // namespace
