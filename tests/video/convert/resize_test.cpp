#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"
#include "video_test_util.h"

namespace {

ComputeContext& one_thread() {
  static ComputeContext ctx(1);
  return ctx;
}

TEST(Resize, MitchellKernelValues) {
  EXPECT_NEAR(mitchell_kernel(0.0f), 16.0f / 18.0f, 1e-6);
  EXPECT_NEAR(mitchell_kernel(1.0f), 1.0f / 18.0f, 1e-6);
  EXPECT_NEAR(mitchell_kernel(-1.0f), 1.0f / 18.0f, 1e-6);
  EXPECT_EQ(mitchell_kernel(2.0f), 0.0f);
  EXPECT_EQ(mitchell_kernel(-2.5f), 0.0f);
}

// Halving: 8 taps per output pixel at distances +-0.25, +-0.75, +-1.25,
// +-1.75 output pixels.
TEST(Resize, HalvingTapsAndWeights) {
  ResizeTaps taps;
  compute_resize_taps(taps, 1920, 960, false);
  const float expected[8] = {-0.0148f, -0.0234f, 0.2561f, 0.7821f, 0.7821f, 0.2561f, -0.0234f, -0.0148f};
  for (int o : {2, 100, 500, 957}) {
    SCOPED_TRACE(o);
    EXPECT_EQ(taps.first[o], 2 * o - 3);
    ASSERT_EQ(taps.count[o], 8);
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(taps.weights[size_t(o) * taps.max_taps + k], expected[k], 1e-4);
  }
  // The left border clips the window; the right border excludes the last
  // index (the window ends before size - 1).
  EXPECT_EQ(taps.first[0], 0);
  EXPECT_EQ(taps.count[0], 5);
  EXPECT_EQ(taps.first[959], 1915);
  EXPECT_EQ(taps.count[959], 1919 - 1915);
  ResizeTaps norm;
  compute_resize_taps(norm, 1920, 960, true);
  for (int o : {0, 480, 959}) {
    float sum = 0;
    for (int k = 0; k < norm.count[o]; ++k) sum += norm.weights[size_t(o) * norm.max_taps + k];
    EXPECT_NEAR(sum, 1.0f, 1e-6);
  }
}

TEST(Resize, EqualSizesNeedNoScaling) {
  CaptureDevice dev;
  ResizeStage st;
  ASSERT_TRUE(create_resize_stage(st, dev, 64, 48, 64, 48, true));
  EXPECT_FALSE(st.scaling);
  EXPECT_EQ(st.output_texture, &st.input_texture);
  for (const ResizeStage::BandScratch& b : st.bands) EXPECT_EQ(b.mid.data(), nullptr);
  fill_random(st.input_texture, 1);
  std::vector<uint8_t> before(st.input_texture.data, st.input_texture.data + st.input_texture.stride * 48);
  run_resize(st, one_thread());
  EXPECT_EQ(0, memcmp(before.data(), st.input_texture.data, before.size()));
}

// Normalised weights keep a flat colour, also along an axis that keeps its
// size (both passes always run) and with linear light.
TEST(Resize, FlatColoursSurviveScaling) {
  const struct {
    uint32_t iw, ih, ow, oh;
  } sizes[] = {{1920, 1080, 960, 540}, {2560, 1440, 1920, 1080}, {101, 37, 100, 37}, {9, 7, 2, 1}, {5, 1, 3, 1}, {1, 9, 1, 4}};
  const Bgra colours[] = {{0, 0, 0}, {255, 255, 255}, {12, 200, 77}, {1, 128, 254}};
  CaptureDevice dev;
  for (bool gamma : {false, true})
    for (auto sz : sizes) {
      ResizeStage st;
      ASSERT_TRUE(create_resize_stage(st, dev, sz.iw, sz.ih, sz.ow, sz.oh, gamma));
      for (Bgra c : colours) {
        SCOPED_TRACE(testing::Message() << sz.iw << "x" << sz.ih << "->" << sz.ow << "x" << sz.oh << " gamma " << gamma
                                        << " colour " << int(c.r) << "," << int(c.g) << "," << int(c.b));
        fill_texture(st.input_texture, c);
        run_resize(st, one_thread());
        const Texture2D& out = *st.output_texture;
        size_t wrong = 0, first_wrong = 0;
        for (uint32_t y = 0; y < sz.oh; ++y)
          for (uint32_t x = 0; x < sz.ow; ++x) {
            const uint8_t* p = out.data + size_t(y) * out.stride + x * 4;
            bool ok = p[0] == c.b && p[1] == c.g && p[2] == c.r && p[3] == 0;
            if (!ok && wrong++ == 0) first_wrong = size_t(y) * sz.ow + x;
          }
        ASSERT_EQ(wrong, 0u) << "first at " << first_wrong % sz.ow << "," << first_wrong / sz.ow;
      }
    }
}

// The kernels against the formulas written out plainly, on a random picture:
// window, weights, exact loads, clamping or sRGB coding, and the 8-bit
// intermediate between the passes.
std::vector<uint8_t> reference_pass(const std::vector<uint8_t>& in, int w, int h, int ow, int oh, bool horizontal,
                                    bool gamma) {
  std::vector<uint8_t> out(size_t(ow) * oh * 4, 0);
  int in_size = horizontal ? w : h, out_size = horizontal ? ow : oh;
  double s = double(float(out_size) / float(in_size));
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x) {
      int o = horizontal ? x : y;
      float c = (o + 0.5f) / float(s);
      float r = 2.0f / float(s);
      int first = std::clamp(int(c - r + 0.5f), 0, in_size - 1), last = std::clamp(int(c + r + 0.5f), 0, in_size - 1);
      if (last <= first) last = first + 1;
      for (int ch = 0; ch < 3; ++ch) {
        double sum = 0, wsum = 0;
        for (int i = first; i < last; ++i) {
          double k = mitchell_kernel(float(s) * (c - (i + 0.5f)));
          uint8_t v = horizontal ? in[(size_t(y) * w + i) * 4 + ch] : in[(size_t(i) * w + x) * 4 + ch];
          double val = gamma ? srgb_decode(v / 255.0f) : v / 255.0;
          sum += k * val;
          wsum += k;
        }
        double v = sum / wsum;
        out[(size_t(y) * ow + x) * 4 + ch] = gamma ? srgb_encode_code_reference(float(v)) : unorm8(float(v));
      }
    }
  return out;
}

TEST(Resize, MatchesTheFormulasOnRandomPictures) {
  const struct {
    int iw, ih, ow, oh;
  } sizes[] = {{64, 40, 48, 30}, {37, 23, 11, 23}, {50, 50, 13, 7}};
  CaptureDevice dev;
  for (bool gamma : {false, true})
    for (auto sz : sizes) {
      SCOPED_TRACE(testing::Message() << sz.iw << "x" << sz.ih << "->" << sz.ow << "x" << sz.oh << " gamma " << gamma);
      ResizeStage st;
      ASSERT_TRUE(create_resize_stage(st, dev, sz.iw, sz.ih, sz.ow, sz.oh, gamma));
      fill_random(st.input_texture, 42);
      std::vector<uint8_t> in(size_t(sz.iw) * sz.ih * 4);
      for (int y = 0; y < sz.ih; ++y) memcpy(&in[size_t(y) * sz.iw * 4], st.input_texture.data + size_t(y) * st.input_texture.stride, sz.iw * 4);
      auto mid = reference_pass(in, sz.iw, sz.ih, sz.ow, sz.ih, true, gamma);
      auto want = reference_pass(mid, sz.ow, sz.ih, sz.ow, sz.oh, false, gamma);
      ComputeContext three(3);
      run_resize(st, three);
      int off_by_one = 0;
      for (int y = 0; y < sz.oh; ++y)
        for (int x = 0; x < sz.ow; ++x)
          for (int ch = 0; ch < 3; ++ch) {
            int got = st.output_texture->data[size_t(y) * st.output_texture->stride + x * 4 + ch];
            int exp = want[(size_t(y) * sz.ow + x) * 4 + ch];
            // Float sums in another order may land on the other side of a
            // rounding boundary, which the second pass can carry on.
            ASSERT_LE(std::abs(got - exp), 1) << x << "," << y << " ch " << ch;
            off_by_one += got != exp;
          }
      EXPECT_LT(off_by_one, sz.ow * sz.oh * 3 / 100 + 2);
    }
}

// The code of the sRGB curve evaluated in double precision: what the store
// must give for every float in 0..1.
int curve_code(float v) {
  double x = v;
  double e = x < 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
  return int(std::floor(std::clamp(e, 0.0, 1.0) * 255.0 + 0.5));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSrgbSweepStep = 4;  // sanitized code is slower: a quarter of the blocks
#else
constexpr uint32_t kSrgbSweepStep = 1;
#endif

// Every float from 0 to 1, through the scalar store and (where the CPU has
// it) the vector one, in blocks of 2^16. Evaluating the curve at a billion
// points would take too long, but it never falls as v rises, so it is enough
// to evaluate it at both ends of each run of equal store codes: if it
// matches there, it matches on the whole run.
TEST(Resize, SrgbStoreGivesTheCurveCodeOfEveryFloat) {
  ASSERT_TRUE(srgb_code_table().exact);
  const bool vector = kernels_use_avx2();
  constexpr uint32_t kOne = 0x3f800000u;
  constexpr uint32_t kBlock = 1u << 16;
  auto float_of = [](uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
  };
  std::vector<float> in(kBlock);
  std::vector<uint8_t> vec(kBlock);
  int steps = 0;
  for (uint32_t base = 0; base <= kOne; base += kBlock * kSrgbSweepStep) {
    const uint32_t n = base == kOne ? 1 : kBlock;
    if (vector) {
      for (uint32_t i = 0; i < n; ++i) in[i] = float_of(base + i);
      srgb_encode_codes_avx2(in.data(), vec.data(), n);
    }
    int prev = srgb_encode_code(float_of(base));
    ASSERT_EQ(curve_code(float_of(base)), prev) << float_of(base);
    bool same = true;
    for (uint32_t i = 0; i < n; ++i) {
      const float f = float_of(base + i);
      const int c = srgb_encode_code(f);
      same &= !vector || vec[i] == c;
      if (c == prev) continue;
      // One run ends at the float before f and the next starts at f.
      ASSERT_EQ(c, prev + 1) << f;
      ASSERT_EQ(curve_code(float_of(base + i - 1)), prev) << float_of(base + i - 1);
      ASSERT_EQ(curve_code(f), c) << f;
      EXPECT_EQ(srgb_code_table().threshold[c], f);
      prev = c;
      ++steps;
    }
    ASSERT_EQ(curve_code(float_of(base + n - 1)), prev) << float_of(base + n - 1);
    ASSERT_TRUE(same) << "the vector store differs in the block from " << float_of(base);
  }
  if (kSrgbSweepStep == 1) {
    EXPECT_EQ(steps, 255);
  }
  EXPECT_EQ(srgb_encode_code(1.0f), 255);

  // Outside 0..1 the value is clamped first, and NaN counts as 0.
  const struct {
    float v;
    int code;
  } clamped[] = {{-0.0f, 0},     {-1e-40f, 0},      {-0.5f, 0},       {-INFINITY, 0},     {NAN, 0},
                 {-NAN, 0},      {1.0000001f, 255}, {2.0f, 255},      {3.4e38f, 255},     {INFINITY, 255}};
  for (auto c : clamped) {
    EXPECT_EQ(srgb_encode_code(c.v), c.code) << c.v;
    if (vector) {
      float v8[8];
      uint8_t out[8];
      std::fill(v8, v8 + 8, c.v);
      srgb_encode_codes_avx2(v8, out, 8);
      EXPECT_EQ(out[3], c.code) << c.v;
    }
  }
  // Decoding then encoding every code gives the code back.
  const float* lut = srgb_decode_table();
  for (int c = 0; c < 256; ++c) EXPECT_EQ(srgb_encode_code(lut[c]), c);
}

}  // namespace

namespace {

// The vector kernels (AVX2, and AVX-512 where the CPU has it) give the same
// bytes as the portable ones rounding each multiply-add once, and the
// portable ones rounding twice differ from them by at most one code, rarely
// (on a CPU without AVX2 all runs take the portable path and the test is
// trivial).
TEST(Resize, VectorAndPortableKernelsAgree) {
  const struct {
    uint32_t iw, ih, ow, oh;
  } sizes[] = {{203, 61, 150, 40}, {64, 64, 17, 63}, {2560, 64, 1920, 48},
               // 7, 8 and 5 horizontal taps: each count has its own vector code.
               {100, 21, 60, 13}, {96, 30, 48, 15}, {90, 20, 81, 18},
               // Heights that leave a short last block of rows, a single
               // short block, and widths with every vector tail.
               {300, 37, 161, 29}, {47, 5, 33, 3}, {1000, 19, 517, 16}};
  CaptureDevice dev;
  for (bool wide : {false, true}) {
    kernels_force_avx2(!wide);
    if (wide && !kernels_use_avx512()) break;
    for (bool gamma : {false, true})
      for (auto sz : sizes) {
        SCOPED_TRACE(testing::Message() << sz.iw << "x" << sz.ih << "->" << sz.ow << "x" << sz.oh << " gamma " << gamma
                                        << (wide ? " AVX-512" : " AVX2"));
        ResizeStage fused, twice, vec;
        for (ResizeStage* st : {&fused, &twice, &vec}) {
          ASSERT_TRUE(create_resize_stage(*st, dev, sz.iw, sz.ih, sz.ow, sz.oh, gamma));
          fill_random(st->input_texture, 9);
        }
        kernels_force_portable(true);
        kernels_fuse_portable(true);
        run_resize(fused, one_thread());
        kernels_fuse_portable(false);
        run_resize(twice, one_thread());
        kernels_force_portable(false);
        kernels_fuse_portable(true);  // without AVX2 the "vector" run is portable: fused
        ComputeContext three(3);      // bands that start mid-picture
        run_resize(vec, three);
        kernels_fuse_portable(false);
        size_t apart = 0;
        for (uint32_t y = 0; y < sz.oh; ++y) {
          const uint8_t* v = vec.output_texture->data + size_t(y) * vec.output_texture->stride;
          const uint8_t* f = fused.output_texture->data + size_t(y) * fused.output_texture->stride;
          const uint8_t* t = twice.output_texture->data + size_t(y) * twice.output_texture->stride;
          ASSERT_EQ(0, memcmp(f, v, sz.ow * 4)) << "row " << y;
          for (uint32_t i = 0; i < sz.ow * 4; ++i) {
            ASSERT_LE(std::abs(int(t[i]) - int(v[i])), 1) << "row " << y << " byte " << i;
            apart += t[i] != v[i];
          }
        }
        EXPECT_LE(apart, size_t(sz.ow) * sz.oh * 3 / 100 + 2) << "values one code apart";
      }
  }
  kernels_force_avx2(false);
}

}  // namespace
