#pragma once
// The graphics device a recording's video work runs on. On Linux the
// conversion runs on the CPU (video/convert/compute_context.h), so the device
// always exists; with hardware encoding on, it names the DRM render node the
// VAAPI encoders should open. On Windows it holds the Direct3D 11 device of
// the chosen adapter (capture/win32/d3d11_device.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CaptureDevice {
  std::string render_node;  // "/dev/dri/renderD128"; empty: none (software encoders only)
  std::string driver;       // kernel driver of that node ("i915", "amdgpu", ...)
  bool integrated = false;  // the node's GPU is the power-saving one

  // Windows: the Direct3D 11 device (an ID3D11Device; this holds one
  // reference, released with the last copy), the LUID of its adapter and
  // the adapter's name. Empty elsewhere.
  std::shared_ptr<void> d3d11;
  uint64_t adapter_luid = 0;
  std::string adapter_name;
};

struct Config;
struct VideoEncoderRequest;

// The device for a new capture, chosen by HardwareEncoder and
// HardwarePreferIntegrated of g_app.config. Never null on Linux; on Windows
// null after "Cannot to create D3D11 device!" has been shown.
std::shared_ptr<CaptureDevice> create_capture_device();

// The hardware encoder check of a configuration: its codec, profile and bit
// depth, with `hardware` set; the caller names the device.
void hardware_encoder_request(const Config& config, VideoEncoderRequest* request);

// One GPU found under the DRM class directory.
struct RenderNodeInfo {
  std::string path;    // device path of the render node
  std::string driver;  // kernel driver name
  bool integrated = false;
};

// The render nodes under `sysfs_drm` (normally "/sys/class/drm"), in node
// order; `dev_dir` is where their device files live ("/dev/dri").
std::vector<RenderNodeInfo> enumerate_render_nodes(const std::string& sysfs_drm, const std::string& dev_dir);

// Whether the hardware encoder a recording would use opens on a node.
using EncoderOpens = std::function<bool(const RenderNodeInfo&)>;

struct NodeChoice {
  int index = -1;              // into the node list; -1 when there are none
  bool encoder_opens = false;  // the chosen node's encoder opened
  const char* reason = "";     // for the trace
};

// The adapters ordered by preference (power-saving first when
// prefer_integrated, else high-performance first, node order within a kind):
// the first whose encoder opens; when none does, the first of the order, so
// the encoder check reports the refusal. Without `opens`, simply the first.
NodeChoice choose_render_node(const std::vector<RenderNodeInfo>& nodes, bool prefer_integrated,
                              const EncoderOpens& opens = {});

// The HardwareEncoder value of an INI that has none: 1 only when the hardware
// encoder for the default codec opens on a render node of this machine.
bool hardware_encoder_default();
