#include "capture/device.h"

#include "core/app_state.h"
#include "core/trace.h"
#include "video/encode/media_writer.h"

namespace {

// The encoder check for one node with the codec and profile of a config.
bool encoder_opens_on(const RenderNodeInfo& node, const Config& cfg, std::string* encoder_name) {
  VideoEncoderRequest r;
  switch (cfg.VideoCodec) {
    case VIDEO_CODEC_H265: r.codec = VIDEO_HEVC; break;
    case VIDEO_CODEC_AV1: r.codec = VIDEO_AV1; break;
    default: r.codec = VIDEO_H264; break;
  }
  const bool ten = cfg.VideoProfile == VIDEO_PROFILE_MAIN10 && r.codec != VIDEO_H264;
  if (r.codec == VIDEO_H264) {
    r.profile = cfg.VideoProfile == VIDEO_PROFILE_BASE ? 66 : cfg.VideoProfile == VIDEO_PROFILE_MAIN ? 77 : 100;
  } else {
    r.profile = ten ? 2 : 1;
  }
  r.input = ten ? PIXEL_P010 : PIXEL_NV12;
  r.hardware = true;
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

NodeChoice choose_render_node(const std::vector<RenderNodeInfo>& nodes, bool prefer_integrated,
                              const EncoderOpens& opens) {
  NodeChoice c;
  if (nodes.empty()) {
    c.reason = "no-render-node";
    return c;
  }
  std::vector<size_t> order;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].integrated == prefer_integrated) order.push_back(i);
  for (size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].integrated != prefer_integrated) order.push_back(i);
  c.index = int(order[0]);
  c.reason = nodes[order[0]].integrated == prefer_integrated ? "preferred-kind" : "only-other-kind";
  if (!opens) return c;
  for (size_t i : order) {
    if (opens(nodes[i])) {
      c.index = int(i);
      c.encoder_opens = true;
      c.reason = nodes[i].integrated == prefer_integrated ? "preferred-kind-encoder-opens"
                                                          : "other-kind-encoder-opens";
      return c;
    }
  }
  c.reason = "no-encoder-opens";
  return c;
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
