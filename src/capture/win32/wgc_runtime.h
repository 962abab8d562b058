#pragma once
// The screen-capture runtime (Windows.Graphics.Capture) as far as this
// program uses it: the two activation factories and the function that wraps
// a Direct3D 11 device for the runtime. All of it is looked up at run time:
// a system without it (Windows before 1903, reduced installations, Wine)
// must still start, and a statically imported function that is missing
// ends the process the moment it is called.
#include <d3d11.h>
#include <dxgi.h>

#include <cstdint>

#include "capture/capture_service.h"
#include "capture/win32/wgc_interfaces.h"

struct WgcRuntime {
  wgc::IGraphicsCaptureItemInterop* item_interop = nullptr;
  wgc::IDirect3D11CaptureFramePoolStatics2* pool_statics = nullptr;
  HRESULT(WINAPI* create_device)(IDXGIDevice* device, IInspectable** result) = nullptr;
  // Why the runtime cannot be used ("item-factory", ...); null when it can.
  const char* missing = nullptr;
  HRESULT result = S_OK;  // the failed call's result, when there was one
};

// Set up on the first call (RoInitialize, then the factories); the factories
// live as long as the process.
const WgcRuntime& wgc_runtime();

// A source on the runtime for a window or a monitor, on `device`; null when
// the runtime refuses the target. `width` and `height` get the item's size.
CaptureSource* wgc_open_window(const WgcRuntime& runtime, ID3D11Device* device, HWND window, int32_t* width,
                               int32_t* height);
CaptureSource* wgc_open_monitor(const WgcRuntime& runtime, ID3D11Device* device, HMONITOR monitor, int32_t* width,
                                int32_t* height);
