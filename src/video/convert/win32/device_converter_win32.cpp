#include <d3d11.h>

#include "video/convert/video_converter.h"
#include "video/convert/win32/d3d11_converter.h"

// The capture device's Direct3D 11 device and its immediate context convert
// on the graphics device; without one (no device was made) the CPU stages do.
std::unique_ptr<VideoConverter> create_device_converter(const CaptureDevice& device) {
  auto* d3d = static_cast<ID3D11Device*>(device.d3d11.get());
  if (!d3d) return nullptr;
  ID3D11DeviceContext* context = nullptr;
  d3d->GetImmediateContext(&context);
  if (!context) return nullptr;
  auto converter = std::make_unique<D3D11VideoConverter>(d3d, context);
  context->Release();  // the converter holds its own reference
  return converter;
}
