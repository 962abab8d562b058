#pragma once
// Whether the desktop shows windows translucent: on X11 only while a
// compositing manager runs (it owns the _NET_WM_CM_S<screen> selection);
// other platforms always composite.
bool desktop_composites();
