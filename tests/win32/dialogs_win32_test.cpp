// The dialogs on the system's dialog manager: the settings dialog from the
// core's template, driven from a second thread like a user would (find the
// window, type, click), its OK written to the INI; the update check's result
// arriving through the mailbox; the small dialogs; the host's mailbox.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "settings/config_store.h"
#include "dialogs/dialog_host.h"
#include "dialogs/dialog_template.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/settings_dialog.h"
#include "dialogs/settings_ids.h"
#include "dialogs/update_check.h"
#include "dialogs/win32/dialog_host_win32.h"
#include "win32_temp.h"

namespace {
std::wstring window_text(HWND w) {
  wchar_t text[1024] = {};
  GetWindowTextW(w, text, 1024);
  return text;
}
std::wstring item_text(HWND dialog, int id) { return window_text(GetDlgItem(dialog, id)); }

// A visible dialog of this process whose title matches, waited for up to
// ten seconds (null when none appears).
HWND wait_for_dialog(std::function<bool(const std::wstring&)> title_matches) {
  struct Search {
    std::function<bool(const std::wstring&)>* match;
    HWND found = nullptr;
  };
  for (int i = 0; i < 200; ++i) {
    Search s{&title_matches};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          wchar_t cls[16] = {};
          GetClassNameW(w, cls, 16);
          if (pid != GetCurrentProcessId() || !IsWindowVisible(w) || std::wstring(cls) != L"#32770") return TRUE;
          if (!(*s->match)(window_text(w))) return TRUE;
          s->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    Sleep(50);
  }
  return nullptr;
}
HWND wait_for_title_prefix(const std::wstring& prefix) {
  return wait_for_dialog([prefix](const std::wstring& t) { return t.rfind(prefix, 0) == 0; });
}

// Waits until control `id` shows `text` (a posted key is handled later).
bool wait_for_text(HWND dialog, int id, const std::wstring& text) {
  for (int i = 0; i < 100; ++i) {
    if (item_text(dialog, id) == text) return true;
    Sleep(50);
  }
  return false;
}

// The texts of a message box's statics, joined.
std::wstring message_box_text(HWND box) {
  std::wstring all;
  for (HWND w = GetWindow(box, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (std::wstring(cls) == L"Static") all += window_text(w);
  }
  return all;
}

int child_count(HWND dialog) {
  int n = 0;
  for (HWND w = GetWindow(dialog, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) ++n;
  return n;
}

void click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string shortcut_name(uint32_t v) { return v ? "key " + std::to_string(v) : "[none]"; }
std::atomic<int> g_unregistered{0}, g_registered{0};

class Win32Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    install_win32_dialog_host();
    SettingsDialogServices s;
    s.format_shortcut = shortcut_name;
    s.unregister_shortcuts = [] { ++g_unregistered; };
    s.register_shortcuts = [] { ++g_registered; };
    set_settings_dialog_services(s);
    g_unregistered = g_registered = 0;
    config_set_defaults(&config);
    g_app.ini_path = dir / "frelvanta.ini";
  }
  void TearDown() override {
    set_settings_dialog_services(SettingsDialogServices{});
    set_update_endpoint_for_tests(nullptr);
  }

  Win32TempDir dir;
  Config config;
};
}  // namespace

// The user's path: fields filled from Config, a typed number, a check box,
// a preset chosen from its list, a shortcut captured on its button, OK; the
// configuration then saved as the tray does and read back with the system's
// profile functions.
TEST_F(Win32Dialogs, SettingsOpenFromTheTemplateAndOkWritesTheIni) {
  config.VideoMaxWidth = 1234;
  config.OutputFolder = "C:/Aufnahmen/\xC3\x9C" "ber";  // "Über": UTF-8 through the UTF-16 edit
  config.VideoCodec = VIDEO_CODEC_H265;
  config.VideoProfile = 2;  // no H265 entry: the last one is shown
  config.MouseCursor = 1;
  config.ShortcutWindow = 0;

  struct Seen {
    bool found = false;
    std::wstring title, width, folder, profile, delay_after_preset, prompt, after_shift, captured;
    int children = 0, profiles = 0;
    RECT client{}, expected{0, 0, 286, 430};
    COLORREF link = 0;
  } seen;
  std::thread driver([&] {
    HWND d = wait_for_title_prefix(L"Frelvanta 3.3.0, ");
    if (!d) return;
    seen.found = true;
    seen.title = window_text(d);
    seen.children = child_count(d);
    GetClientRect(d, &seen.client);
    MapDialogRect(d, &seen.expected);
    seen.width = item_text(d, ID_MAX_WIDTH);
    seen.folder = item_text(d, ID_OUTPUT_FOLDER);
    seen.profiles = static_cast<int>(SendDlgItemMessageW(d, ID_VIDEO_PROFILE, CB_GETCOUNT, 0, 0));
    seen.profile = item_text(d, ID_VIDEO_PROFILE);
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(d, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(d, ID_UPDATE_LINK)));
    seen.link = GetTextColor(dc);
    DeleteDC(dc);

    SetDlgItemTextW(d, ID_START_DELAY, L"9");
    click(d, ID_MOUSE_CURSOR);
    SendDlgItemMessageW(d, ID_PRESET, CB_SETCURSEL, 2, 0);  // "Quality", as the user picks it
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(ID_PRESET, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(d, ID_PRESET)));
    seen.delay_after_preset = item_text(d, ID_MAX_WIDTH);

    click(d, ID_SHORTCUT_WINDOW);
    seen.prompt = item_text(d, ID_SHORTCUT_WINDOW);
    HWND button = GetDlgItem(d, ID_SHORTCUT_WINDOW);
    PostMessageW(button, WM_KEYDOWN, VK_SHIFT, 0);
    PostMessageW(button, WM_KEYUP, VK_SHIFT, 0xC0000001);
    PostMessageW(button, WM_KEYDOWN, VK_F9, 0);
    PostMessageW(button, WM_KEYUP, VK_F9, 0xC0000001);
    wait_for_text(d, ID_SHORTCUT_WINDOW, L"key 120");
    seen.captured = item_text(d, ID_SHORTCUT_WINDOW);
    click(d, ID_OK);
  });
  int result = show_settings_dialog(&config);
  driver.join();

  ASSERT_TRUE(seen.found) << "no settings dialog appeared";
  EXPECT_EQ(result, 1);
  EXPECT_EQ(seen.children, 71) << "one window per template item";
  EXPECT_EQ(seen.client.right, seen.expected.right) << "286 dialog units wide in the dialog's font";
  EXPECT_EQ(seen.client.bottom, seen.expected.bottom);
  EXPECT_EQ(seen.width, L"1234");
  EXPECT_EQ(seen.folder, L"C:/Aufnahmen/\u00DCber");
  EXPECT_EQ(seen.profiles, 2);
  EXPECT_EQ(seen.profile, L"Main10 (10-bit)");
  EXPECT_EQ(seen.link, RGB(0, 102, 204));
  EXPECT_EQ(seen.delay_after_preset, L"2560");
  EXPECT_EQ(seen.prompt, L"Press new shortcut, [ESC] to cancel, [BACKSPACE] to disable");
  EXPECT_EQ(seen.captured, L"key 120") << "Shift alone keeps the capture going; F9 ends it";
  EXPECT_EQ(g_unregistered.load(), 1);
  EXPECT_EQ(g_registered.load(), 1);
  EXPECT_EQ(g_settings_dialog.settings_window, nullptr);

  EXPECT_EQ(config.StartDelaySec, 5u);
  EXPECT_EQ(config.MouseCursor, 0u);
  EXPECT_EQ(config.VideoMaxWidth, 2560u);
  EXPECT_EQ(config.LastPreset, 2u);
  EXPECT_EQ(config.VideoProfile, 3u);
  EXPECT_EQ(config.ShortcutWindow, 0x78u);
  EXPECT_EQ(config.OutputFolder, "C:/Aufnahmen/\xC3\x9C" "ber");

  config_save(config);
  std::wstring ini = to_wide(g_app.ini_path);
  auto stored = [&](const wchar_t* key) {
    wchar_t value[512] = {};
    GetPrivateProfileStringW(L"frelvanta", key, L"(missing)", value, 512, ini.c_str());
    return std::wstring(value);
  };
  EXPECT_EQ(stored(L"VideoMaxWidth"), L"2560");
  EXPECT_EQ(stored(L"StartDelaySec"), L"5");
  EXPECT_EQ(stored(L"MouseCursor"), L"0");
  EXPECT_EQ(stored(L"ShortcutWindow"), L"120");
  EXPECT_EQ(stored(L"OutputFolder"), L"C:/Aufnahmen/\u00DCber");
}

// The link starts a check on its own thread; its result comes back through
// the mailbox and is shown owned by the dialog. The close box cancels.
TEST_F(Win32Dialogs, UpdateCheckResultArrivesAndTheCloseBoxCancels) {
  UpdateEndpoint plain{"http://127.0.0.1:9/latest.txt", {}};
  set_update_endpoint_for_tests(&plain);
  Config before = config;
  struct Seen {
    bool found = false, box_found = false;
    std::wstring box_text, link_after;
    bool owned = false, link_enabled_after = false;
  } seen;
  std::thread driver([&] {
    HWND d = wait_for_title_prefix(L"Frelvanta 3.3.0, ");
    if (!d) return;
    seen.found = true;
    SetDlgItemTextW(d, ID_MAX_WIDTH, L"640");
    HWND link = GetDlgItem(d, ID_UPDATE_LINK);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(ID_UPDATE_LINK, STN_CLICKED), reinterpret_cast<LPARAM>(link));
    HWND box = wait_for_dialog([](const std::wstring& t) { return t == L"Frelvanta"; });
    if (box) {
      seen.box_found = true;
      seen.box_text = message_box_text(box);
      seen.owned = GetWindow(box, GW_OWNER) == d;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
    }
    seen.link_after = item_text(d, ID_UPDATE_LINK);
    seen.link_enabled_after = IsWindowEnabled(link);
    PostMessageW(d, WM_CLOSE, 0, 0);
  });
  int result = show_settings_dialog(&config);
  driver.join();

  ASSERT_TRUE(seen.found);
  EXPECT_EQ(result, 0);
  ASSERT_TRUE(seen.box_found) << "no message box with the check's result";
  EXPECT_NE(seen.box_text.find(L"Update URL must use HTTPS."), std::wstring::npos) << to_utf8(seen.box_text);
  EXPECT_TRUE(seen.owned);
  EXPECT_EQ(seen.link_after, L"Check For Updates");
  EXPECT_TRUE(seen.link_enabled_after);
  EXPECT_EQ(g_update_check_running.load(), 0u);
  EXPECT_EQ(config.VideoMaxWidth, before.VideoMaxWidth) << "Cancel keeps the configuration";
}

// About and Update-available open from their templates and close again.
TEST_F(Win32Dialogs, AboutAndUpdateAvailableOpen) {
  struct Seen {
    bool about = false, update = false;
    int about_children = 0;
    std::wstring version, description;
  } seen;
  std::thread driver([&] {
    if (HWND d = wait_for_title_prefix(L"About Frelvanta")) {
      seen.about = true;
      seen.about_children = child_count(d);
      PostMessageW(d, WM_CLOSE, 0, 0);
    }
  });
  show_about_dialog(nullptr);
  driver.join();

  UpdateResult r;
  r.ok = r.newer = 1;
  r.version = "3.4.0";
  r.description = "Faster capture";
  r.url = "https://example.test/download";
  std::thread driver2([&] {
    if (HWND d = wait_for_title_prefix(L"Frelvanta Update Available")) {
      seen.update = true;
      seen.version = item_text(d, ID_UPDATE_VERSION);
      seen.description = item_text(d, ID_UPDATE_DESCRIPTION);
      click(d, ID_UPDATE_CLOSE);
    }
  });
  show_update_available_dialog(nullptr, r);
  driver2.join();

  EXPECT_TRUE(seen.about);
  EXPECT_EQ(seen.about_children, 10);
  EXPECT_TRUE(seen.update);
  EXPECT_EQ(seen.version, L"3.4.0");
  EXPECT_EQ(seen.description, L"Faster capture");
}

namespace {
// Posts from another thread while open; keeps the mailbox for a post after.
class MailProc : public DialogProc {
 public:
  void on_init(DialogHost& d) override {
    box = d.mailbox();
    dialog_thread = GetCurrentThreadId();
    std::thread([mailbox = box, payload = payload] { mailbox->post(77, payload); }).detach();
  }
  void on_command(DialogHost& d, int id, int) override {
    if (id == IDCANCEL_COMMAND) d.end_dialog(0);
  }
  void on_message(DialogHost& d, uint32_t message, std::shared_ptr<void> p) override {
    received = message;
    same_thread = GetCurrentThreadId() == dialog_thread;
    got_payload = p == payload;
    d.end_dialog(5);
  }
  std::shared_ptr<DialogMailbox> box;
  std::shared_ptr<void> payload = std::make_shared<int>(1);
  DWORD dialog_thread = 0;
  uint32_t received = 0;
  bool same_thread = false, got_payload = false;
};
}  // namespace

TEST_F(Win32Dialogs, MailboxDeliversOnTheDialogThreadAndRefusesOnceClosed) {
  DialogTemplateWriter w;
  w.write_header(kDialogStyle, 0, 0, 100, 40, "Mailbox", 9, "Segoe UI");
  w.append_dialog_item("Close", ID_OK, ATOM_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 10, 50, 14);
  MailProc proc;
  EXPECT_EQ(run_dialog(w.finish(), &proc, nullptr), 5);
  EXPECT_EQ(proc.received, 77u);
  EXPECT_TRUE(proc.same_thread);
  EXPECT_TRUE(proc.got_payload);
  auto late = std::make_shared<int>(2);
  EXPECT_FALSE(proc.box->post(78, late));
  EXPECT_EQ(late.use_count(), 1) << "a refused payload stays with the caller";

  std::vector<uint8_t> broken = {1, 2, 3};
  EXPECT_EQ(run_dialog(broken, &proc, nullptr), -1);
}
