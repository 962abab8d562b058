#include <gtest/gtest.h>

#include "video/convert/kernels.h"
#include "video/convert/scale_convert.h"
#include "video_test_util.h"

namespace {

struct Pipeline {
  CaptureDevice device;
  ResizeStage resize;
  ConvertStage convert;
  SurfaceSet set;
  Pipeline(uint32_t iw, uint32_t ih, uint32_t ow, uint32_t oh, bool gamma, bool improved, uint32_t format,
           SurfaceLayout layout) {
    EXPECT_TRUE(create_resize_stage(resize, device, iw, ih, ow, oh, gamma));
    EXPECT_TRUE(create_convert_stage(convert, device, &resize.output_texture, ow, oh, true, improved));
    EXPECT_TRUE(create_surface_set(set, device, ow, oh, format, layout));
    fill_random(resize.input_texture, 23);
  }
};

// Converting each pair of scaled rows as it is made writes exactly what
// scaling the whole picture and then converting it writes: every format and
// layout, odd output heights (a last pair of one row), bands on one and on
// three threads, both scaling variants; the improved mode, which needs
// neighbouring chroma rows, takes the two passes.
TEST(ScaleConvert, RowPairsGiveTheSameSurfaceAsTwoPasses) {
  const struct {
    uint32_t iw, ih, ow, oh;
  } sizes[] = {{203, 61, 150, 41}, {64, 64, 17, 63}, {2560, 72, 1920, 54}, {40, 9, 40, 4}};
  const struct {
    uint32_t format;
    SurfaceLayout layout;
  } outs[] = {{SURFACE_FORMAT_NV12, SURFACE_LAYOUT_INTERLEAVED},
              {SURFACE_FORMAT_P010, SURFACE_LAYOUT_INTERLEAVED},
              {SURFACE_FORMAT_NV12, SURFACE_LAYOUT_PLANAR},
              {SURFACE_FORMAT_P010, SURFACE_LAYOUT_PLANAR}};
  ComputeContext one(1), three(3);
  for (auto sz : sizes)
    for (auto out : outs)
      for (bool gamma : {false, true})
        for (bool improved : {false, true})
          for (ComputeContext* ctx : {&one, &three}) {
            SCOPED_TRACE(testing::Message() << sz.iw << "x" << sz.ih << "->" << sz.ow << "x" << sz.oh << " format "
                                            << out.format << " layout " << out.layout << " gamma " << gamma
                                            << " improved " << improved << " threads " << ctx->threads());
            Pipeline a(sz.iw, sz.ih, sz.ow, sz.oh, gamma, improved, out.format, out.layout);
            Pipeline b(sz.iw, sz.ih, sz.ow, sz.oh, gamma, improved, out.format, out.layout);
            run_resize(a.resize, *ctx);
            run_convert(a.convert, *ctx, a.set);
            run_scale_and_convert(b.resize, b.convert, *ctx, b.set);
            for (uint32_t y = 0; y < sz.oh; ++y)
              for (uint32_t x = 0; x < sz.ow; ++x)
                ASSERT_EQ(luma_at(a.set, x, y), luma_at(b.set, x, y)) << x << "," << y;
            for (uint32_t y = 0; y < (sz.oh + 1) / 2; ++y)
              for (uint32_t x = 0; x < (sz.ow + 1) / 2; ++x)
                for (int c = 0; c < 2; ++c)
                  ASSERT_EQ(chroma_at(a.set, x, y, c), chroma_at(b.set, x, y, c)) << x << "," << y;
          }
}

}  // namespace
