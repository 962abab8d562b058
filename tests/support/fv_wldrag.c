/* Input through virtual devices on a wlroots desktop (the headless test
 * desktop has no input devices, so no client ever sees a pointer otherwise):
 *
 *   fv_wldrag WIDTH HEIGHT X1 Y1 X2 Y2
 *   fv_wldrag --click WIDTH HEIGHT X Y [left|right]
 *   fv_wldrag --enter | --escape
 *
 * The first moves to (X1, Y1), presses the left button, moves in steps to
 * (X2, Y2) and releases it; coordinates are in the layout of WIDTH x HEIGHT.
 * The second moves to (X, Y) and clicks there. The last press and release
 * Enter or Escape, as their evdev keys under a keymap that gives them the
 * keycodes the compositor's default keymap gives them as well (a compositor
 * may apply its own keymap to a virtual keyboard). */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#define BTN_LEFT 0x110
#define BTN_RIGHT 0x111
#define KEY_ESC 1
#define KEY_ENTER 28

static struct wl_seat* g_seat;
static struct zwlr_virtual_pointer_manager_v1* g_manager;
static struct zwp_virtual_keyboard_manager_v1* g_keyboards;

static void global_added(void* data, struct wl_registry* r, uint32_t name, const char* iface, uint32_t version) {
  (void)data;
  if (strcmp(iface, wl_seat_interface.name) == 0 && !g_seat) {
    g_seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
  } else if (strcmp(iface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    g_manager = wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  } else if (strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    g_keyboards = wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
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

static const char kKeymap[] =
    "xkb_keymap {\n"
    "xkb_keycodes \"fv\" { minimum = 8; maximum = 255; <ESC> = 9; <RTRN> = 36; };\n"
    "xkb_types \"fv\" { include \"complete\" };\n"
    "xkb_compatibility \"fv\" { include \"complete\" };\n"
    "xkb_symbols \"fv\" { key <ESC> { [ Escape ] }; key <RTRN> { [ Return ] }; };\n"
    "};\n";

static int press_key(struct wl_display* d, uint32_t key) {
  if (!g_keyboards || !g_seat) {
    fprintf(stderr, "fv_wldrag: the compositor offers no virtual keyboard\n");
    return 1;
  }
  struct zwp_virtual_keyboard_v1* k = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g_keyboards, g_seat);
  int fd = memfd_create("fv-keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, kKeymap, sizeof kKeymap) != (ssize_t)sizeof kKeymap) return 1;
  zwp_virtual_keyboard_v1_keymap(k, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, sizeof kKeymap);
  close(fd);
  wl_display_roundtrip(d);
  /* Clients learn of the new keyboard and its keymap first. */
  pause_ms(500);
  zwp_virtual_keyboard_v1_key(k, now_ms(), key, WL_KEYBOARD_KEY_STATE_PRESSED);
  wl_display_roundtrip(d);
  pause_ms(50);
  zwp_virtual_keyboard_v1_key(k, now_ms(), key, WL_KEYBOARD_KEY_STATE_RELEASED);
  wl_display_roundtrip(d);
  pause_ms(300);
  zwp_virtual_keyboard_v1_destroy(k);
  wl_display_roundtrip(d);
  return 0;
}

static struct wl_display* connect_display(void) {
  struct wl_display* d = wl_display_connect(NULL);
  if (!d) {
    fprintf(stderr, "fv_wldrag: no Wayland display\n");
    return NULL;
  }
  struct wl_registry* reg = wl_display_get_registry(d);
  wl_registry_add_listener(reg, &registry_listener, NULL);
  wl_display_roundtrip(d);
  return d;
}

static struct zwlr_virtual_pointer_v1* new_pointer(struct wl_display* d) {
  if (!g_manager) {
    fprintf(stderr, "fv_wldrag: the compositor offers no virtual pointer\n");
    return NULL;
  }
  struct zwlr_virtual_pointer_v1* p = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g_manager, g_seat);
  wl_display_roundtrip(d);
  /* Clients learn of the new pointer and bind it before the first event. */
  pause_ms(500);
  return p;
}

static void move_to(struct wl_display* d, struct zwlr_virtual_pointer_v1* p, int x, int y, uint32_t w, uint32_t h) {
  zwlr_virtual_pointer_v1_motion_absolute(p, now_ms(), (uint32_t)x, (uint32_t)y, w, h);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(d);
}

static void button(struct wl_display* d, struct zwlr_virtual_pointer_v1* p, uint32_t which, int pressed) {
  zwlr_virtual_pointer_v1_button(p, now_ms(), which,
                                 pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(d);
}

static void end_pointer(struct wl_display* d, struct zwlr_virtual_pointer_v1* p) {
  pause_ms(200);
  zwlr_virtual_pointer_v1_destroy(p);
  wl_display_roundtrip(d);
  wl_display_disconnect(d);
}

int main(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "--enter") == 0 || strcmp(argv[1], "--escape") == 0)) {
    struct wl_display* d = connect_display();
    if (!d) return 1;
    int code = press_key(d, strcmp(argv[1], "--enter") == 0 ? KEY_ENTER : KEY_ESC);
    wl_display_disconnect(d);
    return code;
  }
  if ((argc == 6 || argc == 7) && strcmp(argv[1], "--click") == 0) {
    const uint32_t w = (uint32_t)atoi(argv[2]), h = (uint32_t)atoi(argv[3]);
    const uint32_t which = argc == 7 && strcmp(argv[6], "right") == 0 ? BTN_RIGHT : BTN_LEFT;
    struct wl_display* d = connect_display();
    struct zwlr_virtual_pointer_v1* p = d ? new_pointer(d) : NULL;
    if (!p) return 1;
    move_to(d, p, atoi(argv[4]), atoi(argv[5]), w, h);
    pause_ms(100);
    button(d, p, which, 1);
    pause_ms(80);
    button(d, p, which, 0);
    end_pointer(d, p);
    return 0;
  }
  if (argc != 7) {
    fprintf(stderr,
            "usage: fv_wldrag WIDTH HEIGHT X1 Y1 X2 Y2 | --click WIDTH HEIGHT X Y [left|right] | --enter | --escape\n");
    return 2;
  }
  const uint32_t w = (uint32_t)atoi(argv[1]), h = (uint32_t)atoi(argv[2]);
  const int x1 = atoi(argv[3]), y1 = atoi(argv[4]), x2 = atoi(argv[5]), y2 = atoi(argv[6]);
  struct wl_display* d = connect_display();
  struct zwlr_virtual_pointer_v1* p = d ? new_pointer(d) : NULL;
  if (!p) return 1;
  move_to(d, p, x1, y1, w, h);
  pause_ms(100);
  button(d, p, BTN_LEFT, 1);
  for (int i = 1; i <= 10; ++i) {
    pause_ms(30);
    move_to(d, p, x1 + (x2 - x1) * i / 10, y1 + (y2 - y1) * i / 10, w, h);
  }
  pause_ms(100);
  button(d, p, BTN_LEFT, 0);
  end_pointer(d, p);
  return 0;
}
