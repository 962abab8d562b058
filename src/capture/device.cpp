#include "capture/device.h"

#include "app/app_state.h"

std::shared_ptr<CaptureDevice> create_capture_device() {
  auto device = std::make_shared<CaptureDevice>();
  // Without hardware encoding no GPU is chosen at all. With it, a machine
  // without a usable render node still records with the software encoders,
  // so a failed search is not reported.
  if (g_app.config.HardwareEncoder != 0) {
    std::vector<RenderNodeInfo> nodes = enumerate_render_nodes("/sys/class/drm", "/dev/dri");
    int index = choose_render_node(nodes, g_app.config.HardwarePreferIntegrated != 0);
    if (index >= 0) {
      device->render_node = nodes[size_t(index)].path;
      device->driver = nodes[size_t(index)].driver;
      device->integrated = nodes[size_t(index)].integrated;
    }
  }
  return device;
}

int choose_render_node(const std::vector<RenderNodeInfo>& nodes, bool prefer_integrated) {
  // The first adapter of the preferred kind, else the first of the other.
  for (size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].integrated == prefer_integrated) return int(i);
  return nodes.empty() ? -1 : 0;
}
