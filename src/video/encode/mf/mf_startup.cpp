#include "video/encode/mf/mf_startup.h"

#include <windows.h>
#include <mfapi.h>

bool mf_started() {
  static const bool started = SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_LITE));
  return started;
}
