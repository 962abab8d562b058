#include "video/intake/intake_fakes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/app_state.h"
#include "platform/clock.h"
#include "core/trace.h"
#include "video/intake/intake_links.h"

IntakeFakes g_fakes;
int64_t g_manual_now = 0;

bool encoder_submit_video(const BgraImage&, const GpuPicture&, Rect rect, int64_t time, int64_t time_base) {
  const Recording& rec = g_app.recording;
  g_fakes.submitted.push_back({time, rect, time_base, rec.frames_in_flight.load(), rec.submits_in_flight.load()});
  g_manual_now += g_fakes.work_ticks;
  if (g_fakes.during_submit) g_fakes.during_submit();
  if (g_fakes.refuse_every > 0 && g_fakes.submitted.size() % g_fakes.refuse_every == 0) return false;
  return g_fakes.accept;
}
bool encoder_write_failed() { return g_fakes.write_failed; }
bool encoder_written_bytes(uint64_t* bytes) {
  *bytes = g_fakes.stats_bytes;
  return g_fakes.stats_valid;
}
bool audio_capture_level(const AudioCapture& capture, uint32_t* fill, uint32_t* size) {
  bool system = &capture == &g_app.system_capture;
  if (system ? !g_fakes.system_open : !g_fakes.mic_open) return false;
  *fill = system ? g_fakes.system_fill : g_fakes.mic_fill;
  *size = system ? g_fakes.system_size : g_fakes.mic_size;
  return true;
}
void post_stop_request() { ++g_fakes.stop_requests; }

namespace {
int64_t manual_clock() { return g_manual_now; }
}  // namespace

void IntakeTest::SetUp() {
  app_reset();
  g_fakes = IntakeFakes{};
  g_manual_now = 1000;
  clock_set_source(manual_clock);
  g_app.qpc_frequency = kQpcFrequency;
  folder_ = std::make_unique<TempDir>("intake");
  set_run_trace_folder(folder_->path());
  g_app.config.WriteDiagnostics = 1;
  g_app.recording.active = 1;
}

void IntakeTest::TearDown() {
  clock_set_source(nullptr);
  set_run_trace_folder("");
  folder_.reset();
}

std::vector<std::string> IntakeTest::trace_lines() const {
  std::vector<std::string> lines;
  std::ifstream in(folder_->file("frelvanta-runtrace.txt"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t space = line.find(' ');
    lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
  }
  return lines;
}

int IntakeTest::trace_count(const std::string& prefix) const {
  int n = 0;
  for (const std::string& l : trace_lines()) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}
