// The graphics device on Linux: a DRM render node for the VAAPI encoders,
// chosen by the adapter preference and by whether its encoder opens.
#include "capture/device.h"
#include "core/app_state.h"
#include "core/trace.h"
#include "video/encode/media_writer.h"

namespace {

// The encoder check for one node with the codec and profile of a config.
bool encoder_opens_on(const RenderNodeInfo& node, const Config& cfg, std::string* encoder_name) {
  VideoEncoderRequest r;
  hardware_encoder_request(cfg, &r);
  r.render_node = node.path;
  r.driver = node.driver;
  return media_platform().find_video_encoder(r, encoder_name);
}

const char* kind_of(const RenderNodeInfo& n) { return n.integrated ? "integrated" : "discrete"; }

}  // namespace

std::shared_ptr<CaptureDevice> create_capture_device() {
  auto device = std::make_shared<CaptureDevice>();
  // Without hardware encoding no GPU is chosen at all. With it, a machine
  // without a node whose encoder opens gets the preferred node anyway, and
  // encoder set-up refuses the recording: a stored choice has no fallback.
  if (g_app.config.HardwareEncoder == 0) {
    trace_event("device.choice node=none reason=hardware-encoder-off");
    return device;
  }
  const Config cfg = g_app.config;
  std::vector<RenderNodeInfo> nodes = enumerate_render_nodes("/sys/class/drm", "/dev/dri");
  std::string last_encoder;
  NodeChoice choice = choose_render_node(nodes, cfg.HardwarePreferIntegrated != 0, [&](const RenderNodeInfo& n) {
    const bool ok = encoder_opens_on(n, cfg, &last_encoder);
    trace_eventf("device.probe node=%s driver=%s kind=%s encoder=%s result=%s", n.path.c_str(), n.driver.c_str(),
                 kind_of(n), last_encoder.c_str(), ok ? "opened" : "refused");
    return ok;
  });
  if (choice.index < 0) {
    trace_eventf("device.choice node=none reason=%s", choice.reason);
    return device;
  }
  const RenderNodeInfo& n = nodes[size_t(choice.index)];
  device->render_node = n.path;
  device->driver = n.driver;
  device->integrated = n.integrated;
  trace_eventf("device.choice node=%s driver=%s kind=%s reason=%s", n.path.c_str(), n.driver.c_str(), kind_of(n),
               choice.reason);
  return device;
}

bool hardware_encoder_default() {
  std::vector<RenderNodeInfo> nodes = enumerate_render_nodes("/sys/class/drm", "/dev/dri");
  Config defaults;  // the codec and profile a fresh install records with
  for (const RenderNodeInfo& n : nodes) {
    std::string encoder;
    if (encoder_opens_on(n, defaults, &encoder)) {
      trace_eventf("config.hardware_default value=1 node=%s encoder=%s", n.path.c_str(), encoder.c_str());
      return true;
    }
  }
  trace_eventf("config.hardware_default value=0 reason=%s",
               nodes.empty() ? "no-render-node" : "no-hardware-encoder-opens");
  return false;
}
