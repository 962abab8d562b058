#include "audio/audio_worker.h"

#include <mutex>

#include "core/app_state.h"
#include "audio/mixer.h"
#include "platform/thread.h"

int audio_worker() {
  set_thread_name("fv-audio");
  AutoResetEvent* wake = g_app.audio_wake_event.get();
  if (!wake) return 0;
  for (;;) {
    if (!wake->wait(kWaitInfinite) || g_app.audio_quit.load()) return 0;
    if (g_app.audio_tick_pending.exchange(0) == 0) continue;
    std::lock_guard<std::mutex> lock(g_app.audio_lock);
    if (g_app.recording.active.load()) {
      if (g_app.recording.paused.load()) {
        discard_audio();
      } else {
        mix_audio(false, 0);
      }
    }
  }
}
