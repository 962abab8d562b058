// What the tray shows: the menu, the tooltips, the icon per state, and the
// paused icon's bars painted into real pixels.
#include <gtest/gtest.h>

#include <vector>

#include "app/paused_icon.h"
#include "app/tray_menu.h"

namespace {
TEST(TrayMenu, ItemsOrderAndStates) {
  const auto idle = tray_menu_items(false, true, true);
  ASSERT_EQ(idle.size(), 5u);
  const int ids[] = {1, 0, 3, 4, 2};
  const char* texts[] = {"Frelvanta", "", "Settings", "Donate", "Exit"};
  for (size_t i = 0; i < idle.size(); ++i) {
    EXPECT_EQ(idle[i].id, ids[i]);
    EXPECT_EQ(idle[i].text, texts[i]);
  }
  EXPECT_TRUE(idle[2].enabled);
  struct Case {
    bool recording, settings, donate;
    bool settings_on, donate_on;
  };
  const Case cases[] = {
      {true, true, true, false, true},     // Settings cannot be chosen while recording
      {false, false, true, false, true},   // a build without the dialog shows it disabled
      {false, true, false, true, false},
  };
  for (const Case& c : cases) {
    const auto items = tray_menu_items(c.recording, c.settings, c.donate);
    EXPECT_EQ(items[2].enabled, c.settings_on);
    EXPECT_EQ(items[3].enabled, c.donate_on);
    EXPECT_TRUE(items[0].enabled);
    EXPECT_TRUE(items[4].enabled) << "Exit always works";
  }
}

// Where the desktop has no global shortcuts, their actions follow the
// specified items; a capture item stays enabled while recording (it stops
// the recording, as its shortcut does), Pause only works then.
TEST(TrayMenu, ShortcutItemsOnlyWhereTheDesktopHasNoShortcuts) {
  EXPECT_EQ(tray_menu_items(false, true, true, false).size(), 5u);
  for (bool recording : {false, true}) {
    const auto items = tray_menu_items(recording, true, true, true);
    ASSERT_EQ(items.size(), 10u);
    const int ids[] = {1, 0, 3, 4, 2, 0, TRAY_CMD_CAPTURE_MONITOR, TRAY_CMD_CAPTURE_WINDOW, TRAY_CMD_CAPTURE_REGION,
                       TRAY_CMD_PAUSE};
    const char* texts[] = {"Frelvanta", "", "Settings", "Donate", "Exit", "",
                           "Capture Monitor", "Capture Window", "Capture Region", "Pause"};
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].id, ids[i]);
      EXPECT_EQ(items[i].text, texts[i]);
    }
    for (size_t i = 6; i < 9; ++i) EXPECT_TRUE(items[i].enabled) << texts[i];
    EXPECT_EQ(items[9].enabled, recording);
  }
  // Each item stands for its shortcut's id; the specified commands for none.
  EXPECT_EQ(tray_command_hotkey(TRAY_CMD_CAPTURE_MONITOR), 2);
  EXPECT_EQ(tray_command_hotkey(TRAY_CMD_CAPTURE_WINDOW), 1);
  EXPECT_EQ(tray_command_hotkey(TRAY_CMD_CAPTURE_REGION), 3);
  EXPECT_EQ(tray_command_hotkey(TRAY_CMD_PAUSE), 4);
  for (int cmd : {0, TRAY_CMD_HOME, TRAY_CMD_EXIT, TRAY_CMD_SETTINGS, TRAY_CMD_DONATE})
    EXPECT_EQ(tray_command_hotkey(cmd), 0) << cmd;
}

TEST(TrayMenu, TipsAndIconsPerState) {
  EXPECT_STREQ(tray_tip_for_state(false, false), "Frelvanta");
  EXPECT_STREQ(tray_tip_for_state(true, false), "Recording");
  EXPECT_STREQ(tray_tip_for_state(true, true), "Recording (PAUSED)");
  EXPECT_EQ(tray_icon_for_state(false, false), TrayIconState::kIdle);
  EXPECT_EQ(tray_icon_for_state(true, false), TrayIconState::kRecording);
  EXPECT_EQ(tray_icon_for_state(true, true), TrayIconState::kPaused);
  EXPECT_EQ(tray_icon_for_state(true, true, false), TrayIconState::kRecording);
}

TEST(TrayMenu, NoTrayNoticeSaysHowToUseAndEnd) {
  const std::string text = no_tray_notice(33554476, 0, 100663340, 100663376, 4242);
  EXPECT_NE(text.find("Ctrl + PrtScr: record the monitor"), std::string::npos) << text;
  EXPECT_EQ(text.find("record the active window"), std::string::npos) << "a shortcut set to none is not offered";
  EXPECT_NE(text.find("Ctrl + Shift + PrtScr: select a region"), std::string::npos);
  EXPECT_NE(text.find("Ctrl + Shift + P: pause or resume"), std::string::npos);
  EXPECT_NE(text.find("kill 4242"), std::string::npos);
}

// Paints the bars on a red picture and reads back which pixels changed.
struct Painted {
  int w, h;
  std::vector<uint32_t> px;
  Painted(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height, 0xFFCC0000u) {
    make_paused_icon(px, w, h);
  }
  uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

TEST(PausedIcon, BarsFor32And16) {
  struct Case {
    int size;
    IconRect a, b;
  };
  const Case cases[] = {
      {32, {7, 11, 13, 21}, {15, 11, 21, 21}},
      {16, {3, 5, 6, 10}, {7, 5, 10, 10}},
  };
  for (const Case& c : cases) {
    const PausedBars bars = paused_icon_bars(c.size, c.size);
    EXPECT_EQ((std::vector<int>{bars.a.left, bars.a.top, bars.a.right, bars.a.bottom}),
              (std::vector<int>{c.a.left, c.a.top, c.a.right, c.a.bottom}));
    EXPECT_EQ((std::vector<int>{bars.b.left, bars.b.top, bars.b.right, bars.b.bottom}),
              (std::vector<int>{c.b.left, c.b.top, c.b.right, c.b.bottom}));

    const Painted p(c.size, c.size);
    // Every pixel: white inside a bar, black on the one-pixel ring around
    // it, the picture's own colour everywhere else.
    for (int y = 0; y < c.size; ++y) {
      for (int x = 0; x < c.size; ++x) {
        auto inside = [&](IconRect r, int grow) {
          return x >= r.left - grow && x < r.right + grow && y >= r.top - grow && y < r.bottom + grow;
        };
        uint32_t want = 0xFFCC0000u;
        if (inside(c.a, 1) || inside(c.b, 1)) want = 0xFF000000u;
        if (inside(c.a, 0) || inside(c.b, 0)) want = 0xFFFFFFFFu;
        ASSERT_EQ(p.at(x, y), want) << c.size << " at " << x << "," << y;
      }
    }
  }
}

TEST(PausedIcon, TinyPicturesStayInside) {
  // Outlines that reach past the edge are clipped, not written out of bounds.
  for (int size : {1, 2, 3, 5}) {
    std::vector<uint32_t> px(static_cast<size_t>(size) * size + 1, 0x12345678u);
    make_paused_icon(px, size, size);
    EXPECT_EQ(px.back(), 0x12345678u) << size;
  }
}
}  // namespace
