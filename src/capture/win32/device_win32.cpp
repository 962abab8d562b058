// The graphics device on Windows. With HardwareEncoder on, the first
// adapter in the order of the GPU preference; otherwise, and when DXGI
// cannot say, the system's default adapter. One Direct3D 11 device at
// feature level 11_0 on it, nothing lower.
#include <atomic>

#include "capture/win32/d3d11_device.h"
#include "core/app_state.h"
#include "core/trace.h"
#include "core/ui_service.h"
#include "video/encode/media_writer.h"

namespace {
const Direct3DCalls kSystemCalls{};
std::atomic<const Direct3DCalls*> g_calls{nullptr};

uint64_t luid_value(const LUID& l) { return uint64_t(uint32_t(l.HighPart)) << 32 | l.LowPart; }

std::string narrow(const wchar_t* w) {
  std::string out;
  for (; *w; ++w) out += *w < 0x80 ? char(*w) : '?';  // adapter names are for the trace
  return out;
}

// The adapter at `index` in the order of the preference (IDXGIFactory6), or
// in the system's order without that interface; null after the last.
IDXGIAdapter1* adapter_at(IDXGIFactory1* factory, IDXGIFactory6* by_preference, UINT index, bool prefer_integrated) {
  IDXGIAdapter1* adapter = nullptr;
  HRESULT hr;
  if (by_preference) {
    hr = by_preference->EnumAdapterByGpuPreference(
        index, prefer_integrated ? DXGI_GPU_PREFERENCE_MINIMUM_POWER : DXGI_GPU_PREFERENCE_HIGH_PERFORMANCE,
        __uuidof(IDXGIAdapter1), reinterpret_cast<void**>(&adapter));
  } else {
    hr = factory->EnumAdapters1(index, &adapter);
  }
  return SUCCEEDED(hr) ? adapter : nullptr;
}

// Walks the hardware adapters in preference order until `visit` returns false.
template <typename Visit>
void each_adapter(bool prefer_integrated, Visit visit) {
  IDXGIFactory1* factory = nullptr;
  if (FAILED(direct3d_calls().create_factory(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory))) ||
      !factory) {
    return;
  }
  IDXGIFactory6* by_preference = nullptr;
  if (FAILED(factory->QueryInterface(__uuidof(IDXGIFactory6), reinterpret_cast<void**>(&by_preference)))) {
    by_preference = nullptr;
  }
  for (UINT i = 0;; ++i) {
    IDXGIAdapter1* adapter = adapter_at(factory, by_preference, i, prefer_integrated);
    if (!adapter) break;
    DXGI_ADAPTER_DESC1 desc;
    bool go_on = true;
    if (SUCCEEDED(adapter->GetDesc1(&desc)) && !(desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE)) {
      go_on = visit(adapter, desc);
    }
    adapter->Release();
    if (!go_on) break;
  }
  if (by_preference) by_preference->Release();
  factory->Release();
}

DxgiAdapterInfo info_of(const DXGI_ADAPTER_DESC1& desc) {
  DxgiAdapterInfo a;
  a.name = narrow(desc.Description);
  a.luid = luid_value(desc.AdapterLuid);
  a.vendor_id = desc.VendorId;
  a.device_id = desc.DeviceId;
  return a;
}
}  // namespace

const Direct3DCalls& direct3d_calls() {
  const Direct3DCalls* c = g_calls.load();
  return c != nullptr ? *c : kSystemCalls;
}

void direct3d_calls_set(const Direct3DCalls* calls) { g_calls.store(calls); }

ID3D11Device* capture_d3d11_device(const CaptureDevice& device) {
  return static_cast<ID3D11Device*>(device.d3d11.get());
}

std::vector<DxgiAdapterInfo> list_adapters(bool prefer_integrated) {
  std::vector<DxgiAdapterInfo> out;
  each_adapter(prefer_integrated, [&](IDXGIAdapter1*, const DXGI_ADAPTER_DESC1& desc) {
    out.push_back(info_of(desc));
    return true;
  });
  return out;
}

std::shared_ptr<CaptureDevice> create_capture_device() {
  const Config& cfg = g_app.config;
  const bool prefer_integrated = cfg.HardwarePreferIntegrated != 0;
  // Without hardware encoding no adapter is chosen: the default one serves.
  IDXGIAdapter1* adapter = nullptr;
  if (cfg.HardwareEncoder != 0) {
    each_adapter(prefer_integrated, [&](IDXGIAdapter1* a, const DXGI_ADAPTER_DESC1&) {
      a->AddRef();
      adapter = a;
      return false;
    });
  }
  const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
  ID3D11Device* d3d = nullptr;
  const HRESULT hr = direct3d_calls().create_device(adapter, adapter ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE,
                                                    nullptr, 0, &level, 1, D3D11_SDK_VERSION, &d3d, nullptr, nullptr);
  if (adapter) adapter->Release();
  if (FAILED(hr) || !d3d) {
    if (d3d) d3d->Release();
    trace_eventf("device.create_failed hr=0x%08lx", static_cast<unsigned long>(hr));
    show_tray_notification("Cannot to create D3D11 device!", "Error", NOTIFY_ERROR);
    return nullptr;
  }
  auto device = std::make_shared<CaptureDevice>();
  device->d3d11 = std::shared_ptr<void>(d3d, [](void* p) { static_cast<ID3D11Device*>(p)->Release(); });
  // The adapter the device ended up on, chosen or default: the encoder
  // check asks for an encoder on it.
  IDXGIDevice* dxgi = nullptr;
  if (SUCCEEDED(d3d->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi))) && dxgi) {
    IDXGIAdapter* on = nullptr;
    DXGI_ADAPTER_DESC desc;
    if (SUCCEEDED(dxgi->GetAdapter(&on)) && on && SUCCEEDED(on->GetDesc(&desc))) {
      device->adapter_luid = luid_value(desc.AdapterLuid);
      device->adapter_name = narrow(desc.Description);
    }
    if (on) on->Release();
    dxgi->Release();
  }
  trace_eventf("device.choice adapter=%s luid=%08lx:%08lx preference=%s", device->adapter_name.c_str(),
               static_cast<unsigned long>(device->adapter_luid >> 32),
               static_cast<unsigned long>(device->adapter_luid & 0xffffffffu),
               cfg.HardwareEncoder == 0 ? "default" : prefer_integrated ? "minimum-power" : "high-performance");
  return device;
}

// A fresh install uses the hardware encoder only where one is there: the
// media platform is asked for a hardware encoder of the default codec on the
// adapter the default preference chooses. The Windows media platform of this
// build has no encoders and refuses, so the default is 0 until it answers
// for itself; a software encoder records on every machine.
bool hardware_encoder_default() {
  const Config defaults;
  std::vector<DxgiAdapterInfo> adapters = list_adapters(defaults.HardwarePreferIntegrated != 0);
  if (adapters.empty()) {
    trace_event("config.hardware_default value=0 reason=no-adapter");
    return false;
  }
  VideoEncoderRequest r;
  hardware_encoder_request(defaults, &r);
  r.adapter_luid = adapters[0].luid;
  std::string encoder;
  const bool found = media_platform().find_video_encoder(r, &encoder);
  trace_eventf("config.hardware_default value=%d adapter=%s encoder=%s", found ? 1 : 0, adapters[0].name.c_str(),
               found ? encoder.c_str() : "none");
  return found;
}
