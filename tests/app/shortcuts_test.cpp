// The shortcut value format, its display text, and registration with the
// conflict warning, against a hot-key service that refuses chosen ids.
#include "app/shortcuts.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "core/app_state.h"
#include "app/hotkey_service.h"
#include "app/portal/global_shortcuts_portal.h"
#include "app/shortcut_value.h"
#include "core/ui_service.h"
#include "app/virtual_keys.h"
#include "support/fake_ui.h"

namespace {
// The text the settings show, and the trigger offered to a desktop portal
// (its modifiers and the keysym's name).
TEST(ShortcutValue, FormatTable) {
  struct Case {
    uint32_t value;
    const char* text;
    const char* trigger;
  };
  const Case cases[] = {
      {0, "[none]", ""},
      {33554476, "Ctrl + PrtScr", "CTRL+Print"},                // the monitor default
      {167772204, "Ctrl + Win + PrtScr", "CTRL+LOGO+Print"},    // window
      {100663340, "Ctrl + Shift + PrtScr", "CTRL+SHIFT+Print"}, // region
      {100663376, "Ctrl + Shift + P", "CTRL+SHIFT+p"},          // pause: a letter's keysym is lower case
      {make_shortcut(15, 0x41), "Ctrl + Win + Alt + Shift + A", "CTRL+ALT+SHIFT+LOGO+a"},  // fixed orders
      {make_shortcut(MOD_ALT, 0x13), "Alt + Pause", "ALT+Pause"},
      {make_shortcut(0, 0x7B), "F12", "F12"},
      {make_shortcut(0, 0x70), "F1", "F1"},
      {make_shortcut(MOD_SHIFT, 0x39), "Shift + 9", "SHIFT+9"},
      {make_shortcut(0, 0x2E), "Delete", "Delete"},
      {make_shortcut(0, 0x21), "PageUp", "Page_Up"},
      {make_shortcut(MOD_CONTROL, 0x65), "Ctrl + Num 5", "CTRL+KP_5"},
      {make_shortcut(MOD_SHIFT, 0xBA), "Shift + ;", "SHIFT+semicolon"},
      {make_shortcut(MOD_CONTROL, 0xE9), "Ctrl + [0xe9]", ""},  // a key without a name
      {make_shortcut(0, 0x0C), "[0x0c]", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_shortcut(c.value), c.text) << c.value;
    EXPECT_EQ(portal_shortcut_trigger(c.value), c.trigger) << c.value;
  }
}

TEST(ShortcutValue, DefaultsSplitIntoModifiersAndKey) {
  const Config c;
  EXPECT_EQ(shortcut_modifiers(c.ShortcutMonitor), MOD_CONTROL);
  EXPECT_EQ(shortcut_modifiers(c.ShortcutWindow), MOD_CONTROL | MOD_WIN);
  EXPECT_EQ(shortcut_modifiers(c.ShortcutRect), MOD_CONTROL | MOD_SHIFT);
  EXPECT_EQ(shortcut_key(c.ShortcutRect), 0x2Cu);
  EXPECT_EQ(shortcut_key(c.ShortcutPause), 0x50u);
}

TEST(VirtualKeys, KeysymsBothWays) {
  EXPECT_EQ(vk_to_keysym(0x2C), 0xff61u);  // Print
  EXPECT_EQ(vk_to_keysym(0x50), 0x70u);    // p
  EXPECT_EQ(vk_to_keysym(0x7B), 0xffc9u);  // F12
  EXPECT_EQ(vk_to_keysym(0x60), 0xffb0u);  // keypad 0
  EXPECT_EQ(vk_to_keysym(0xE9), 0u);
  EXPECT_EQ(keysym_to_vk(0x50), 0x50u);  // upper-case P is the same key
  EXPECT_EQ(keysym_to_vk(0x70), 0x50u);
  EXPECT_EQ(keysym_to_vk(0xff61), 0x2Cu);
  // Every named key maps back to itself.
  for (uint32_t vk = 1; vk < 0x100; ++vk) {
    const uint32_t sym = vk_to_keysym(vk);
    if (sym != 0) EXPECT_EQ(keysym_to_vk(sym), vk) << vk;
  }
}

struct FakeHotkeys : HotkeyService {
  std::set<int> refuse;
  std::vector<int> registered, unregistered;
  std::vector<uint32_t> modifiers, keys;
  bool register_hotkey(int id, uint32_t mods, uint32_t vk) override {
    registered.push_back(id);
    modifiers.push_back(mods);
    keys.push_back(vk);
    return refuse.count(id) == 0;
  }
  void unregister_hotkey(int id) override { unregistered.push_back(id); }
};

class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_hotkey_service = &keys;
    g_ui_service = &ui;
  }
  void TearDown() override {
    g_hotkey_service = nullptr;
    g_ui_service = nullptr;
    app_reset();
  }
  FakeHotkeys keys;
  FakeUi ui;
};

TEST_F(Shortcuts, RegistersInOrderWithTheStoredModifiersAndKeys) {
  EXPECT_TRUE(register_shortcuts());
  EXPECT_EQ(keys.registered, (std::vector<int>{2, 1, 3, 4}));
  EXPECT_EQ(keys.modifiers, (std::vector<uint32_t>{2, 10, 6, 6}));
  EXPECT_EQ(keys.keys, (std::vector<uint32_t>{0x2C, 0x2C, 0x2C, 0x50}));
  EXPECT_TRUE(g_app.shortcut_conflicts.empty());
  unregister_shortcuts();
  EXPECT_EQ(keys.unregistered, (std::vector<int>{2, 1, 3, 4}));
}

TEST_F(Shortcuts, ConflictsAreNamedInRegistrationOrder) {
  struct Case {
    std::set<int> refused;
    const char* list;
  };
  const Case cases[] = {
      {{1}, "Capture Window"},
      {{4, 2}, "Capture Monitor, Pause / Resume"},  // registration order, not id order
      {{1, 4}, "Capture Window, Pause / Resume"},
      {{1, 2, 3, 4}, "Capture Monitor, Capture Window, Capture Region, Pause / Resume"},
  };
  for (const Case& c : cases) {
    keys = FakeHotkeys{};
    keys.refuse = c.refused;
    EXPECT_FALSE(register_shortcuts());
    EXPECT_EQ(keys.registered.size(), 4u) << "all four are tried after a refusal";
    EXPECT_EQ(g_app.shortcut_conflicts, c.list);
  }
  // A later registration starts a fresh list.
  keys = FakeHotkeys{};
  EXPECT_TRUE(register_shortcuts());
  EXPECT_TRUE(g_app.shortcut_conflicts.empty());
}

TEST_F(Shortcuts, ZeroIsNeverRegisteredNorListed) {
  g_app.config.ShortcutWindow = 0;
  keys.refuse = {1, 3};
  EXPECT_FALSE(register_shortcuts());
  EXPECT_EQ(keys.registered, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(g_app.shortcut_conflicts, "Capture Region");
}

TEST_F(Shortcuts, WarningTextAndCaption) {
  keys.refuse = {1, 4};
  ASSERT_FALSE(register_shortcuts());
  report_shortcut_conflicts();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "Cannot register Frelvanta keyboard shortcuts.\nConflicting keys: Capture Window, Pause / Resume\n"
            "Please adjust these shortcuts in Settings.");
  EXPECT_EQ(ui.boxes[0].caption, "Frelvanta");
  EXPECT_EQ(ui.boxes[0].kind, static_cast<int>(MB_ICONWARNING));
}
}  // namespace
