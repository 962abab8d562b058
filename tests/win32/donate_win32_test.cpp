// The Donate dialog of a build that carries addresses, on the system's
// dialog manager: its list, and Copy (button or double click) putting only
// the address on the system's clipboard.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "dialogs/info_dialogs.h"
#include "dialogs/settings_ids.h"
#include "dialogs/win32/dialog_host_win32.h"

#include <windows.h>

namespace {
std::wstring clipboard_text() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
      text = p;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return text;
}

std::wstring list_line(HWND list, int index) {
  wchar_t line[512] = {};
  SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line));
  return line;
}
}  // namespace

TEST(Win32Donate, ListsTheCoinsAndCopiesOnlyTheAddress) {
  install_win32_dialog_host();
  struct Seen {
    bool found = false;
    int lines = 0, selected = -1;
    std::wstring first, last, copied, double_clicked;
  } seen;
  std::thread driver([&] {
    HWND d = nullptr;
    for (int i = 0; i < 200 && !d; ++i, Sleep(50)) d = FindWindowW(L"#32770", L"Donate to Frelvanta");
    if (!d) return;
    seen.found = true;
    HWND list = GetDlgItem(d, ID_DONATE_LIST);
    seen.lines = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    seen.selected = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    seen.first = list_line(list, 0);
    seen.last = list_line(list, 4);
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    SendMessageW(GetDlgItem(d, ID_DONATE_COPY), BM_CLICK, 0, 0);
    seen.copied = clipboard_text();
    SendMessageW(list, LB_SETCURSEL, 2, 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(ID_DONATE_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    seen.double_clicked = clipboard_text();
    PostMessageW(d, WM_CLOSE, 0, 0);
  });
  show_donate_dialog(nullptr);
  driver.join();

  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.lines, 5);
  EXPECT_EQ(seen.selected, 0);
  EXPECT_EQ(seen.first, L"BTC: bc1test");
  EXPECT_EQ(seen.last, L"USDT (ERC20): 0xTestEth");
  EXPECT_EQ(seen.copied, L"0xTestEth") << "the address alone, not the label";
  EXPECT_EQ(seen.double_clicked, L"ltc1test");
}
