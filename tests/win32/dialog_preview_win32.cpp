// Shows one dialog through the system's dialog manager, for screenshots and
// by-eye checks beside the Linux host's:
//   fv_win32_dialog_preview settings|about|donate|update-available
#include "settings/dialog_preview_show.h"
#include "dialogs/win32/dialog_host_win32.h"

int main(int argc, char** argv) {
  install_win32_dialog_host();
  PreviewSamples samples{{"Microphone (Realtek High Definition Audio)", "Headset Microphone (USB Audio)"},
                         {"{0.0.1.00000000}.{4f2a7c1e-0000-0000-0000-000000000001}",
                          "{0.0.1.00000000}.{4f2a7c1e-0000-0000-0000-000000000002}"},
                         "C:/Users/user/Videos",
                         PlatformCapabilities{true, true, true}};
  return show_preview_dialog(argc > 1 ? argv[1] : "settings", samples);
}
