#include "capture/device.h"

#include "settings/config.h"
#include "video/encode/media_writer.h"

void hardware_encoder_request(const Config& cfg, VideoEncoderRequest* r) {
  switch (cfg.VideoCodec) {
    case VIDEO_CODEC_H265: r->codec = VIDEO_HEVC; break;
    case VIDEO_CODEC_AV1: r->codec = VIDEO_AV1; break;
    default: r->codec = VIDEO_H264; break;
  }
  const bool ten = cfg.VideoProfile == VIDEO_PROFILE_MAIN10 && r->codec != VIDEO_H264;
  if (r->codec == VIDEO_H264) {
    r->profile = cfg.VideoProfile == VIDEO_PROFILE_BASE ? 66 : cfg.VideoProfile == VIDEO_PROFILE_MAIN ? 77 : 100;
  } else {
    r->profile = ten ? 2 : 1;
  }
  r->input = ten ? PIXEL_P010 : PIXEL_NV12;
  r->hardware = true;
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
