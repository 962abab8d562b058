#include "audio/wasapi/wasapi_client.h"

#include <avrt.h>

#include <algorithm>

#include "platform/event.h"
#include "platform/win32/com_apartment.h"

namespace {
// What a capture thread joins once, on its first packet: COM for the
// engine's calls and the multimedia class scheduler's "Pro Audio" task, so
// that the thread keeps its time slices under load. Both end with the
// thread.
struct CaptureThreadSetup {
  HANDLE mmcss = nullptr;
  bool com = false;
  CaptureThreadSetup() {
    com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    DWORD task_index = 0;
    mmcss = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
  }
  ~CaptureThreadSetup() {
    if (mmcss) AvRevertMmThreadCharacteristics(mmcss);
    if (com) CoUninitialize();
  }
};

void join_capture_thread() { thread_local CaptureThreadSetup setup; }

class WasapiCapture final : public AudioClient {
 public:
  WasapiCapture(ComPtr<IAudioClient> client, ComPtr<IAudioCaptureClient> capture)
      : client_(std::move(client)), capture_(std::move(capture)) {}
  ~WasapiCapture() override {
    if (started_) client_->Stop();
  }

  // The engine signals the event object itself. It cannot forget a handle
  // once given; a stopped stream signals nothing, and the core stops the
  // stream before it closes the event.
  void set_event_handle(AutoResetEvent* event) override {
    if (event && event->native_handle()) client_->SetEventHandle(static_cast<HANDLE>(event->native_handle()));
  }
  bool start() override {
    started_ = SUCCEEDED(client_->Start());
    return started_;
  }
  void stop() override {
    if (started_) client_->Stop();
    started_ = false;
  }
  bool get_buffer(AudioBuffer* out) override {
    join_capture_thread();
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    UINT64 device_position = 0, qpc_position = 0;
    HRESULT hr = capture_->GetBuffer(&data, &frames, &flags, &device_position, &qpc_position);
    *out = AudioBuffer{};
    if (FAILED(hr)) return false;
    if (hr == AUDCLNT_S_BUFFER_EMPTY) return true;
    if (frames == 0) {
      capture_->ReleaseBuffer(0);
      return true;
    }
    out->data = data;
    out->frames = frames;
    out->flags = flags & AUDCLNT_BUFFERFLAGS_SILENT ? AUDIO_BUFFER_SILENT : 0;
    out->device_position = device_position;
    // The engine's capture time is the performance counter in 100 ns, the
    // scale of the platform clock.
    out->qpc_position = qpc_position;
    return true;
  }
  void release_buffer(uint32_t frames) override { capture_->ReleaseBuffer(frames); }

 private:
  ComPtr<IAudioClient> client_;
  ComPtr<IAudioCaptureClient> capture_;
  bool started_ = false;
};

class WasapiSilentRender final : public AudioClient {
 public:
  explicit WasapiSilentRender(ComPtr<IAudioClient> client) : client_(std::move(client)) {}
  ~WasapiSilentRender() override { stop(); }
  void set_event_handle(AutoResetEvent*) override {}
  bool start() override { return running_; }
  void stop() override {
    if (running_) client_->Stop();
    running_ = false;
  }
  bool get_buffer(AudioBuffer* out) override {
    *out = AudioBuffer{};
    return true;
  }
  void release_buffer(uint32_t) override {}
  bool begin() {
    running_ = SUCCEEDED(client_->Start());
    return running_;
  }

 private:
  ComPtr<IAudioClient> client_;
  bool running_ = false;
};

struct CoTaskFormat {
  WAVEFORMATEX* p = nullptr;
  ~CoTaskFormat() { CoTaskMemFree(p); }
};
}  // namespace

void wasapi_join_com() { com_join_multithreaded(); }

std::unique_ptr<AudioClient> wasapi_open_capture(ComPtr<IAudioClient> client, DWORD flags, REFERENCE_TIME duration,
                                                 const WAVEFORMATEX* format) {
  if (!client || !format) return nullptr;
  if (FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags | AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, 0,
                                format, nullptr)))
    return nullptr;
  ComPtr<IAudioCaptureClient> capture;
  if (FAILED(client->GetService(__uuidof(IAudioCaptureClient), capture.put_void())) || !capture) return nullptr;
  return std::make_unique<WasapiCapture>(std::move(client), std::move(capture));
}

std::unique_ptr<AudioClient> wasapi_open_silent_render(IMMDevice* device) {
  ComPtr<IAudioClient> client;
  if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.put_void())) || !client)
    return nullptr;
  CoTaskFormat mix;
  if (FAILED(client->GetMixFormat(&mix.p)) || !mix.p) return nullptr;
  constexpr REFERENCE_TIME kOneSecond = 10'000'000;
  if (FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kOneSecond, 0, mix.p, nullptr))) return nullptr;
  ComPtr<IAudioRenderClient> render;
  if (FAILED(client->GetService(__uuidof(IAudioRenderClient), render.put_void())) || !render) return nullptr;
  // One second, or the whole buffer where the engine rounded it down.
  UINT32 size = 0;
  if (FAILED(client->GetBufferSize(&size))) return nullptr;
  const UINT32 frames = std::min<UINT32>(size, mix.p->nSamplesPerSec);
  BYTE* data = nullptr;
  if (FAILED(render->GetBuffer(frames, &data))) return nullptr;
  render->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT);
  auto stream = std::make_unique<WasapiSilentRender>(std::move(client));
  if (!stream->begin()) return nullptr;
  return stream;
}
