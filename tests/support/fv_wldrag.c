/* Drags with a virtual pointer on a wlroots desktop (the headless test
 * desktop has no input devices, so no client ever sees a pointer otherwise):
 *
 *   fv_wldrag WIDTH HEIGHT X1 Y1 X2 Y2
 *
 * Moves to (X1, Y1), presses the left button, moves in steps to (X2, Y2) and
 * releases it. Coordinates are in the layout of WIDTH x HEIGHT. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#define BTN_LEFT 0x110

static struct wl_seat* g_seat;
static struct zwlr_virtual_pointer_manager_v1* g_manager;

static void global_added(void* data, struct wl_registry* r, uint32_t name, const char* iface, uint32_t version) {
  (void)data;
  if (strcmp(iface, wl_seat_interface.name) == 0 && !g_seat) {
    g_seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
  } else if (strcmp(iface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    g_manager = wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  }
  (void)version;
}
static void global_removed(void* data, struct wl_registry* r, uint32_t name) { (void)data, (void)r, (void)name; }
static const struct wl_registry_listener registry_listener = {global_added, global_removed};

static uint32_t now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}
static void pause_ms(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&ts, NULL);
}

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: fv_wldrag WIDTH HEIGHT X1 Y1 X2 Y2\n");
    return 2;
  }
  const uint32_t w = (uint32_t)atoi(argv[1]), h = (uint32_t)atoi(argv[2]);
  const int x1 = atoi(argv[3]), y1 = atoi(argv[4]), x2 = atoi(argv[5]), y2 = atoi(argv[6]);
  struct wl_display* d = wl_display_connect(NULL);
  if (!d) {
    fprintf(stderr, "fv_wldrag: no Wayland display\n");
    return 1;
  }
  struct wl_registry* reg = wl_display_get_registry(d);
  wl_registry_add_listener(reg, &registry_listener, NULL);
  wl_display_roundtrip(d);
  if (!g_manager) {
    fprintf(stderr, "fv_wldrag: the compositor offers no virtual pointer\n");
    return 1;
  }
  struct zwlr_virtual_pointer_v1* p = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_manager, g_seat);
  wl_display_roundtrip(d);
  /* Clients learn of the new pointer and bind it before the first event. */
  pause_ms(500);
  zwlr_virtual_pointer_v1_motion_absolute(p, now_ms(), (uint32_t)x1, (uint32_t)y1, w, h);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(d);
  pause_ms(100);
  zwlr_virtual_pointer_v1_button(p, now_ms(), BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(d);
  for (int i = 1; i <= 10; ++i) {
    pause_ms(30);
    zwlr_virtual_pointer_v1_motion_absolute(p, now_ms(), (uint32_t)(x1 + (x2 - x1) * i / 10),
                                            (uint32_t)(y1 + (y2 - y1) * i / 10), w, h);
    zwlr_virtual_pointer_v1_frame(p);
    wl_display_roundtrip(d);
  }
  pause_ms(100);
  zwlr_virtual_pointer_v1_button(p, now_ms(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(d);
  pause_ms(200);
  zwlr_virtual_pointer_v1_destroy(p);
  wl_display_roundtrip(d);
  wl_display_disconnect(d);
  return 0;
}
