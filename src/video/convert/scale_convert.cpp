#include "video/convert/scale_convert.h"

#include "video/convert/kernels.h"

namespace {

struct PairJob {
  ConvertFrame frame;  // the whole picture
  bool avx2, avx512;
};

// Converts output rows y and y + 1 (the chroma row y / 2) from the band's
// buffer: a two-row picture whose planes start at those rows.
void convert_rows(void* ctx, int, const uint8_t* rows, int32_t stride, int32_t y, int32_t n) {
  const PairJob& job = *static_cast<const PairJob*>(ctx);
  ConvertFrame f = job.frame;
  f.src = rows;
  f.src_stride = stride;
  f.height = n;
  f.chroma_h = 1;
  f.plane[0] += size_t(y) * f.linesize[0];
  for (int i = 1; i < 3; ++i)
    if (f.plane[i]) f.plane[i] += size_t(y / 2) * f.linesize[i];
  if (job.avx512)
    convert_pair_avx512(f, 0, true);
  else
    job.avx2 ? convert_pair_avx2(f, 0, true) : convert_pair_portable(f, 0, true, 0);
}

}  // namespace

void run_scale_and_convert(ResizeStage& resize, ConvertStage& convert, ComputeContext& context, SurfaceSet& set) {
  PairJob job;
  if (!resize.scaling || convert.improved || !convert_frame(convert, set, job.frame) ||
      convert.source != &resize.output_texture) {
    run_resize(resize, context);
    run_convert(convert, context, set);
    return;
  }
  job.avx2 = kernels_use_avx2();
  job.avx512 = kernels_use_avx512();
  run_resize_rows(resize, context, convert_rows, &job);
}
