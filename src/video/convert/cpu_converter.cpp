#include "video/convert/cpu_converter.h"

#include <algorithm>
#include <cstring>

#include "video/convert/scale_convert.h"

bool CpuVideoConverter::create(const ConverterSetup& setup) {
  surfaces_.clear();
  if (!create_resize_stage(resize_, device_, setup.in_width, setup.in_height, setup.out_width, setup.out_height,
                           setup.gamma))
    return false;
  clear_input();
  if (!create_convert_stage(convert_, device_, &resize_.output_texture, setup.out_width, setup.out_height,
                            setup.hd_color, setup.improved))
    return false;
  for (uint32_t i = 0; i < setup.surfaces; ++i) {
    auto set = std::make_unique<SurfaceSet>();
    if (!create_surface_set(*set, device_, setup.out_width, setup.out_height, setup.format, setup.layout))
      return false;
    surfaces_.push_back(std::move(set));
  }
  return true;
}

void CpuVideoConverter::clear_input() {
  Texture2D& t = resize_.input_texture;
  if (t.data) std::memset(t.data, 0, size_t(t.stride) * size_t(t.height));
}

void CpuVideoConverter::load_input(const BgraImage& image, Rect box) {
  copy_to_texture(resize_.input_texture, image, box);
}

void CpuVideoConverter::convert(uint32_t index) {
  if (SurfaceSet* set = surface(index)) run_scale_and_convert(resize_, convert_, context_, *set);
}

bool CpuVideoConverter::read_surface(uint32_t index, SurfaceSet& out) {
  const SurfaceSet* set = surface(index);
  if (!set) return false;
  if (!out.data[0] && !create_surface_set(out, device_, set->width, set->height, set->format, set->layout))
    return false;
  if (out.width != set->width || out.height != set->height || out.format != set->format ||
      out.layout != set->layout)
    return false;
  const int planes = set->layout == SURFACE_LAYOUT_PLANAR ? 3 : 2;
  for (int p = 0; p < planes; ++p) {
    const uint32_t rows = p == 0 ? set->height : (set->height + 1) / 2;
    for (uint32_t y = 0; y < rows; ++y)
      std::memcpy(out.data[p] + size_t(y) * out.linesize[p], set->data[p] + size_t(y) * set->linesize[p],
                  size_t(std::min(out.linesize[p], set->linesize[p])));
  }
  return true;
}

bool prepare_surface_copy(SurfaceSet& out, uint32_t width, uint32_t height, uint32_t format) {
  if (!out.data[0] && !create_surface_set(out, CaptureDevice{}, width, height, format, SURFACE_LAYOUT_INTERLEAVED))
    return false;
  return out.width == width && out.height == height && out.format == format &&
         out.layout == SURFACE_LAYOUT_INTERLEAVED;
}
