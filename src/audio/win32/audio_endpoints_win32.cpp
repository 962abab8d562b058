// The sound system of the Windows build: the audio endpoint services come
// with a later backend, so no stream opens and no microphone is listed.
#include <windows.h>

#include "audio/audio_endpoint.h"

namespace {
class Win32NoAudio final : public AudioEndpoints {
 public:
  bool open_system_loopback(std::unique_ptr<AudioClient>*, std::unique_ptr<AudioClient>*, WaveFormat*) override {
    return false;
  }
  uint32_t window_process_id(uint64_t window) override {
    DWORD pid = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), &pid);
    return pid;
  }
  std::unique_ptr<AudioClient> open_process_loopback(uint32_t, const WaveFormat&, uint32_t) override { return nullptr; }
  std::unique_ptr<AudioClient> open_microphone(const std::string&, const WaveFormat&) override { return nullptr; }
  uint32_t enumerate_microphones(std::string*, std::string*, uint32_t) override { return 0; }
  bool application_audio_supported() override { return false; }
};
}  // namespace

AudioEndpoints* system_audio_endpoints() {
  static Win32NoAudio endpoints;
  return &endpoints;
}
