#pragma once
// The graphics device on Windows: the adapter chosen through DXGI by the
// GPU preference and the Direct3D 11 device made on it, with the two calls
// tests replace to see what is asked of the system and how a failure is
// reported.
#include <d3d11.h>
#include <dxgi1_6.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/device.h"

// The Direct3D 11 device of a capture device; null when it has none.
ID3D11Device* capture_d3d11_device(const CaptureDevice& device);

struct DxgiAdapterInfo {
  std::string name;
  uint64_t luid = 0;  // high part << 32 | low part
  uint32_t vendor_id = 0, device_id = 0;
};

// The adapters in the order the GPU preference puts them (power-saving
// first when `prefer_integrated`), through IDXGIFactory6; where that
// interface is missing, in the system's order. Software adapters are left
// out: they have no hardware encoder.
std::vector<DxgiAdapterInfo> list_adapters(bool prefer_integrated);

struct Direct3DCalls {
  HRESULT(WINAPI* create_factory)(REFIID iid, void** factory) = CreateDXGIFactory1;
  decltype(&D3D11CreateDevice) create_device = D3D11CreateDevice;
};
const Direct3DCalls& direct3d_calls();
// Replaces the calls (tests); nullptr restores the system's.
void direct3d_calls_set(const Direct3DCalls* calls);
