#include "app/x11/global_hotkeys_x11.h"

#include <xcb/xcb.h>

#include <cstdlib>

#include "app/shortcut_value.h"
#include "app/virtual_keys.h"

namespace {
constexpr uint32_t kNumLockKeysym = 0xff7f;

uint16_t x_modifiers(uint32_t mods) {
  uint16_t m = 0;
  if (mods & MOD_ALT) m |= XCB_MOD_MASK_1;
  if (mods & MOD_CONTROL) m |= XCB_MOD_MASK_CONTROL;
  if (mods & MOD_SHIFT) m |= XCB_MOD_MASK_SHIFT;
  if (mods & MOD_WIN) m |= XCB_MOD_MASK_4;
  return m;
}
}  // namespace

GlobalHotkeysX11::GlobalHotkeysX11(std::function<void(int)> on_hotkey) : on_hotkey_(std::move(on_hotkey)) {
  int screen_no = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen_no);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_no && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return;
  }
  conn_ = c;
  root_ = it.data->root;
  load_keyboard();
}

GlobalHotkeysX11::~GlobalHotkeysX11() {
  if (conn_) xcb_disconnect(conn_);  // the server drops the grabs with the connection
}

int GlobalHotkeysX11::fd() const { return conn_ ? xcb_get_file_descriptor(conn_) : -1; }

void GlobalHotkeysX11::load_keyboard() {
  const xcb_setup_t* setup = xcb_get_setup(conn_);
  min_keycode_ = setup->min_keycode;
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  xcb_get_keyboard_mapping_reply_t* map =
      xcb_get_keyboard_mapping_reply(conn_, xcb_get_keyboard_mapping(conn_, min_keycode_, count), nullptr);
  if (map) {
    keysyms_per_code_ = map->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    keysyms_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(map));
    std::free(map);
  }
  // NumLock's modifier bit differs between keyboard maps (usually Mod2).
  num_lock_ = 0;
  const std::vector<uint8_t> num_codes = keycodes_for(kNumLockKeysym);
  xcb_get_modifier_mapping_reply_t* mods =
      xcb_get_modifier_mapping_reply(conn_, xcb_get_modifier_mapping(conn_), nullptr);
  if (mods) {
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mods);
    const int per = mods->keycodes_per_modifier;
    for (int m = 0; m < 8; ++m)
      for (int k = 0; k < per; ++k)
        for (uint8_t nc : num_codes)
          if (codes[m * per + k] == nc && nc != 0) num_lock_ = static_cast<uint16_t>(1u << m);
    std::free(mods);
  }
}

std::vector<uint8_t> GlobalHotkeysX11::keycodes_for(uint32_t keysym) const {
  std::vector<uint8_t> out;
  if (keysyms_per_code_ == 0) return out;
  const size_t codes = keysyms_.size() / keysyms_per_code_;
  // The unshifted and shifted columns: the key that carries the symbol.
  const size_t columns = keysyms_per_code_ < 2 ? keysyms_per_code_ : 2;
  for (size_t i = 0; i < codes; ++i) {
    for (size_t col = 0; col < columns; ++col) {
      if (keysyms_[i * keysyms_per_code_ + col] == keysym) {
        out.push_back(static_cast<uint8_t>(min_keycode_ + i));
        break;
      }
    }
  }
  return out;
}

bool GlobalHotkeysX11::register_hotkey(int id, uint32_t modifiers, uint32_t vk) {
  if (!conn_) return false;
  unregister_hotkey(id);
  const uint32_t keysym = vk_to_keysym(vk);
  const std::vector<uint8_t> codes = keysym ? keycodes_for(keysym) : std::vector<uint8_t>{};
  if (codes.empty()) return false;  // no such key on this keyboard
  const uint16_t mods = x_modifiers(modifiers);
  const uint16_t locks[4] = {0, XCB_MOD_MASK_LOCK, num_lock_, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | num_lock_)};

  // All variants are sent first, then every reply is checked: one round
  // trip per key instead of one per variant.
  std::vector<xcb_void_cookie_t> cookies;
  for (uint8_t code : codes) {
    for (int v = 0; v < 4; ++v) {
      if (v >= 2 && num_lock_ == 0) break;
      cookies.push_back(xcb_grab_key_checked(conn_, 0, root_, mods | locks[v], code, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC));
    }
  }
  bool refused = false;
  for (xcb_void_cookie_t cookie : cookies) {
    if (xcb_generic_error_t* err = xcb_request_check(conn_, cookie)) {
      refused = true;  // BadAccess: another client holds the combination
      std::free(err);
    }
  }
  for (uint8_t code : codes) grabs_.insert({id, Grab{code, mods}});
  if (refused) {
    // Give back the variants that were taken, so a half-held shortcut does
    // not swallow keys for nothing.
    unregister_hotkey(id);
    return false;
  }
  return true;
}

void GlobalHotkeysX11::unregister_hotkey(int id) {
  if (!conn_) return;
  auto [first, last] = grabs_.equal_range(id);
  if (first == last) return;
  const uint16_t locks[4] = {0, XCB_MOD_MASK_LOCK, num_lock_, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | num_lock_)};
  for (auto it = first; it != last; ++it) {
    for (int v = 0; v < 4; ++v) {
      if (v >= 2 && num_lock_ == 0) break;
      // Ungrabbing a combination this client does not hold is harmless;
      // another client's grab of it stays.
      xcb_ungrab_key(conn_, it->second.keycode, root_, it->second.mods | locks[v]);
    }
  }
  grabs_.erase(first, last);
  xcb_flush(conn_);
}

void GlobalHotkeysX11::dispatch() {
  if (!conn_) return;
  while (xcb_generic_event_t* ev = xcb_poll_for_event(conn_)) {
    const uint8_t type = ev->response_type & 0x7f;
    if (type == XCB_KEY_PRESS) {
      const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(ev);
      const uint16_t state = key->state & 0xFF & ~(XCB_MOD_MASK_LOCK | num_lock_);
      for (const auto& [id, grab] : grabs_) {
        if (grab.keycode == key->detail && grab.mods == state) {
          if (on_hotkey_) on_hotkey_(id);
          break;
        }
      }
    } else if (type == XCB_MAPPING_NOTIFY) {
      load_keyboard();  // keys registered later use the new map
    }
    std::free(ev);
  }
}
