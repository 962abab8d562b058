#include "capture/win32/wgc_runtime.h"

#include <hstring.h>

#include <iterator>

namespace {
using RoInitializeFn = HRESULT(WINAPI*)(int type);
using RoGetActivationFactoryFn = HRESULT(WINAPI*)(HSTRING id, REFIID iid, void** factory);
using CreateStringReferenceFn = HRESULT(WINAPI*)(PCWSTR text, UINT32 length, HSTRING_HEADER* header, HSTRING* out);
constexpr int kRoInitSingleThreaded = 0;

template <typename T>
T proc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The class name as a string reference whose header lives on the stack: no
// string is allocated.
HRESULT factory(RoGetActivationFactoryFn get, CreateStringReferenceFn ref, const wchar_t* name, UINT32 length,
                REFIID iid, void** out) {
  HSTRING_HEADER header;
  HSTRING id = nullptr;
  HRESULT hr = ref(name, length, &header, &id);
  return FAILED(hr) ? hr : get(id, iid, out);
}

void load(WgcRuntime* r) {
  HMODULE combase = LoadLibraryW(L"combase.dll");
  auto ro_initialize = proc<RoInitializeFn>(combase, "RoInitialize");
  auto get_factory = proc<RoGetActivationFactoryFn>(combase, "RoGetActivationFactory");
  auto string_ref = proc<CreateStringReferenceFn>(combase, "WindowsCreateStringReference");
  r->create_device = proc<decltype(r->create_device)>(GetModuleHandleW(L"d3d11.dll"),
                                                       "CreateDirect3D11DeviceFromDXGIDevice");
  if (!ro_initialize || !get_factory || !string_ref) {
    r->missing = "runtime-functions";
    return;
  }
  // The main thread is already a single-threaded apartment; the result
  // tells nothing that the factories would not.
  ro_initialize(kRoInitSingleThreaded);
  static const wchar_t kItem[] = L"Windows.Graphics.Capture.GraphicsCaptureItem";
  static const wchar_t kPool[] = L"Windows.Graphics.Capture.Direct3D11CaptureFramePool";
  r->result = factory(get_factory, string_ref, kItem, UINT32(std::size(kItem) - 1), wgc::kIidGraphicsCaptureItemInterop,
                      reinterpret_cast<void**>(&r->item_interop));
  if (FAILED(r->result) || !r->item_interop) {
    r->item_interop = nullptr;
    r->missing = "item-factory";
    return;
  }
  r->result = factory(get_factory, string_ref, kPool, UINT32(std::size(kPool) - 1), wgc::kIidFramePoolStatics2,
                      reinterpret_cast<void**>(&r->pool_statics));
  if (FAILED(r->result) || !r->pool_statics) {
    r->pool_statics = nullptr;
    r->missing = "frame-pool-factory";
    return;
  }
  if (!r->create_device) r->missing = "device-wrapper";
}
}  // namespace

const WgcRuntime& wgc_runtime() {
  static const WgcRuntime runtime = [] {
    WgcRuntime r;
    load(&r);
    return r;
  }();
  return runtime;
}
