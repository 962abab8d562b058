// The sound system of the Windows build: the audio endpoint services in
// shared mode. System sound is the loopback of the default output with a
// silent stream keeping it running, application sound the process-loopback
// device, the microphone the input named by MicrophoneDeviceId.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
// The property keys are defined here: no import library carries them.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

#include "audio/audio_endpoint.h"
#include "audio/wasapi/process_loopback.h"
#include "audio/wasapi/wasapi_client.h"
#include "audio/wasapi/wasapi_format.h"
#include "core/app_state.h"
#include "core/trace.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/os_version.h"
#include "platform/win32/wide.h"

namespace {
constexpr REFERENCE_TIME kOneSecond = 10'000'000;
constexpr DWORD kLoopbackFlags = AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
constexpr DWORD kConvertingFlags =
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;

struct CoTaskFormat {
  WAVEFORMATEX* p = nullptr;
  ~CoTaskFormat() { CoTaskMemFree(p); }
};

ComPtr<IMMDeviceEnumerator> device_enumerator() {
  wasapi_join_com();
  ComPtr<IMMDeviceEnumerator> e;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                              e.put_void())))
    return {};
  return e;
}

ComPtr<IAudioClient> activate_client(IMMDevice* device) {
  ComPtr<IAudioClient> client;
  if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.put_void()))) return {};
  return client;
}

// The endpoint's id and friendly name; false when either cannot be read.
bool endpoint_names(IMMDevice* device, std::string* id, std::string* name) {
  LPWSTR raw_id = nullptr;
  if (FAILED(device->GetId(&raw_id)) || !raw_id) return false;
  *id = to_utf8(raw_id);
  CoTaskMemFree(raw_id);
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return false;
  PROPVARIANT value;
  PropVariantInit(&value);
  bool ok = SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR && value.pwszVal;
  if (ok) *name = to_utf8(value.pwszVal);
  PropVariantClear(&value);
  return ok;
}

// Calls `each(device, id, name)` for every active input until it returns false.
template <typename F>
void for_each_input(IMMDeviceEnumerator* e, F each) {
  ComPtr<IMMDeviceCollection> inputs;
  if (FAILED(e->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, inputs.put()))) return;
  UINT count = 0;
  if (FAILED(inputs->GetCount(&count))) return;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    std::string id, name;
    if (FAILED(inputs->Item(i, device.put())) || !endpoint_names(device.get(), &id, &name)) continue;
    if (!each(device.get(), id, name)) return;
  }
}

// A capture stream in the endpoint's own format; `format` gets it.
std::unique_ptr<AudioClient> open_in_mix_format(IMMDevice* device, DWORD flags, bool device_period,
                                                WaveFormat* format) {
  ComPtr<IAudioClient> client = activate_client(device);
  if (!client) return nullptr;
  CoTaskFormat mix;
  if (FAILED(client->GetMixFormat(&mix.p)) || !wave_format_from_engine(mix.p, format)) return nullptr;
  REFERENCE_TIME duration = kOneSecond;
  if (device_period && FAILED(client->GetDevicePeriod(&duration, nullptr))) return nullptr;
  return wasapi_open_capture(std::move(client), flags, duration, mix.p);
}

class WasapiEndpoints final : public AudioEndpoints {
 public:
  bool open_system_loopback(std::unique_ptr<AudioClient>* render, std::unique_ptr<AudioClient>* capture,
                            WaveFormat* format) override {
    ComPtr<IMMDeviceEnumerator> e = device_enumerator();
    if (!e) return false;
    ComPtr<IMMDevice> output;
    const bool have_output = SUCCEEDED(e->GetDefaultAudioEndpoint(eRender, eConsole, output.put()));
    const std::string& source = g_app.config.SystemAudioDeviceId;
    if (!source.empty()) return open_named_source(e.get(), have_output ? output.get() : nullptr, source, render,
                                                  capture, format);
    if (!have_output) return false;
    std::unique_ptr<AudioClient> silent = wasapi_open_silent_render(output.get());
    if (!silent) return false;
    std::unique_ptr<AudioClient> loopback = open_in_mix_format(output.get(), kLoopbackFlags, true, format);
    if (!loopback) return false;
    *render = std::move(silent);
    *capture = std::move(loopback);
    return true;
  }

  uint32_t window_process_id(uint64_t window) override {
    DWORD pid = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), &pid);
    return pid;
  }

  std::unique_ptr<AudioClient> open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                     uint32_t timeout_ms) override {
    wasapi_join_com();
    ComPtr<IAudioClient> client = activate_process_loopback(pid, timeout_ms);
    if (!client) return nullptr;
    const WAVEFORMATEXTENSIBLE wfx = wave_format_to_engine(format);
    return wasapi_open_capture(std::move(client), kConvertingFlags | AUDCLNT_STREAMFLAGS_LOOPBACK, kOneSecond,
                               &wfx.Format);
  }

  std::unique_ptr<AudioClient> open_microphone(const std::string& device_id, const WaveFormat& format) override {
    ComPtr<IMMDeviceEnumerator> e = device_enumerator();
    if (!e) return nullptr;
    ComPtr<IMMDevice> device;
    // A configured input that is gone is a failure, never the default one.
    HRESULT hr = device_id.empty() ? e->GetDefaultAudioEndpoint(eCapture, eConsole, device.put())
                                   : e->GetDevice(to_wide(device_id).c_str(), device.put());
    if (FAILED(hr) || !device) return nullptr;
    ComPtr<IAudioClient> client = activate_client(device.get());
    if (!client) return nullptr;
    const WAVEFORMATEXTENSIBLE wfx = wave_format_to_engine(format);
    return wasapi_open_capture(std::move(client), kConvertingFlags, kOneSecond, &wfx.Format);
  }

  uint32_t enumerate_microphones(std::string* names, std::string* ids, uint32_t max) override {
    ComPtr<IMMDeviceEnumerator> e = device_enumerator();
    if (!e) return 0;
    uint32_t count = 0;
    for_each_input(e.get(), [&](IMMDevice*, const std::string& id, const std::string& name) {
      if (count >= max) return false;
      if (names) names[count] = name;
      if (ids) ids[count] = id;
      ++count;
      return true;
    });
    return count;
  }

  // The process-loopback device exists from Windows 10 version 2004 on.
  bool application_audio_supported() override { return windows_10_build_at_least(19041); }

 private:
  // SystemAudioDeviceId: the input with that id or name stands for the
  // system's sound (where the engine's loopback delivers nothing, as under
  // Wine, a sound server's monitor of the output is such an input). The
  // silent stream still runs on the output when there is one. A named input
  // that is missing is a failure, as for the microphone.
  bool open_named_source(IMMDeviceEnumerator* e, IMMDevice* output, const std::string& source,
                         std::unique_ptr<AudioClient>* render, std::unique_ptr<AudioClient>* capture,
                         WaveFormat* format) {
    ComPtr<IMMDevice> input;
    for_each_input(e, [&](IMMDevice* device, const std::string& id, const std::string& name) {
      if (id != source && name != source) return true;
      device->AddRef();
      input.reset(device);
      return false;
    });
    if (!input) {
      trace_event("audio.system_source_missing");
      return false;
    }
    std::unique_ptr<AudioClient> stream = open_in_mix_format(input.get(), AUDCLNT_STREAMFLAGS_EVENTCALLBACK, false,
                                                             format);
    if (!stream) return false;
    trace_event("audio.system_source_input");
    if (output) *render = wasapi_open_silent_render(output);
    *capture = std::move(stream);
    return true;
  }
};
}  // namespace

AudioEndpoints* system_audio_endpoints() {
  static WasapiEndpoints endpoints;
  return &endpoints;
}
