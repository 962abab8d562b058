#pragma once
// Scaling and conversion of each accepted frame into one of the encoder's
// pooled surfaces, as one object per recording. Two implementations: the CPU
// stages (cpu_converter.h: the Linux path, and the fallback wherever no
// graphics device does the work) and the compute programs on a Direct3D 11
// device (win32/d3d11_converter.h). Both give the same codes.
#include <cstdint>
#include <memory>

#include "capture/device.h"
#include "capture/image.h"
#include "video/convert/surfaces.h"

struct ConverterSetup {
  uint32_t in_width = 0, in_height = 0;    // the input picture: the captured size, made even
  uint32_t out_width = 0, out_height = 0;  // never larger than the input
  bool gamma = false;                      // GammaCorrectResize: scale on linear light
  bool hd_color = false;                   // BT.709, else BT.601
  bool improved = false;                   // ImprovedColorConversion
  uint32_t format = SURFACE_FORMAT_NV12;   // or SURFACE_FORMAT_P010
  uint32_t surfaces = 1;                   // pooled surfaces to convert into
  SurfaceLayout layout = SURFACE_LAYOUT_INTERLEAVED;  // how surfaces in memory are laid out
};

class VideoConverter {
 public:
  virtual ~VideoConverter() = default;
  // Makes everything a recording converts with; false when a part cannot be
  // made (a size it refuses, memory or device objects that cannot be had).
  virtual bool create(const ConverterSetup& setup) = 0;
  // Black input picture: before the first frame, and before a frame whose
  // content is smaller than the input.
  virtual void clear_input() = 0;
  // Copies `box` of a picture to the top-left corner of the input picture,
  // clipped to both; what falls outside keeps its old content.
  virtual void load_input(const BgraImage& image, Rect box) = 0;
  // The same from a picture on the graphics device; false when this
  // converter cannot read one (it has no device, or the picture is on none).
  virtual bool load_input(const GpuPicture& picture, Rect box) = 0;
  // Scales and converts the input picture into surface `index`.
  virtual void convert(uint32_t index) = 0;
  // Surface `index` as planes in memory, into `out`: a copy of the surface
  // for the CPU stages, a read-back for a device (slow; for tests and for
  // writers that take pictures in memory). An empty `out` is created (in the
  // interleaved layout); one already made must be of the output size and
  // format. False for an index out of range, a set that does not fit or a
  // failed read.
  virtual bool read_surface(uint32_t index, SurfaceSet& out) = 0;
  // The surface on the device (texture and size); empty for surfaces in memory.
  virtual GpuPicture device_surface(uint32_t index) const = 0;
};

// The converter of the capture's graphics device where that device converts
// frames itself (Direct3D 11 on Windows); null where the CPU stages do it.
std::unique_ptr<VideoConverter> create_device_converter(const CaptureDevice& device);

// Whether `out` can take surfaces of `width` x `height` in `format` (it is
// created interleaved when still empty).
bool prepare_surface_copy(SurfaceSet& out, uint32_t width, uint32_t height, uint32_t format);
