#pragma once
// What a dialog procedure sees of its dialog, and how a template becomes a
// running modal dialog. A host (the Qt one in qt/, a fake one in the tests, a
// Windows one later) creates the controls a template names and turns user
// input into the procedure's events; the procedures themselves stay portable.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Notification codes carried with a command.
constexpr int BN_CLICKED = 0;
constexpr int STN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int LBN_SELCHANGE = 1;
constexpr int LBN_DBLCLK = 2;

// Command ids every dialog shares.
constexpr int IDOK_COMMAND = 1;
constexpr int IDCANCEL_COMMAND = 2;

// Message box types and answers beyond the icons in app/ui_service.h.
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Modifier bits of a stored shortcut value; the key code is in bits 0..23.
constexpr uint32_t SHORTCUT_ALT = 1u << 24;
constexpr uint32_t SHORTCUT_CTRL = 1u << 25;
constexpr uint32_t SHORTCUT_SHIFT = 1u << 26;
constexpr uint32_t SHORTCUT_WIN = 1u << 27;

// Hands a message to a dialog from any thread. post() fails once the dialog
// is gone; the payload is then released by the caller's shared pointer.
class DialogMailbox {
 public:
  virtual ~DialogMailbox() = default;
  virtual bool post(uint32_t message, std::shared_ptr<void> payload) = 0;
};

class DialogHost;

class DialogProc {
 public:
  virtual ~DialogProc() = default;
  virtual void on_init(DialogHost& dialog) = 0;
  // A control's notification; the close box and Esc arrive as IDCANCEL.
  virtual void on_command(DialogHost& dialog, int id, int code) = 0;
  virtual void on_destroy(DialogHost& dialog) {}
  // A message posted through the mailbox, on the dialog's thread.
  virtual void on_message(DialogHost& dialog, uint32_t message, std::shared_ptr<void> payload) {}
  // A key released on a control that captures keys (begin_key_capture):
  // `key` is the virtual-key code, `held` the SHORTCUT_* bits of the
  // modifiers held at that moment. False lets the control handle it as usual.
  virtual bool on_key_up(DialogHost& dialog, int id, uint32_t key, uint32_t held) { return false; }
  // Static controls drawn as links: their text colour (0xRRGGBB), an
  // underlined font and the hand cursor over them.
  virtual bool is_link(int id) const { return false; }
};

constexpr uint32_t kLinkColor = 0x0066CC;  // RGB(0, 102, 204)

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual std::string item_text(int id) = 0;
  virtual void set_item_text(int id, std::string_view text) = 0;
  // Unsigned number of an edit; an empty or invalid field reads as 0.
  virtual uint32_t item_number(int id);
  virtual void set_item_number(int id, uint32_t value);
  virtual bool is_checked(int id) = 0;
  virtual void set_checked(int id, bool checked) = 0;
  virtual void enable_item(int id, bool enabled) = 0;
  virtual bool item_enabled(int id) = 0;

  // Combo and list boxes. Items carry a string as their data (empty: none).
  virtual void list_reset(int id) = 0;
  virtual int list_add(int id, std::string_view text, std::string data = {}) = 0;  // index, or -1
  virtual int list_count(int id) = 0;
  virtual int list_selection(int id) = 0;  // -1 when nothing is selected
  virtual void list_select(int id, int index) = 0;  // -1 clears the selection
  virtual std::string list_text(int id, int index) = 0;
  virtual std::string list_data(int id, int index) = 0;
  // Selects the first item whose text starts with `prefix` (ignoring ASCII
  // case); the selection stays as it was when none does. Index or -1.
  virtual int list_select_prefix(int id, std::string_view prefix);

  // Keys released on control `id` go to DialogProc::on_key_up until
  // end_key_capture; key presses on it are swallowed.
  virtual void begin_key_capture(int id) = 0;
  virtual void end_key_capture(int id) = 0;

  virtual void end_dialog(int result) = 0;
  virtual void bring_to_front() = 0;
  virtual std::shared_ptr<DialogMailbox> mailbox() = 0;

  // Services a dialog uses while it is open, owned by it.
  virtual int message_box(const std::string& text, const std::string& caption, uint32_t type) = 0;
  // A folder chosen by the user, starting at *path when it exists.
  virtual bool pick_folder(std::string* path) = 0;
  virtual bool copy_to_clipboard(const std::string& text) = 0;
  virtual void open_url(const std::string& url) = 0;
};

// Runs a template as a modal dialog owned by `owner` (null: none) and
// returns the value given to end_dialog, or -1 when it cannot be created.
using DialogRunner = int (*)(const std::vector<uint8_t>& dialog_template, DialogProc* proc, DialogHost* owner);
void set_dialog_runner(DialogRunner runner);
int run_dialog(const std::vector<uint8_t>& dialog_template, DialogProc* proc, DialogHost* owner);
