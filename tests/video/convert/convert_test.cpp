#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"
#include "video_test_util.h"

namespace {

struct Converter {
  CaptureDevice device;
  ResizeStage resize;
  ConvertStage convert;
  SurfaceSet set;

  Converter(uint32_t w, uint32_t h, bool hd, bool improved, uint32_t format = SURFACE_FORMAT_NV12,
            SurfaceLayout layout = SURFACE_LAYOUT_INTERLEAVED) {
    EXPECT_TRUE(create_resize_stage(resize, device, w, h, w, h, false));
    EXPECT_TRUE(create_convert_stage(convert, device, &resize.output_texture, w, h, hd, improved));
    EXPECT_TRUE(create_surface_set(set, device, w, h, format, layout));
  }
  Texture2D& picture() { return resize.input_texture; }
  void run(ComputeContext& ctx) {
    run_resize(resize, ctx);
    run_convert(convert, ctx, set);
  }
};

ComputeContext& one_thread() {
  static ComputeContext ctx(1);
  return ctx;
}

struct FlatCase {
  const char* name;
  bool hd;
  Bgra colour;
  uint32_t y, cb, cr;
};

// Flat pictures: every luma and chroma sample takes the colour's codes, in
// both modes, at even and odd sizes (the clamped last column and row).
TEST(Convert, FlatColoursGiveTheirLimitedRangeCodes) {
  const FlatCase cases[] = {
      {"white 709", true, {255, 255, 255}, 235, 128, 128},
      {"black 709", true, {0, 0, 0}, 16, 128, 128},
      {"white 601", false, {255, 255, 255}, 235, 128, 128},
      {"black 601", false, {0, 0, 0}, 16, 128, 128},
      {"red 601", false, {0, 0, 255}, 81, 90, 240},
  };
  const struct {
    uint32_t w, h;
  } sizes[] = {{8, 6}, {5, 3}, {1, 1}, {2, 7}, {33, 17}};
  for (const FlatCase& c : cases)
    for (auto size : sizes) {
      SCOPED_TRACE(testing::Message() << c.name << " " << size.w << "x" << size.h);
      Converter conv(size.w, size.h, c.hd, false);
      fill_texture(conv.picture(), c.colour);
      conv.run(one_thread());
      for (uint32_t y = 0; y < size.h; ++y)
        for (uint32_t x = 0; x < size.w; ++x) ASSERT_EQ(luma_at(conv.set, x, y), c.y) << x << "," << y;
      for (uint32_t y = 0; y < (size.h + 1) / 2; ++y)
        for (uint32_t x = 0; x < (size.w + 1) / 2; ++x) {
          ASSERT_EQ(chroma_at(conv.set, x, y, 0), c.cb) << x << "," << y;
          ASSERT_EQ(chroma_at(conv.set, x, y, 1), c.cr) << x << "," << y;
        }
    }
}

TEST(Convert, ImprovedModeKeepsWhiteAndBlack) {
  for (Bgra colour : {Bgra{255, 255, 255}, Bgra{0, 0, 0}}) {
    Converter conv(6, 4, true, true);
    fill_texture(conv.picture(), colour);
    conv.run(one_thread());
    uint32_t want = colour.r ? 235 : 16;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(luma_at(conv.set, x, y), want);
    EXPECT_EQ(chroma_at(conv.set, 1, 1, 0), 128u);
    EXPECT_EQ(chroma_at(conv.set, 1, 1, 1), 128u);
  }
}

// One red pixel in the top-left corner of black: its chroma is shared with
// black neighbours, so the plain luma leaves it too dark once decoded; the
// improved luma restores its luminance, and black stays black because no
// luma can take light away.
TEST(Convert, SingleRedPixelOnBlackBt709) {
  for (bool improved : {false, true}) {
    SCOPED_TRACE(improved ? "improved" : "single");
    Converter conv(8, 8, true, improved);
    fill_texture(conv.picture(), {0, 0, 0});
    set_pixel(conv.picture(), 0, 0, {0, 0, 255});
    conv.run(one_thread());
    EXPECT_EQ(luma_at(conv.set, 0, 0), improved ? 111u : 63u);
    for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {1, 1}, {2, 0}, {5, 5}}) EXPECT_EQ(luma_at(conv.set, x, y), 16u) << x << "," << y;
    // Chroma of the corner block: 3/4 of the red pixel in row 0, black in row 1.
    EXPECT_EQ(chroma_at(conv.set, 0, 0, 0), 118u);
    EXPECT_EQ(chroma_at(conv.set, 0, 0, 1), 170u);
    EXPECT_EQ(chroma_at(conv.set, 1, 0, 0), 128u);
  }
}

// The improved luma on a noisy picture against the solve done in double
// precision from the chroma plane as written: each pixel samples the plane at
// its own position (even columns on a chroma column, odd ones halfway; rows a
// quarter and three quarters between chroma rows), and the luma must give the
// pixel's luminance back under the square law. Only values within a hair of a
// rounding boundary may come out one code apart.
TEST(Convert, ImprovedLumaSolvesTheSquareLaw) {
  const double kK[3] = {0.2126, 0.7152, 0.0722};  // R, G, B
  for (bool hd : {true, false}) {
    SCOPED_TRACE(hd ? "BT.709" : "BT.601");
    const uint32_t w = 53, h = 31, cw = (w + 1) / 2, ch = (h + 1) / 2;
    Converter conv(w, h, hd, true);
    fill_random(conv.picture(), 19);
    conv.run(one_thread());
    const ColorMatrix& m = hd ? kMatrixBt709 : kMatrixBt601;
    auto chroma = [&](int x, int y, int c) {
      x = std::clamp(x, 0, int(cw) - 1);
      y = std::clamp(y, 0, int(ch) - 1);
      return (chroma_at(conv.set, x, y, c) / 255.0 - 128.0 / 255.0) * 255.0 / 224.0;
    };
    int off_by_one = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const int hx = int(x) >> 1, jy = int(y) >> 1;
        const int ja = (y & 1) ? jy : jy - 1, jb = ja + 1;
        const double wa = (y & 1) ? 0.75 : 0.25;
        double c[2];
        for (int k = 0; k < 2; ++k) {
          auto col = [&](int cx) { return wa * chroma(cx, ja, k) + (1 - wa) * chroma(cx, jb, k); };
          c[k] = (x & 1) ? 0.5 * col(hx) + 0.5 * col(hx + 1) : col(hx);
        }
        const uint8_t* px = conv.picture().data + size_t(y) * conv.picture().stride + size_t(x) * 4;
        const double rgb[3] = {px[2] / 255.0, px[1] / 255.0, px[0] / 255.0};
        double lum = 0, kd = 0, kd2 = 0;
        for (int i = 0; i < 3; ++i) {
          const double d = m.m[3 + i][1] * c[0] + m.m[3 + i][2] * c[1];
          lum += kK[i] * rgb[i] * rgb[i];
          kd += kK[i] * d;
          kd2 += kK[i] * d * d;
        }
        const double arg = lum + kd * kd - kd2;
        const double yv = arg < 0 ? 0.0 : std::clamp(std::sqrt(arg) - kd, 0.0, 1.0);
        const int want = int(std::floor(yv * 219.0 + 16.0 + 0.5));
        const int got = int(luma_at(conv.set, x, y));
        ASSERT_LE(std::abs(got - want), 1) << x << "," << y;
        off_by_one += got != want;
      }
    EXPECT_LE(off_by_one, int(w * h) / 100) << "codes one apart";
  }
}

// Chroma x takes columns 2x - 1, 2x, 2x + 1 with weights 1/4, 1/2, 1/4
// (clamped at the left edge) and both rows of its pair with 1/2 each.
TEST(Convert, ChromaFilterWeights) {
  const struct {
    int column;
    int row;  // -1: both rows of the pair
    float weight[4];
  } cases[] = {
      {3, -1, {0, 0.25f, 0.25f, 0}},
      {2, -1, {0, 0.5f, 0, 0}},
      {0, -1, {0.75f, 0, 0, 0}},  // column -1 is column 0 again
      {7, -1, {0, 0, 0, 0.25f}},  // column 8 does not exist, nothing clamps to 7 from the right
      {2, 1, {0, 0.25f, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "column " << c.column << " row " << c.row);
    Converter conv(8, 2, true, false);
    fill_texture(conv.picture(), {0, 0, 0});
    for (int y = 0; y < 2; ++y)
      if (c.row < 0 || c.row == y) set_pixel(conv.picture(), c.column, y, {0, 0, 255});
    conv.run(one_thread());
    for (int x = 0; x < 4; ++x) EXPECT_EQ(chroma_at(conv.set, x, 0, 1), unorm8(chroma_code(0.5f * c.weight[x]))) << x;
  }
}

// The 10-bit surfaces hold the same values written through 16-bit UNORM
// views, and the planar layouts hold exactly what the interleaved ones do.
TEST(Convert, FormatsAndLayoutsAgree) {
  const uint32_t w = 37, h = 21;
  for (bool improved : {false, true}) {
    SCOPED_TRACE(improved ? "improved" : "single");
    Converter nv12(w, h, true, improved, SURFACE_FORMAT_NV12, SURFACE_LAYOUT_INTERLEAVED);
    Converter p010(w, h, true, improved, SURFACE_FORMAT_P010, SURFACE_LAYOUT_INTERLEAVED);
    Converter yuv8(w, h, true, improved, SURFACE_FORMAT_NV12, SURFACE_LAYOUT_PLANAR);
    Converter yuv10(w, h, true, improved, SURFACE_FORMAT_P010, SURFACE_LAYOUT_PLANAR);
    for (Converter* c : {&nv12, &p010, &yuv8, &yuv10}) {
      fill_random(c->picture(), 7);
      c->run(one_thread());
    }
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint32_t v8 = luma_at(nv12.set, x, y), v16 = luma_at(p010.set, x, y);
        ASSERT_EQ(luma_at(yuv8.set, x, y), v8);
        ASSERT_EQ(luma_at(yuv10.set, x, y), v16 >> 6);
        // The improved luma depends on the stored chroma, whose precision
        // differs between the formats; the single one only on the source.
        ASSERT_NEAR(double(v16), v8 * 257.0, improved ? 257.0 * 1.5 : 128.5);
      }
    for (uint32_t y = 0; y < (h + 1) / 2; ++y)
      for (uint32_t x = 0; x < (w + 1) / 2; ++x)
        for (int c = 0; c < 2; ++c) {
          uint32_t v8 = chroma_at(nv12.set, x, y, c), v16 = chroma_at(p010.set, x, y, c);
          ASSERT_EQ(chroma_at(yuv8.set, x, y, c), v8);
          ASSERT_EQ(chroma_at(yuv10.set, x, y, c), v16 >> 6);
          ASSERT_NEAR(double(v16), v8 * 257.0, 128.5);
        }
  }
}

TEST(Convert, P010OfExactCodesIsTheCodeTimes257) {
  Converter conv(4, 4, true, false, SURFACE_FORMAT_P010);
  fill_texture(conv.picture(), {255, 255, 255});
  conv.run(one_thread());
  EXPECT_EQ(luma_at(conv.set, 3, 3), 235u * 257);
  EXPECT_EQ(chroma_at(conv.set, 1, 1, 0), 128u * 257);
  fill_texture(conv.picture(), {0, 0, 0});
  conv.run(one_thread());
  EXPECT_EQ(luma_at(conv.set, 0, 0), 16u * 257);
}

TEST(Convert, WorkerPoolGivesTheSameValuesAsOneThread) {
  ComputeContext three(3);
  for (bool improved : {false, true}) {
    Converter a(130, 91, false, improved), b(130, 91, false, improved);
    fill_random(a.picture(), 3);
    fill_random(b.picture(), 3);
    a.run(one_thread());
    b.run(three);
    size_t luma = size_t(a.set.linesize[0]) * 91, chroma = size_t(a.set.linesize[1]) * 46;
    EXPECT_EQ(0, memcmp(a.set.data[0], b.set.data[0], luma));
    EXPECT_EQ(0, memcmp(a.set.data[1], b.set.data[1], chroma));
  }
}

// The vector kernels (AVX2, and AVX-512 where the CPU has it) and the
// portable ones write the same values, in every format and layout, at widths
// that leave a tail for the narrower code.
TEST(Convert, VectorAndPortableKernelsAgree) {
  const struct {
    uint32_t format;
    SurfaceLayout layout;
  } outs[] = {{SURFACE_FORMAT_NV12, SURFACE_LAYOUT_INTERLEAVED},
              {SURFACE_FORMAT_P010, SURFACE_LAYOUT_INTERLEAVED},
              {SURFACE_FORMAT_NV12, SURFACE_LAYOUT_PLANAR},
              {SURFACE_FORMAT_P010, SURFACE_LAYOUT_PLANAR}};
  const uint32_t sizes[][2] = {{64, 8}, {77, 9}, {16, 3}, {15, 2}, {1920, 4}, {97, 5}, {48, 2}, {33, 1}};
  for (bool wide : {false, true}) {
    kernels_force_avx2(!wide);
    if (wide && !kernels_use_avx512()) break;
  for (bool improved : {false, true})
    for (auto out : outs)
      for (auto sz : sizes) {
        SCOPED_TRACE(testing::Message() << "improved " << improved << " format " << out.format << " layout "
                                        << out.layout << " " << sz[0] << "x" << sz[1]
                                        << (wide ? " AVX-512" : " AVX2"));
        Converter a(sz[0], sz[1], false, improved, out.format, out.layout);
        Converter b(sz[0], sz[1], false, improved, out.format, out.layout);
        fill_random(a.picture(), 11);
        fill_random(b.picture(), 11);
        kernels_force_portable(true);
        a.run(one_thread());
        kernels_force_portable(false);
        b.run(one_thread());
        for (uint32_t y = 0; y < sz[1]; ++y)
          for (uint32_t x = 0; x < sz[0]; ++x) ASSERT_EQ(luma_at(a.set, x, y), luma_at(b.set, x, y)) << x << "," << y;
        for (uint32_t y = 0; y < (sz[1] + 1) / 2; ++y)
          for (uint32_t x = 0; x < (sz[0] + 1) / 2; ++x)
            for (int c = 0; c < 2; ++c) ASSERT_EQ(chroma_at(a.set, x, y, c), chroma_at(b.set, x, y, c)) << x << "," << y;
      }
  }
  kernels_force_avx2(false);
}

TEST(Convert, RefusesBadSizesAndMismatchedSurfaces) {
  CaptureDevice dev;
  SurfaceSet set;
  EXPECT_FALSE(create_surface_set(set, dev, 0, 10, SURFACE_FORMAT_NV12));
  EXPECT_FALSE(create_surface_set(set, dev, 10, 20000, SURFACE_FORMAT_NV12));
  EXPECT_FALSE(create_surface_set(set, dev, 10, 10, 87));
  ResizeStage rs;
  EXPECT_FALSE(create_resize_stage(rs, dev, 100, 100, 200, 100, false));  // never enlarges
  EXPECT_FALSE(create_resize_stage(rs, dev, 0, 100, 0, 100, false));
  // A surface of another size is left alone rather than overrun.
  Converter conv(16, 16, true, false);
  fill_texture(conv.picture(), {255, 255, 255});
  SurfaceSet small;
  ASSERT_TRUE(create_surface_set(small, dev, 8, 8, SURFACE_FORMAT_NV12));
  run_convert(conv.convert, one_thread(), small);
  EXPECT_EQ(luma_at(small, 0, 0), 0u);
}

}  // namespace
