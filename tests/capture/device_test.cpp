#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/app_state.h"
#include "capture/device.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(CaptureDevice, ChoosesByPreferenceOrFallsBackToTheOnlyKind) {
  RenderNodeInfo igpu{"/dev/dri/renderD128", "i915", true};
  RenderNodeInfo dgpu{"/dev/dri/renderD129", "amdgpu", false};
  RenderNodeInfo dgpu2{"/dev/dri/renderD130", "nvidia", false};
  const struct {
    std::vector<RenderNodeInfo> nodes;
    bool prefer_integrated;
    int want;
  } cases[] = {
      {{}, true, -1},           {{}, false, -1},          {{igpu}, true, 0},   {{igpu}, false, 0},
      {{dgpu}, true, 0},        {{igpu, dgpu}, true, 0},  {{igpu, dgpu}, false, 1},
      {{dgpu, dgpu2, igpu}, false, 0}, {{dgpu, dgpu2, igpu}, true, 2},
  };
  for (const auto& c : cases) EXPECT_EQ(choose_render_node(c.nodes, c.prefer_integrated).index, c.want);
}

// Within the preference, a node whose encoder opens wins; the other kind
// only when no node of the preferred kind opens; none opening leaves the
// first of the order, for the encoder check to refuse.
TEST(CaptureDevice, PrefersANodeWhoseEncoderOpens) {
  RenderNodeInfo nv{"/dev/dri/renderD128", "nvidia", false};
  RenderNodeInfo amd{"/dev/dri/renderD129", "amdgpu", false};
  RenderNodeInfo intel{"/dev/dri/renderD130", "i915", true};
  const std::vector<RenderNodeInfo> nodes{nv, amd, intel};
  const struct {
    bool prefer_integrated;
    std::vector<std::string> opening;  // drivers whose encoder opens
    int want;
    bool opens;
  } cases[] = {
      {false, {"nvidia", "amdgpu", "i915"}, 0, true},
      {false, {"amdgpu", "i915"}, 1, true},
      {false, {"i915"}, 2, true},
      {false, {}, 0, false},
      {true, {"nvidia", "i915"}, 2, true},
      {true, {"nvidia"}, 0, true},
      {true, {"amdgpu"}, 1, true},
      {true, {}, 2, false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> asked;
    NodeChoice got = choose_render_node(nodes, c.prefer_integrated, [&](const RenderNodeInfo& n) {
      asked.push_back(n.driver);
      return std::find(c.opening.begin(), c.opening.end(), n.driver) != c.opening.end();
    });
    EXPECT_EQ(got.index, c.want) << c.prefer_integrated << " " << c.opening.size();
    EXPECT_EQ(got.encoder_opens, c.opens);
    EXPECT_FALSE(asked.empty());
    EXPECT_LE(asked.size(), nodes.size());
  }
}

// A DRM class directory laid out like the kernel's: renderD* entries whose
// device link points at the PCI (or platform) device with its driver link.
class FakeSysfs : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    root_ = dir_.path();
    fs::create_directories(root_ / "class/drm");
  }
  void add(const std::string& node, const std::string& device_path, const std::string& driver, const char* vendor,
           const char* vram = nullptr) {
    fs::path dev = root_ / "devices" / device_path;
    fs::create_directories(dev);
    fs::create_directories(root_ / "drivers" / driver);
    fs::create_directory_symlink(root_ / "drivers" / driver, dev / "driver");
    if (vendor) std::ofstream(dev / "vendor") << vendor << "\n";
    if (vram) std::ofstream(dev / "mem_info_vram_total") << vram << "\n";
    fs::create_directories(root_ / "class/drm" / node);
    fs::create_directory_symlink(dev, root_ / "class/drm" / node / "device");
  }
  std::vector<RenderNodeInfo> scan() { return enumerate_render_nodes((root_ / "class/drm").string(), "/dev/dri"); }
  TempDir dir_{"drm"};
  fs::path root_;
};

TEST_F(FakeSysfs, ClassifiesIntegratedAndDiscreteGpus) {
  add("renderD129", "pci0000:00/0000:00:01.0/0000:01:00.0", "nvidia", "0x10de");
  add("renderD128", "pci0000:00/0000:00:02.0", "i915", "0x8086");
  add("renderD130", "pci0000:00/0000:00:08.1/0000:05:00.0", "amdgpu", "0x1002", "536870912");
  add("renderD131", "pci0000:00/0000:00:03.1/0000:0a:00.0", "amdgpu", "0x1002", "8589934592");
  add("renderD132", "platform/soc/gpu", "panfrost", nullptr);
  add("renderD133", "virtual/vgem", "vgem", nullptr);
  fs::create_directories(root_ / "class/drm/card0");
  auto nodes = scan();
  ASSERT_EQ(nodes.size(), 5u);
  const struct {
    const char* path;
    const char* driver;
    bool integrated;
  } want[] = {{"/dev/dri/renderD128", "i915", true},
              {"/dev/dri/renderD129", "nvidia", false},
              {"/dev/dri/renderD130", "amdgpu", true},
              {"/dev/dri/renderD131", "amdgpu", false},
              {"/dev/dri/renderD132", "panfrost", true}};
  for (size_t i = 0; i < nodes.size(); ++i) {
    EXPECT_EQ(nodes[i].path, want[i].path);
    EXPECT_EQ(nodes[i].driver, want[i].driver);
    EXPECT_EQ(nodes[i].integrated, want[i].integrated) << want[i].path;
  }
  EXPECT_EQ(choose_render_node(nodes, false).index, 1);
  EXPECT_EQ(choose_render_node(nodes, true).index, 0);
}

TEST_F(FakeSysfs, MissingDirectoryMeansNoNodes) {
  EXPECT_TRUE(enumerate_render_nodes((root_ / "absent").string(), "/dev/dri").empty());
}

TEST(CaptureDevice, AlwaysExistsAndCarriesNoNodeWithoutHardwareEncoding) {
  app_reset();
  g_app.config.HardwareEncoder = 0;
  auto dev = create_capture_device();
  ASSERT_NE(dev, nullptr);
  EXPECT_TRUE(dev->render_node.empty());
  g_app.config.HardwareEncoder = 1;
  auto hw = create_capture_device();
  ASSERT_NE(hw, nullptr);  // with or without a GPU on this machine
  if (!hw->render_node.empty()) {
    EXPECT_EQ(hw->render_node.rfind("/dev/dri/renderD", 0), 0u);
  }
  app_reset();
}

}  // namespace
