#pragma once
// User-interface services the core reports through. The interactive shell
// installs an implementation; without one (no display, command-line run,
// tests) message boxes and balloons are not shown.
#include <cstdint>
#include <string>
#include <vector>

// Message box styles the core passes (values as the classic API defines them;
// where the system's header is included first, its macros are these).
#ifndef MB_ICONERROR
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
#endif

// Balloon kinds.
constexpr int NOTIFY_INFO = 1;
constexpr int NOTIFY_WARNING = 2;
constexpr int NOTIFY_ERROR = 3;

enum class TrayIconState { kIdle, kRecording, kPaused };

// One entry of the tray's popup menu; id 0 is a separator.
struct TrayMenuItem {
  int id;
  std::string text;
  bool enabled;
};

class UiService {
 public:
  virtual ~UiService() = default;
  virtual int message_box(const std::string& text, const std::string& caption, uint32_t type) = 0;
  virtual int tray_notification(const std::string& text, const std::string& caption, int kind) = 0;
  // The tray icon of the interactive instance (added when the main window is
  // created, removed when it is destroyed).
  virtual void tray_add() {}
  virtual void tray_delete() {}
  // The icon for the recording state and the tooltip ("Recording",
  // "Recording (PAUSED)" or "Frelvanta").
  virtual void tray_set_icon(TrayIconState state) {}
  virtual void tray_set_tip(const std::string& tip) {}
  // False when the desktop offers no tray to show the icon in.
  virtual bool tray_available() { return true; }
  // Shows the menu at the mouse pointer and waits for the choice; returns
  // the chosen id, 0 when the menu was dismissed.
  virtual int tray_popup_menu(const std::vector<TrayMenuItem>& items) { return 0; }
  // What the menu holds may have changed (the recording state, the items
  // that stand in for missing shortcuts): a tray that exports the menu for
  // the desktop to draw takes it again (the main window's tray_menu_now).
  virtual void tray_menu_changed() {}
  // A desktop notification that needs no tray (said once, at start, on a
  // desktop without one).
  virtual void desktop_notice(const std::string& text, const std::string& caption) {}
  // Opens a web address in the user's browser.
  virtual void open_url(const std::string& url) {}
};

inline UiService* g_ui_service = nullptr;
