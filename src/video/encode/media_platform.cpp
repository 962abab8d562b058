#include <atomic>

#include "video/encode/media_writer.h"

namespace {
std::atomic<const MediaPlatform*> g_platform{nullptr};
}

const MediaPlatform& media_platform() {
  const MediaPlatform* p = g_platform.load();
  return p ? *p : default_media_platform();
}

void media_platform_set(const MediaPlatform* platform) { g_platform.store(platform); }
