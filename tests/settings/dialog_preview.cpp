// Shows one dialog through the Qt host, for screenshots and by-eye checks:
//   fv_dialog_preview settings|about|donate|update-available
#include <QApplication>

#include "dialog_preview_show.h"
#include "dialogs/qt/qt_dialog_host.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  install_qt_dialog_host();
  PreviewSamples samples{{"Built-in Audio Analog Stereo", "USB Headset Mono"},
                         {"alsa_input.pci-0000_00_1f.3.analog-stereo", "alsa_input.usb-headset.mono"},
                         "/home/user/Videos",
                         PlatformCapabilities{}};
  return show_preview_dialog(argc > 1 ? argv[1] : "settings", samples);
}
