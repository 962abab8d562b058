#pragma once
// Media Foundation, started once for the process on first use; false when
// the system has none.
bool mf_started();
