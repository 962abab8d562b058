#pragma once
// The conversion on the CPU: the resize and conversion stages with their
// kernels on the compute workers, surfaces in memory.
#include <memory>
#include <vector>

#include "capture/device.h"
#include "video/convert/compute_context.h"
#include "video/convert/convert_stage.h"
#include "video/convert/resize_stage.h"
#include "video/convert/video_converter.h"

class CpuVideoConverter final : public VideoConverter {
 public:
  explicit CpuVideoConverter(ComputeContext& context) : context_(context) {}
  bool create(const ConverterSetup& setup) override;
  void clear_input() override;
  void load_input(const BgraImage& image, Rect box) override;
  bool load_input(const GpuPicture&, Rect) override { return false; }
  void convert(uint32_t index) override;
  bool read_surface(uint32_t index, SurfaceSet& out) override;
  GpuPicture device_surface(uint32_t) const override { return {}; }

  // The surfaces themselves (the encoder wraps them in its samples).
  SurfaceSet* surface(uint32_t index) { return index < surfaces_.size() ? surfaces_[index].get() : nullptr; }

 private:
  ComputeContext& context_;
  CaptureDevice device_;
  ResizeStage resize_;
  ConvertStage convert_;
  std::vector<std::unique_ptr<SurfaceSet>> surfaces_;
};
