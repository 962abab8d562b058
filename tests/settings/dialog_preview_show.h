#pragma once
// The body of the dialog preview programs (one per dialog host): shows the
// dialog named by `which` (settings, about, donate, update-available); the
// settings dialog gets a sample configuration and the sample microphones.
#include <cstdint>
#include <string>

#include "dialogs/settings_dialog.h"

struct PreviewSamples {
  // Two microphones as the system would name them.
  const char* microphone_names[2];
  const char* microphone_ids[2];
  const char* output_folder;
  PlatformCapabilities capabilities;
};

// The exit code of the preview: 0 unless the settings dialog was cancelled.
int show_preview_dialog(const char* which, const PreviewSamples& samples);
