#pragma once
// The Windows dialog host: the system's dialog manager runs the core's
// in-memory templates as they are, and the portable dialog procedures see
// the dialog through DialogHost.

// Makes run_dialog use DialogBoxIndirectParamW. Start-up, on the thread that
// runs the message loop (dialogs are modal on it).
void install_win32_dialog_host();
