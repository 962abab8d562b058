#include "dialogs/win32/dialog_host_win32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The core names its dialog constants like the system's macros, so its
// headers come before the system's.
#include "core/ui_service.h"
#include "dialogs/dialog_host.h"
#include "dialogs/dialog_template.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include "platform/win32/wide.h"

namespace {
// Wakes the dialog to empty its mailbox; the payloads stay in the mailbox so
// that nothing leaks when the dialog is gone before the wake arrives.
constexpr UINT kMailboxWake = WM_APP + 0x3F0;
constexpr int kComboDropItems = 8;
const wchar_t kHostProperty[] = L"FrelvantaDialogHost";

class Win32Mailbox : public DialogMailbox {
 public:
  explicit Win32Mailbox(HWND dialog) : dialog_(dialog) {}
  bool post(uint32_t message, std::shared_ptr<void> payload) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dialog_) return false;
    queue_.emplace_back(message, std::move(payload));
    if (!PostMessageW(dialog_, kMailboxWake, 0, 0)) {
      queue_.pop_back();
      return false;
    }
    return true;
  }
  bool take(uint32_t* message, std::shared_ptr<void>* payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return false;
    *message = queue_.front().first;
    *payload = std::move(queue_.front().second);
    queue_.pop_front();
    return true;
  }
  // Later posts fail; what was not delivered is released here.
  void close() {
    std::deque<std::pair<uint32_t, std::shared_ptr<void>>> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    dialog_ = nullptr;
    dropped.swap(queue_);
  }

 private:
  std::mutex mutex_;
  HWND dialog_;
  std::deque<std::pair<uint32_t, std::shared_ptr<void>>> queue_;
};

class Win32Dialog : public DialogHost {
 public:
  Win32Dialog(DialogProc* proc, const DialogLayout& layout) : proc_(proc) {
    for (const DialogItem& item : layout.items)
      if (item.id != kNoControlId) atoms_[item.id] = item.atom;
  }

  HWND hwnd() const { return hwnd_; }

  // DialogHost.
  std::string item_text(int id) override {
    HWND w = GetDlgItem(hwnd_, id);
    if (!w) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    int n = GetWindowTextW(w, text.data(), static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return to_utf8(text);
  }
  void set_item_text(int id, std::string_view text) override { SetDlgItemTextW(hwnd_, id, to_wide(text).c_str()); }
  bool is_checked(int id) override { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
  void set_checked(int id, bool checked) override { CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED); }
  void enable_item(int id, bool enabled) override {
    if (HWND w = GetDlgItem(hwnd_, id)) EnableWindow(w, enabled);
  }
  bool item_enabled(int id) override {
    HWND w = GetDlgItem(hwnd_, id);
    return w && IsWindowEnabled(w);
  }

  void list_reset(int id) override {
    if (const List* l = list(id)) {
      SendDlgItemMessageW(hwnd_, id, l->reset, 0, 0);
      data_[id].clear();
    }
  }
  int list_add(int id, std::string_view text, std::string data) override {
    const List* l = list(id);
    if (!l) return -1;
    std::wstring wide = to_wide(text);
    LRESULT index = SendDlgItemMessageW(hwnd_, id, l->add, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    if (index < 0) return -1;  // CB_ERR / CB_ERRSPACE (LB_ likewise)
    std::vector<std::string>& d = data_[id];
    size_t at = std::min(static_cast<size_t>(index), d.size());
    d.insert(d.begin() + static_cast<std::ptrdiff_t>(at), std::move(data));
    return static_cast<int>(index);
  }
  int list_count(int id) override {
    const List* l = list(id);
    return l ? static_cast<int>(SendDlgItemMessageW(hwnd_, id, l->count, 0, 0)) : 0;
  }
  int list_selection(int id) override {
    const List* l = list(id);
    if (!l) return -1;
    LRESULT r = SendDlgItemMessageW(hwnd_, id, l->get_selection, 0, 0);
    return r < 0 ? -1 : static_cast<int>(r);
  }
  void list_select(int id, int index) override {
    const List* l = list(id);
    if (!l) return;
    if (index < 0 || index >= list_count(id)) index = -1;
    SendDlgItemMessageW(hwnd_, id, l->select, static_cast<WPARAM>(index), 0);
  }
  std::string list_text(int id, int index) override {
    const List* l = list(id);
    if (!l || index < 0) return {};
    LRESULT n = SendDlgItemMessageW(hwnd_, id, l->text_length, static_cast<WPARAM>(index), 0);
    if (n < 0) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    n = SendDlgItemMessageW(hwnd_, id, l->text, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return to_utf8(text);
  }
  std::string list_data(int id, int index) override {
    auto it = data_.find(id);
    if (it == data_.end() || index < 0 || static_cast<size_t>(index) >= it->second.size()) return {};
    return it->second[static_cast<size_t>(index)];
  }

  void begin_key_capture(int id) override {
    HWND w = GetDlgItem(hwnd_, id);
    if (!w || saved_procs_.count(id)) return;
    SetPropW(w, kHostProperty, this);
    saved_procs_[id] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Dialog::capture_proc)));
    SetFocus(w);
  }
  void end_key_capture(int id) override {
    auto it = saved_procs_.find(id);
    if (it == saved_procs_.end()) return;
    if (HWND w = GetDlgItem(hwnd_, id)) {
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(it->second));
      RemovePropW(w, kHostProperty);
    }
    saved_procs_.erase(it);
  }

  void end_dialog(int result) override {
    ended_ = true;
    EndDialog(hwnd_, result);
  }
  void bring_to_front() override { SetForegroundWindow(hwnd_); }
  std::shared_ptr<DialogMailbox> mailbox() override { return mailbox_; }

  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    return MessageBoxW(hwnd_, to_wide(text).c_str(), to_wide(caption).c_str(), type);
  }
  bool pick_folder(std::string* path) override;
  bool copy_to_clipboard(const std::string& text) override;
  void open_url(const std::string& url) override {
    // Only web links: the system would run anything else it is given.
    if (!(url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0)) return;
    ShellExecuteW(hwnd_, L"open", to_wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }

  static INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  struct List {
    UINT reset, add, count, get_selection, select, text_length, text;
  };
  const List* list(int id) const {
    static const List kCombo{CB_RESETCONTENT, CB_ADDSTRING, CB_GETCOUNT, CB_GETCURSEL,
                             CB_SETCURSEL,    CB_GETLBTEXTLEN, CB_GETLBTEXT};
    static const List kList{LB_RESETCONTENT, LB_ADDSTRING, LB_GETCOUNT, LB_GETCURSEL,
                            LB_SETCURSEL,    LB_GETTEXTLEN, LB_GETTEXT};
    auto it = atoms_.find(id);
    if (it == atoms_.end()) return nullptr;
    return it->second == ATOM_COMBOBOX ? &kCombo : it->second == ATOM_LISTBOX ? &kList : nullptr;
  }
  bool is_link_window(HWND w) const {
    return w && GetParent(w) == hwnd_ && proc_->is_link(GetDlgCtrlID(w));
  }

  void init(HWND hwnd) {
    hwnd_ = hwnd;
    mailbox_ = std::make_shared<Win32Mailbox>(hwnd);
    for (HWND w = GetWindow(hwnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      int id = GetDlgCtrlID(w);
      auto atom = atoms_.find(id);
      if (atom != atoms_.end() && atom->second == ATOM_COMBOBOX) {
        // A drop-down list's window height in the template is its closed
        // height; the open list needs room for a few items below it.
        RECT r;
        GetWindowRect(w, &r);
        LRESULT item = SendMessageW(w, CB_GETITEMHEIGHT, 0, 0);
        int height = r.bottom - r.top + kComboDropItems * static_cast<int>(item > 0 ? item : 16);
        SetWindowPos(w, nullptr, 0, 0, r.right - r.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      if (proc_->is_link(id)) {
        if (!link_font_) link_font_ = make_link_font();
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(link_font_), FALSE);
      }
    }
  }

  // The dialog's font, underlined and of normal weight.
  HFONT make_link_font() {
    HFONT base = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    if (!base) base = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf{};
    if (GetObjectW(base, sizeof(lf), &lf) == sizeof(lf)) {
      lf.lfUnderline = TRUE;
      lf.lfWeight = FW_NORMAL;
      if (HFONT f = CreateFontIndirectW(&lf)) {
        own_link_font_ = true;
        return f;
      }
    }
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }

  void destroy() {
    for (auto it = saved_procs_.begin(); it != saved_procs_.end(); it = saved_procs_.begin()) end_key_capture(it->first);
    mailbox_->close();
    proc_->on_destroy(*this);
    if (link_font_ && own_link_font_) DeleteObject(link_font_);
    link_font_ = nullptr;
  }

  void deliver_mail() {
    uint32_t message;
    std::shared_ptr<void> payload;
    while (mailbox_->take(&message, &payload))
      if (!ended_) proc_->on_message(*this, message, std::move(payload));
  }

  static LRESULT CALLBACK capture_proc(HWND w, UINT message, WPARAM wparam, LPARAM lparam);

  DialogProc* proc_;
  HWND hwnd_ = nullptr;
  std::shared_ptr<Win32Mailbox> mailbox_;
  std::map<int, uint16_t> atoms_;
  std::map<int, std::vector<std::string>> data_;  // item data, in item order
  std::map<int, WNDPROC> saved_procs_;
  HFONT link_font_ = nullptr;
  bool own_link_font_ = false;
  bool ended_ = false;
};

// A button capturing keys: it asks for every key, swallows presses and
// hands releases (with the modifiers held then) to the procedure.
LRESULT CALLBACK Win32Dialog::capture_proc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<Win32Dialog*>(GetPropW(w, kHostProperty));
  int id = GetDlgCtrlID(w);
  WNDPROC saved = nullptr;
  if (self) {
    auto it = self->saved_procs_.find(id);
    if (it != self->saved_procs_.end()) saved = it->second;
  }
  if (!saved) return DefWindowProcW(w, message, wparam, lparam);
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CHAR:
    case WM_SYSCHAR:
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      uint32_t held = 0;
      if (GetKeyState(VK_MENU) & 0x8000) held |= SHORTCUT_ALT;
      if (GetKeyState(VK_CONTROL) & 0x8000) held |= SHORTCUT_CTRL;
      if (GetKeyState(VK_SHIFT) & 0x8000) held |= SHORTCUT_SHIFT;
      if ((GetKeyState(VK_LWIN) & 0x8000) || (GetKeyState(VK_RWIN) & 0x8000)) held |= SHORTCUT_WIN;
      if (self->proc_->on_key_up(*self, id, static_cast<uint32_t>(wparam), held)) return 0;
      break;
    }
    default:
      break;
  }
  return CallWindowProcW(saved, w, message, wparam, lparam);
}

INT_PTR CALLBACK Win32Dialog::dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Win32Dialog*>(lparam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    self->init(hwnd);
    self->proc_->on_init(*self);
    return TRUE;
  }
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      self->proc_->on_command(*self, LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      self->proc_->on_command(*self, IDCANCEL_COMMAND, BN_CLICKED);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      HWND control = reinterpret_cast<HWND>(lparam);
      if (!self->is_link_window(control)) return FALSE;
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, RGB((kLinkColor >> 16) & 0xFF, (kLinkColor >> 8) & 0xFF, kLinkColor & 0xFF));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
      if (self->is_link_window(reinterpret_cast<HWND>(wparam))) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case kMailboxWake:
      self->deliver_mail();
      return TRUE;
    case WM_DESTROY:
      self->destroy();
      return FALSE;
    default:
      return FALSE;
  }
}

bool Win32Dialog::pick_folder(std::string* path) {
  // The dialog runs on the main thread, which start-up made a COM
  // apartment; a thread that is none gets one for the call.
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  bool chosen = false;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 reinterpret_cast<void**>(&dialog)))) {
    std::wstring start = to_wide(*path);
    for (wchar_t& c : start)
      if (c == L'/') c = L'\\';
    IShellItem* folder = nullptr;
    if (!start.empty() &&
        SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem, reinterpret_cast<void**>(&folder)))) {
      dialog->SetFolder(folder);
      folder->Release();
    }
    dialog->SetOptions(FOS_PICKFOLDERS | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR);
    IShellItem* result = nullptr;
    if (SUCCEEDED(dialog->Show(hwnd_)) && SUCCEEDED(dialog->GetResult(&result))) {
      wchar_t* name = nullptr;
      if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &name)) && name) {
        *path = path_from_system(name);
        chosen = true;
        CoTaskMemFree(name);
      }
      result->Release();
    }
    dialog->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return chosen;
}

bool Win32Dialog::copy_to_clipboard(const std::string& text) {
  if (!OpenClipboard(hwnd_)) return false;
  std::wstring wide = to_wide(text);
  HGLOBAL memory = nullptr;
  bool ok = false;
  if (EmptyClipboard()) {
    memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    if (void* p = memory ? GlobalLock(memory) : nullptr) {
      memcpy(p, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
      GlobalUnlock(memory);
      ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;  // the clipboard owns it now
    }
  }
  if (!ok && memory) GlobalFree(memory);
  CloseClipboard();
  return ok;
}

int run_win32_dialog(const std::vector<uint8_t>& bytes, DialogProc* proc, DialogHost* owner) {
  DialogLayout layout;
  if (!proc || !parse_dialog_template(bytes.data(), bytes.size(), &layout)) return -1;
  auto* owner_dialog = dynamic_cast<Win32Dialog*>(owner);
  Win32Dialog dialog(proc, layout);
  // The template's bytes go to the dialog manager as they are (a vector's
  // storage is aligned for the DWORDs it starts with).
  INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                      owner_dialog ? owner_dialog->hwnd() : nullptr, &Win32Dialog::dialog_proc,
                                      reinterpret_cast<LPARAM>(&dialog));
  return static_cast<int>(r);
}
}  // namespace

void install_win32_dialog_host() { set_dialog_runner(run_win32_dialog); }
