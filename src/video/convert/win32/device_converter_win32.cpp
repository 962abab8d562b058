#include "video/convert/video_converter.h"

// The capture device does not carry a Direct3D 11 device in this build yet,
// so the CPU stages convert. Once it does, this returns a
// D3D11VideoConverter on that device and its immediate context.
std::unique_ptr<VideoConverter> create_device_converter(const CaptureDevice&) { return nullptr; }
