#include "video/convert/video_converter.h"

// Here the CPU stands in for the graphics device: the CPU stages convert.
std::unique_ptr<VideoConverter> create_device_converter(const CaptureDevice&) { return nullptr; }
