// The encoder's state as frame intake reads it, without taking its lock.
#include "core/app_state.h"
#include "video/intake/intake_links.h"

bool encoder_write_failed() { return g_app.encoder.write_failed.load() != 0; }

bool encoder_written_bytes(uint64_t* bytes) {
  if (g_app.encoder.stats_valid.load() == 0) return false;
  *bytes = g_app.encoder.stats_bytes.load();
  return true;
}
