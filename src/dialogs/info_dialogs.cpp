#include "dialogs/info_dialogs.h"

#include "core/ui_service.h"
#include "platform/text.h"
#include "core/trace.h"
#include "dialogs/dialog_host.h"
#include "dialogs/dialog_template.h"
#include "dialogs/settings_ids.h"
#include "dialogs/update_check.h"

// Texts and links the build supplies (CMake cache variables of the same names).
#ifndef FRELVANTA_PROJECT_URL
#define FRELVANTA_PROJECT_URL ""
#endif
#ifndef FRELVANTA_CONTRIBUTOR_NAME
#define FRELVANTA_CONTRIBUTOR_NAME "the Frelvanta contributors"
#endif
#ifndef FRELVANTA_CONTRIBUTOR_URL
#define FRELVANTA_CONTRIBUTOR_URL ""
#endif
#ifndef FRELVANTA_DONATE_BTC
#define FRELVANTA_DONATE_BTC ""
#endif
#ifndef FRELVANTA_DONATE_ETH
#define FRELVANTA_DONATE_ETH ""
#endif
#ifndef FRELVANTA_DONATE_LTC
#define FRELVANTA_DONATE_LTC ""
#endif
#ifndef FRELVANTA_DONATE_SOL
#define FRELVANTA_DONATE_SOL ""
#endif

namespace {
constexpr size_t kTemplateBytes = 4096;
constexpr uint32_t kAboutStyle = kDialogStyle | DS_FIXEDSYS;

const char kLicenceNotice[] =
    "Frelvanta is free software: you can redistribute it and/or modify it under the terms of the GNU "
    "General Public License as published by the Free Software Foundation, either version 2 of the "
    "License, or (at your option) any later version. It comes with ABSOLUTELY NO WARRANTY. See the "
    "LICENSE and NOTICE files for details.\n\nThe name Frelvanta and its icon are not covered by this "
    "licence. Other product names and trademarks mentioned belong to their owners.";

// A link with no target is shown as plain text.
std::string link_text(const char* url, const char* fallback) { return url[0] ? url : fallback; }

class AboutProc : public DialogProc {
 public:
  void on_init(DialogHost&) override {}
  void on_command(DialogHost& d, int id, int code) override {
    if ((id == ID_ABOUT_ENGINE_LINK || id == ID_ABOUT_CONTRIBUTOR_LINK) && code == STN_CLICKED) {
      const char* url = id == ID_ABOUT_ENGINE_LINK ? FRELVANTA_PROJECT_URL : FRELVANTA_CONTRIBUTOR_URL;
      if (url[0]) d.open_url(url);  // the dialog stays open
    } else if (id == IDOK_COMMAND || id == IDCANCEL_COMMAND) {
      d.end_dialog(1);
    }
  }
  bool is_link(int id) const override {
    return (id == ID_ABOUT_ENGINE_LINK && FRELVANTA_PROJECT_URL[0]) ||
           (id == ID_ABOUT_CONTRIBUTOR_LINK && FRELVANTA_CONTRIBUTOR_URL[0]);
  }
};

class DonateProc : public DialogProc {
 public:
  void on_init(DialogHost& d) override {
    coins_ = donation_coins();
    bool any = false;
    for (const DonationCoin& c : coins_) {
      if (c.address.empty()) continue;
      d.list_add(ID_DONATE_LIST, format_cut(512, "%s: %s", c.label, c.address.c_str()), c.address);
      any = true;
    }
    if (any) {
      d.list_select(ID_DONATE_LIST, 0);
    } else {
      d.enable_item(ID_DONATE_COPY, false);
    }
  }
  void on_command(DialogHost& d, int id, int code) override {
    if (id == ID_DONATE_COPY || (id == ID_DONATE_LIST && code == LBN_DBLCLK)) {
      int index = d.list_selection(ID_DONATE_LIST);
      if (index < 0 || index >= d.list_count(ID_DONATE_LIST)) return;
      // Only the address goes to the clipboard, never the label.
      if (!d.copy_to_clipboard(d.list_data(ID_DONATE_LIST, index)))
        d.message_box("Failed to copy donation address to clipboard.", "Frelvanta", MB_ICONERROR);
    } else if (id == IDOK_COMMAND || id == IDCANCEL_COMMAND) {
      d.end_dialog(1);
    }
  }

 private:
  std::vector<DonationCoin> coins_;
};

class UpdateAvailableProc : public DialogProc {
 public:
  explicit UpdateAvailableProc(const UpdateResult& r)
      : version_(utf16_truncate(r.version, kUpdateVersionUnits - 1)),
        description_(utf16_truncate(r.description, kUpdateDescriptionUnits - 1)),
        url_(utf16_truncate(r.url, kUpdateUrlUnits - 1)) {}
  void on_init(DialogHost& d) override {
    d.set_item_text(ID_UPDATE_VERSION, version_);
    d.set_item_text(ID_UPDATE_DESCRIPTION, description_);
  }
  void on_command(DialogHost& d, int id, int code) override {
    if (id == ID_VIEW_UPDATE) {
      d.open_url(url_);
      d.end_dialog(1);
    } else if (id == IDOK_COMMAND || id == IDCANCEL_COMMAND || id == ID_UPDATE_CLOSE) {
      d.end_dialog(1);
    }
  }

 private:
  std::string version_, description_, url_;
};
}  // namespace

std::vector<DonationCoin> donation_coins() {
  return {{"BTC", FRELVANTA_DONATE_BTC},
          {"ETH", FRELVANTA_DONATE_ETH},
          {"LTC", FRELVANTA_DONATE_LTC},
          {"SOL", FRELVANTA_DONATE_SOL},
          {"USDT (ERC20)", FRELVANTA_DONATE_ETH}};
}

std::vector<uint8_t> build_about_template() {
  DialogTemplateWriter w(kTemplateBytes);
  w.write_header(kAboutStyle, 0, 0, 300, 264, "About Frelvanta", 9, "Segoe UI");
  w.append_dialog_item("Frelvanta", kNoControlId, ATOM_STATIC, SS_CENTER | SS_NOPREFIX, 8, 10, 284, 14);
  w.append_dialog_item("Version: 3.3.0", kNoControlId, ATOM_STATIC, SS_CENTER, 8, 24, 284, 12);
  w.append_dialog_item("Based on:", kNoControlId, ATOM_STATIC, SS_CENTER, 8, 40, 284, 12);
  w.append_dialog_item(link_text(FRELVANTA_PROJECT_URL, "the Frelvanta recording engine"), ID_ABOUT_ENGINE_LINK,
                       ATOM_STATIC, SS_CENTER | SS_NOTIFY, 8, 52, 284, 12);
  w.append_dialog_item("by the Frelvanta developers", kNoControlId, ATOM_STATIC, SS_CENTER, 8, 64, 284, 12);
  w.append_dialog_item(kLicenceNotice, kNoControlId, ATOM_STATIC, 0, 8, 82, 284, 104);
  w.append_dialog_item("Some additional features added by", kNoControlId, ATOM_STATIC, SS_CENTER, 8, 192, 284, 12);
  w.append_dialog_item(FRELVANTA_CONTRIBUTOR_NAME, kNoControlId, ATOM_STATIC, SS_CENTER, 8, 204, 284, 12);
  w.append_dialog_item(link_text(FRELVANTA_CONTRIBUTOR_URL, ""), ID_ABOUT_CONTRIBUTOR_LINK, ATOM_STATIC,
                       SS_CENTER | SS_NOTIFY, 8, 216, 284, 12);
  w.append_dialog_item("Close", ID_OK, ATOM_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP, 110, 234, 80, 16);
  if (w.failed()) return {};
  return w.finish();
}

std::vector<uint8_t> build_donate_template() {
  bool any = false;
  for (const DonationCoin& c : donation_coins()) any = any || !c.address.empty();
  DialogTemplateWriter w(kTemplateBytes);
  w.write_header(kDialogStyle, 0, 0, 244, 182, "Donate to Frelvanta", 9, "Segoe UI");
  w.append_dialog_item(any ? "Frelvanta is made in spare time. If it is useful to you, a donation helps to keep "
                             "it going. Thank you!"
                           : "This build of Frelvanta has no donation addresses. Builds that carry them list "
                             "them here.",
                       kNoControlId, ATOM_STATIC, 0, 8, 10, 228, 30);
  w.append_dialog_item("Select a coin and click Copy to copy only the address.", kNoControlId, ATOM_STATIC, 0, 8,
                       46, 228, 14);
  w.append_dialog_item("", ID_DONATE_LIST, ATOM_LISTBOX, LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 8, 68,
                       228, 88);
  w.append_dialog_item("Copy", ID_DONATE_COPY, ATOM_BUTTON, BS_PUSHBUTTON | WS_TABSTOP, 120, 160, 56, 14);
  w.append_dialog_item("Close", ID_OK, ATOM_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP, 180, 160, 56, 14);
  if (w.failed()) return {};
  return w.finish();
}

std::vector<uint8_t> build_update_available_template() {
  DialogTemplateWriter w(kTemplateBytes);
  w.write_header(kDialogStyle, 0, 0, 272, 114, "Frelvanta Update Available", 9, "Segoe UI");
  w.append_dialog_item("A newer version of Frelvanta is available.", kNoControlId, ATOM_STATIC, 0, 8, 8, 254, 14);
  w.append_dialog_item("Latest Version:", kNoControlId, ATOM_STATIC, 0, 8, 24, 74, 14);
  w.append_dialog_item("", ID_UPDATE_VERSION, ATOM_STATIC, 0, 86, 24, 176, 14);
  w.append_dialog_item("", ID_UPDATE_DESCRIPTION, ATOM_STATIC, 0, 8, 42, 254, 44);
  w.append_dialog_item("View Update", ID_VIEW_UPDATE, ATOM_BUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP, 94, 92, 76, 14);
  w.append_dialog_item("Close", ID_UPDATE_CLOSE, ATOM_BUTTON, BS_PUSHBUTTON | WS_TABSTOP, 178, 92, 64, 14);
  if (w.failed()) return {};
  return w.finish();
}

void show_about_dialog(DialogHost* owner) {
  std::vector<uint8_t> t = build_about_template();
  auto report = [owner](const char* text) {
    if (owner) owner->message_box(text, "Error", MB_ICONERROR);
    else show_message(text, "Error", MB_ICONERROR);
  };
  if (t.empty()) {
    report("About dialog template is too large.");
    return;
  }
  AboutProc proc;
  if (run_dialog(t, &proc, owner) == -1) report("Failed to create About dialog");
}

void show_donate_dialog(DialogHost* owner) {
  DonateProc proc;
  run_dialog(build_donate_template(), &proc, owner);
}

void show_update_available_dialog(DialogHost* owner, const UpdateResult& result) {
  UpdateAvailableProc proc(result);
  run_dialog(build_update_available_template(), &proc, owner);
}
