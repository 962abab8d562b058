// The conversion on a Direct3D 11 device against the CPU stages, through the
// VideoConverter seam: the same pictures into both, the planes compared
// sample by sample. Under Wine the device is Mesa's software renderer, which
// refuses NV12 and P010 textures, so the surfaces there are two plain
// textures each. The CPU side runs the portable kernels with separately
// rounded multiply-adds (the programs' arithmetic).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "video/convert/compute_context.h"
#include "video/convert/cpu_converter.h"
#include "video/convert/kernels.h"
#include "video/convert/win32/d3d11_converter.h"

namespace {

struct Device {
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  D3D_FEATURE_LEVEL level{};
};

const Device& gpu() {
  static const Device d = [] {
    Device r;
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    for (D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
      if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, 0, levels, 2, D3D11_SDK_VERSION, r.device.put(), &r.level,
                                      r.context.put())))
        break;
    }
    return r;
  }();
  return d;
}

// A B8G8R8A8 picture in memory.
struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bytes;
  BgraImage image() const { return BgraImage{bytes.data(), width, height, width * 4}; }
};

enum class Content { kFlat, kRandom, kRedCorner };

Picture make_picture(int32_t w, int32_t h, Content content, uint32_t rgb, uint32_t seed) {
  Picture p;
  p.width = w;
  p.height = h;
  p.bytes.assign(size_t(w) * h * 4, 0);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    uint8_t* px = &p.bytes[i * 4];
    switch (content) {
      case Content::kFlat:
        px[0] = uint8_t(rgb), px[1] = uint8_t(rgb >> 8), px[2] = uint8_t(rgb >> 16);
        break;
      case Content::kRandom:
        px[0] = uint8_t(rng()), px[1] = uint8_t(rng()), px[2] = uint8_t(rng());
        break;
      case Content::kRedCorner:
        if (i == 0) px[2] = 255;
        break;
    }
    px[3] = 255;
  }
  return p;
}

struct Planes {
  SurfaceSet set;
  bool ok = false;
};

// Converts `picture` with `setup` through `converter` and reads surface 0 back.
Planes run(VideoConverter& converter, const ConverterSetup& setup, const Picture& picture) {
  Planes out;
  if (!converter.create(setup)) return out;
  converter.load_input(picture.image(), Rect{0, 0, picture.width, picture.height});
  converter.convert(0);
  out.ok = converter.read_surface(0, out.set);
  return out;
}

Planes run_cpu(const ConverterSetup& setup, const Picture& picture) {
  kernels_force_portable(true);
  kernels_fuse_portable(false);
  ComputeContext context(1);
  CpuVideoConverter cpu(context);
  Planes p = run(cpu, setup, picture);
  kernels_force_portable(false);
  return p;
}

// Differences of one plane: a histogram of |gpu - cpu| (0, 1, 2, 3 or more).
struct PlaneDiff {
  uint64_t samples = 0;
  uint64_t hist[4] = {0, 0, 0, 0};
  uint32_t max = 0;
  uint64_t differing() const { return samples - hist[0]; }
};

PlaneDiff compare_plane(const SurfaceSet& a, const SurfaceSet& b, int plane) {
  PlaneDiff d;
  const bool wide = a.format == SURFACE_FORMAT_P010;
  const uint32_t rows = plane == 0 ? a.height : (a.height + 1) / 2;
  const uint32_t n = plane == 0 ? a.width : (a.width + 1) / 2 * 2;
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* ra = a.data[plane] + size_t(y) * a.linesize[plane];
    const uint8_t* rb = b.data[plane] + size_t(y) * b.linesize[plane];
    for (uint32_t x = 0; x < n; ++x) {
      int32_t va, vb;
      if (wide) {
        uint16_t ua, ub;
        std::memcpy(&ua, ra + 2 * x, 2);
        std::memcpy(&ub, rb + 2 * x, 2);
        va = ua, vb = ub;
      } else {
        va = ra[x], vb = rb[x];
      }
      const uint32_t diff = uint32_t(va > vb ? va - vb : vb - va);
      d.hist[diff < 3 ? diff : 3] += 1;
      d.max = std::max(d.max, diff);
      d.samples += 1;
    }
  }
  return d;
}

std::string describe(const char* plane, const PlaneDiff& d) {
  char line[160];
  std::snprintf(line, sizeof line, "%s %llu of %llu differ (|d|=1: %llu, 2: %llu, >=3: %llu, max %u)", plane,
                (unsigned long long)d.differing(), (unsigned long long)d.samples, (unsigned long long)d.hist[1],
                (unsigned long long)d.hist[2], (unsigned long long)d.hist[3], d.max);
  return line;
}

// Byte-exact where both sides do the same operations, each rounded once as
// Direct3D requires of additions and multiplications (integer sums, table
// look-ups, separately rounded products and sums): the scaling, both
// transfer curves and the single conversion. The improved luma also takes a
// square root, which the device may round differently: at most one code
// apart on at most 1 % of the samples.
enum class Expect { kExact, kNear };

struct Case {
  const char* name;
  int32_t in_w, in_h, out_w, out_h;
  bool gamma, improved, hd, p010;
  Content content;
  uint32_t rgb;  // flat colour, 0xRRGGBB
  Expect expect;
};

const Case kCases[] = {
    {"flat_equal_709", 256, 128, 256, 128, false, false, true, false, Content::kFlat, 0x2040c0, Expect::kExact},
    {"flat_equal_601_improved", 256, 128, 256, 128, false, true, false, false, Content::kFlat, 0x2040c0, Expect::kExact},
    {"flat_scaled_plain", 640, 360, 320, 180, false, false, true, false, Content::kFlat, 0xc08020, Expect::kExact},
    {"flat_scaled_gamma", 640, 360, 320, 180, true, false, true, false, Content::kFlat, 0xc08020, Expect::kExact},
    {"flat_scaled_gamma_p010", 640, 360, 426, 240, true, false, true, true, Content::kFlat, 0x7f7f7f, Expect::kExact},
    {"white_709", 64, 32, 64, 32, false, false, true, false, Content::kFlat, 0xffffff, Expect::kExact},
    {"black_709", 64, 32, 64, 32, false, false, true, false, Content::kFlat, 0x000000, Expect::kExact},
    {"red_601", 64, 32, 64, 32, false, false, false, false, Content::kFlat, 0xff0000, Expect::kExact},
    {"red_corner_single", 64, 32, 64, 32, false, false, true, false, Content::kRedCorner, 0, Expect::kExact},
    {"red_corner_improved", 64, 32, 64, 32, false, true, true, false, Content::kRedCorner, 0, Expect::kExact},
    {"random_equal_single", 320, 240, 320, 240, false, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_equal_improved", 320, 240, 320, 240, false, true, true, false, Content::kRandom, 0, Expect::kNear},
    {"random_equal_p010", 320, 240, 320, 240, false, false, false, true, Content::kRandom, 0, Expect::kExact},
    {"random_equal_improved_p010", 320, 240, 320, 240, false, true, true, true, Content::kRandom, 0, Expect::kNear},
    {"random_odd_equal", 317, 211, 317, 211, false, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_odd_scaled", 333, 199, 250, 150, false, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_odd_scaled_gamma", 333, 199, 251, 151, true, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_odd_scaled_improved", 333, 199, 250, 150, false, true, false, false, Content::kRandom, 0, Expect::kNear},
    {"random_1080_half_plain", 1920, 1080, 960, 540, false, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_1080_half_gamma", 1920, 1080, 960, 540, true, false, true, false, Content::kRandom, 0, Expect::kExact},
    {"random_1080_half_gamma_improved_p010", 1920, 1080, 960, 540, true, true, true, true, Content::kRandom, 0,
     Expect::kNear},
};

class GpuConversion : public ::testing::TestWithParam<Case> {};

TEST_P(GpuConversion, MatchesTheCpuStages) {
  const Case& c = GetParam();
  ASSERT_TRUE(gpu().device) << "no Direct3D 11 device";
  ConverterSetup setup;
  setup.in_width = uint32_t(c.in_w), setup.in_height = uint32_t(c.in_h);
  setup.out_width = uint32_t(c.out_w), setup.out_height = uint32_t(c.out_h);
  setup.gamma = c.gamma, setup.improved = c.improved, setup.hd_color = c.hd;
  setup.format = c.p010 ? SURFACE_FORMAT_P010 : SURFACE_FORMAT_NV12;
  const Picture picture = make_picture(c.in_w, c.in_h, c.content, c.rgb, 1234u + uint32_t(c.in_w));

  Planes cpu = run_cpu(setup, picture);
  ASSERT_TRUE(cpu.ok);
  D3D11VideoConverter converter(gpu().device.get(), gpu().context.get());
  Planes dev = run(converter, setup, picture);
  ASSERT_TRUE(dev.ok);

  const PlaneDiff y = compare_plane(dev.set, cpu.set, 0), uv = compare_plane(dev.set, cpu.set, 1);
  std::printf("[conversion] %-38s %s; %s%s\n", c.name, describe("Y", y).c_str(), describe("UV", uv).c_str(),
              converter.split_planes() ? "" : " (NV12/P010 texture)");
  for (const PlaneDiff* d : {&y, &uv}) {
    if (c.expect == Expect::kExact) {
      EXPECT_EQ(d->differing(), 0u);
    } else {
      EXPECT_LE(d->max, 1u);
      EXPECT_LE(d->differing() * 100, d->samples);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GpuConversion, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

uint32_t sample(const SurfaceSet& s, int plane, uint32_t x, uint32_t y) {
  const uint8_t* row = s.data[plane] + size_t(y) * s.linesize[plane];
  if (s.format != SURFACE_FORMAT_P010) return row[x];
  uint16_t v;
  std::memcpy(&v, row + 2 * x, 2);
  return v;
}

// The reference values of the colour description, from the device: luma at
// (0, 0) and (1, 0), Cb and Cr of chroma texel (0, 0).
TEST(GpuConversionReference, CodesOfTheReferencePixels) {
  ASSERT_TRUE(gpu().device);
  struct Ref {
    const char* name;
    Content content;
    uint32_t rgb;
    bool hd, improved, p010;
    uint32_t y0, y1, cb, cr;
  };
  const Ref refs[] = {
      {"white 709", Content::kFlat, 0xffffff, true, false, false, 235, 235, 128, 128},
      {"black 709", Content::kFlat, 0x000000, true, false, false, 16, 16, 128, 128},
      {"red 601", Content::kFlat, 0xff0000, false, false, false, 81, 81, 90, 240},
      {"red corner 709 single", Content::kRedCorner, 0, true, false, false, 63, 16, 0, 0},
      {"red corner 709 improved", Content::kRedCorner, 0, true, true, false, 111, 16, 0, 0},
      {"white 709 P010", Content::kFlat, 0xffffff, true, false, true, 235 * 257, 235 * 257, 128 * 257, 128 * 257},
  };
  for (const Ref& r : refs) {
    SCOPED_TRACE(r.name);
    ConverterSetup setup;
    setup.in_width = setup.out_width = 16;
    setup.in_height = setup.out_height = 8;
    setup.hd_color = r.hd, setup.improved = r.improved;
    setup.format = r.p010 ? SURFACE_FORMAT_P010 : SURFACE_FORMAT_NV12;
    D3D11VideoConverter converter(gpu().device.get(), gpu().context.get());
    Planes p = run(converter, setup, make_picture(16, 8, r.content, r.rgb, 1));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(sample(p.set, 0, 0, 0), r.y0);
    EXPECT_EQ(sample(p.set, 0, 1, 0), r.y1);
    if (r.cb) {
      EXPECT_EQ(sample(p.set, 1, 0, 0), r.cb);
      EXPECT_EQ(sample(p.set, 1, 1, 0), r.cr);
    }
  }
}

// A frame whose content is smaller than the input: cleared to black first,
// then the content at the top-left; from memory and from a texture on the
// device alike.
TEST(GpuConversionInput, PartialFramesFromMemoryAndFromTheDevice) {
  ASSERT_TRUE(gpu().device);
  ConverterSetup setup;
  setup.in_width = setup.out_width = 64;
  setup.in_height = setup.out_height = 32;
  setup.hd_color = true;
  const Picture full = make_picture(64, 32, Content::kRandom, 0, 7);
  const Picture part = make_picture(80, 40, Content::kRandom, 0, 8);
  const Rect box{10, 5, 50, 25};  // 40 x 20 of the larger picture

  ComputeContext context(1);
  CpuVideoConverter cpu(context);
  ASSERT_TRUE(cpu.create(setup));
  cpu.load_input(full.image(), Rect{0, 0, 64, 32});
  cpu.clear_input();
  cpu.load_input(part.image(), box);
  cpu.convert(0);
  SurfaceSet want;
  ASSERT_TRUE(cpu.read_surface(0, want));

  // The larger picture as a texture on the device.
  D3D11_TEXTURE2D_DESC d{};
  d.Width = 80, d.Height = 40, d.MipLevels = 1, d.ArraySize = 1, d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  d.SampleDesc.Count = 1, d.Usage = D3D11_USAGE_DEFAULT, d.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  D3D11_SUBRESOURCE_DATA init{part.bytes.data(), 80 * 4, 0};
  ComRef<ID3D11Texture2D> texture;
  ASSERT_TRUE(SUCCEEDED(gpu().device->CreateTexture2D(&d, &init, texture.put())));

  for (bool from_device : {false, true}) {
    SCOPED_TRACE(from_device ? "from the device" : "from memory");
    D3D11VideoConverter converter(gpu().device.get(), gpu().context.get());
    ASSERT_TRUE(converter.create(setup));
    converter.load_input(full.image(), Rect{0, 0, 64, 32});
    converter.clear_input();
    if (from_device)
      ASSERT_TRUE(converter.load_input(GpuPicture{texture.get(), 80, 40}, box));
    else
      converter.load_input(part.image(), box);
    converter.convert(0);
    SurfaceSet got;
    ASSERT_TRUE(converter.read_surface(0, got));
    EXPECT_EQ(compare_plane(got, want, 0).differing(), 0u);
    EXPECT_EQ(compare_plane(got, want, 1).differing(), 0u);
  }
  // The CPU stages take no pictures on the device.
  EXPECT_FALSE(cpu.load_input(GpuPicture{texture.get(), 80, 40}, box));
}

// Sizes the stages refuse are refused on the device too.
TEST(GpuConversionSetup, RefusesWhatTheCpuStagesRefuse) {
  ASSERT_TRUE(gpu().device);
  D3D11VideoConverter converter(gpu().device.get(), gpu().context.get());
  ComputeContext context(1);
  CpuVideoConverter cpu(context);
  struct Bad {
    uint32_t iw, ih, ow, oh, format;
  };
  for (const Bad& b : {Bad{0, 8, 0, 8, SURFACE_FORMAT_NV12}, Bad{16, 8, 32, 8, SURFACE_FORMAT_NV12},
                       Bad{16, 8, 16, 16, SURFACE_FORMAT_NV12}, Bad{20000, 8, 16, 8, SURFACE_FORMAT_NV12},
                       Bad{16, 8, 16, 8, 87}}) {
    ConverterSetup s;
    s.in_width = b.iw, s.in_height = b.ih, s.out_width = b.ow, s.out_height = b.oh, s.format = b.format;
    EXPECT_FALSE(converter.create(s)) << b.iw << "x" << b.ih << " -> " << b.ow << "x" << b.oh;
    EXPECT_FALSE(cpu.create(s)) << b.iw << "x" << b.ih << " -> " << b.ow << "x" << b.oh;
  }
}

}  // namespace
