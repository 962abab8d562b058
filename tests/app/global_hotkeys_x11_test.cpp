// The X11 global hot keys on the test display: a shortcut is held in every
// NumLock and CapsLock state, is delivered whichever of them is on, and is
// given back whole on unregister.
#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/shortcut_value.h"
#include "app/x11/global_hotkeys_x11.h"

namespace {
constexpr uint32_t kVkF9 = 0x78;
constexpr uint32_t kKeysymF9 = 0xffc6;
constexpr uint32_t kKeysymNumLock = 0xff7f;

// A second client of the display, standing for another program.
struct OtherClient {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  ~OtherClient() { xcb_disconnect(c); }

  uint8_t keycode(uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
    uint8_t found = 0;
    if (map) {
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
      for (int i = 0; i < count && !found; ++i)
        if (syms[i * map->keysyms_per_keycode] == keysym) found = static_cast<uint8_t>(setup->min_keycode + i);
      std::free(map);
    }
    return found;
  }
  // The modifier bit NumLock sets on this server's keyboard map.
  uint16_t num_lock_mask() {
    const uint8_t code = keycode(kKeysymNumLock);
    uint16_t mask = 0;
    if (xcb_get_modifier_mapping_reply_t* mods =
            xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)) {
      const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mods);
      for (int i = 0; i < 8 * mods->keycodes_per_modifier; ++i)
        if (code != 0 && codes[i] == code) mask = static_cast<uint16_t>(1u << (i / mods->keycodes_per_modifier));
      std::free(mods);
    }
    return mask;
  }
  // Whether this client may grab the combination (another client holding it
  // makes the server refuse); a grab it got is let go again at once.
  bool can_grab(uint8_t code, uint16_t mods) {
    xcb_generic_error_t* err = xcb_request_check(
        c, xcb_grab_key_checked(c, 0, root, mods, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (err) {
      std::free(err);
      return false;
    }
    xcb_ungrab_key(c, code, root, mods);
    xcb_flush(c);
    return true;
  }
};

void xdotool(const std::string& args) {
  ASSERT_EQ(std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()), 0) << args;
}
}  // namespace

TEST(GlobalHotkeysX11, EveryLockStateIsGrabbedDeliveredAndGivenBack) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "needs a display (scripts/test-env.sh)";
  std::vector<int> pressed;
  GlobalHotkeysX11 keys([&](int id) { pressed.push_back(id); });
  ASSERT_TRUE(keys.ok());
  OtherClient other;
  const uint8_t f9 = other.keycode(kKeysymF9);
  const uint16_t num = other.num_lock_mask();
  ASSERT_NE(f9, 0) << "no F9 on this keyboard map";
  ASSERT_NE(num, 0) << "NumLock is on no modifier of this keyboard map";

  ASSERT_TRUE(keys.register_hotkey(7, MOD_CONTROL, kVkF9));
  struct Locks {
    const char* name;
    uint16_t mask;
    const char* toggles;  // the lock keys that put the keyboard in this state
  };
  const Locks states[] = {{"none", 0, ""},
                          {"CapsLock", XCB_MOD_MASK_LOCK, "Caps_Lock"},
                          {"NumLock", num, "Num_Lock"},
                          {"CapsLock and NumLock", static_cast<uint16_t>(XCB_MOD_MASK_LOCK | num), "Caps_Lock Num_Lock"}};
  for (const Locks& s : states) {
    SCOPED_TRACE(s.name);
    EXPECT_FALSE(other.can_grab(f9, XCB_MOD_MASK_CONTROL | s.mask)) << "another program could take the shortcut";

    // Pressed in that state, the shortcut reaches its owner.
    pressed.clear();
    if (*s.toggles) xdotool(std::string("key ") + s.toggles);
    xdotool("key ctrl+F9");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pressed.empty() && std::chrono::steady_clock::now() < end) {
      pollfd p{keys.fd(), POLLIN, 0};
      poll(&p, 1, 100);
      keys.dispatch();
    }
    if (*s.toggles) xdotool(std::string("key ") + s.toggles);  // back to no locks
    EXPECT_EQ(pressed, std::vector<int>{7});
  }

  // Unregistered, no variant is left held.
  keys.unregister_hotkey(7);
  for (const Locks& s : states) EXPECT_TRUE(other.can_grab(f9, XCB_MOD_MASK_CONTROL | s.mask)) << s.name;
}
