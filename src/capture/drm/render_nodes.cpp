// Render nodes from the kernel's DRM class directory in sysfs.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "capture/device.h"

namespace fs = std::filesystem;

namespace {

std::string read_first_line(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  if (in) std::getline(in, line);
  return line;
}

// GPUs that do not live on the power-saving side of a hybrid machine are
// told apart by where they sit and what they carry:
// - not a PCI device at all: a system-on-chip GPU, integrated;
// - NVIDIA: discrete;
// - on PCI bus 0 (Intel's integrated GPUs at 0000:00:02.0): integrated;
// - amdgpu reporting less than 2 GiB of VRAM (the carve-out of an APU): integrated.
bool is_integrated(const fs::path& device_dir, const std::string& driver) {
  std::error_code ec;
  std::string vendor = read_first_line(device_dir / "vendor");
  if (vendor.empty()) return true;
  if (vendor == "0x10de") return false;
  fs::path real = fs::canonical(device_dir, ec);
  std::string slot = ec ? std::string() : real.filename().string();  // "0000:00:02.0"
  if (slot.size() >= 7 && slot.compare(4, 3, ":00") == 0) return true;
  if (driver == "amdgpu") {
    std::string vram = read_first_line(device_dir / "mem_info_vram_total");
    if (!vram.empty()) {
      unsigned long long bytes = std::strtoull(vram.c_str(), nullptr, 10);
      return bytes < (2ull << 30);
    }
  }
  return false;
}

}  // namespace

std::vector<RenderNodeInfo> enumerate_render_nodes(const std::string& sysfs_drm, const std::string& dev_dir) {
  std::vector<std::pair<int, RenderNodeInfo>> found;
  std::error_code ec;
  for (fs::directory_iterator it(sysfs_drm, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.rfind("renderD", 0) != 0) continue;
    int number = std::atoi(name.c_str() + 7);
    fs::path device_dir = it->path() / "device";
    std::error_code e2;
    fs::path driver_link = fs::read_symlink(device_dir / "driver", e2);
    std::string driver = e2 ? std::string() : driver_link.filename().string();
    // Software-only nodes have no video engine behind them.
    if (driver == "vgem" || driver == "vkms") continue;
    RenderNodeInfo info;
    info.path = dev_dir + "/" + name;
    info.driver = driver;
    info.integrated = is_integrated(device_dir, driver);
    found.emplace_back(number, std::move(info));
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RenderNodeInfo> nodes;
  nodes.reserve(found.size());
  for (auto& f : found) nodes.push_back(std::move(f.second));
  return nodes;
}
