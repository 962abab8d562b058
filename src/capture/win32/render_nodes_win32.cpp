// Graphics devices on Windows are adapters, chosen through DXGI with the
// hardware encoders; this build has neither, so it knows of no device and
// every recording would take the software path.
#include "capture/device.h"

std::vector<RenderNodeInfo> enumerate_render_nodes(const std::string&, const std::string&) { return {}; }
