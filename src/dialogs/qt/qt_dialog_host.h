#pragma once
// The Qt dialog host: runs any dialog template as a modal Qt dialog.

// Makes run_dialog use Qt (needs a QApplication).
void install_qt_dialog_host();
