#include "dialogs/settings_template.h"

#include "dialogs/dialog_template.h"
#include "dialogs/settings_ids.h"

#ifndef FRELVANTA_REVISION
#define FRELVANTA_REVISION "unknown"
#endif

namespace {
constexpr int16_t kRowHeight = 14;
constexpr size_t kTemplateCapacity = 16384;
constexpr uint32_t kCheckStyle = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr uint32_t kButtonStyle = BS_PUSHBUTTON | WS_TABSTOP;
constexpr uint32_t kNumberStyle = ES_NUMBER | ES_RIGHT | WS_BORDER | WS_TABSTOP;
constexpr uint32_t kComboStyle = CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_TABSTOP;

void append_row(DialogTemplateWriter& w, const SettingsGroup& g, const SettingsItem& item, int16_t y) {
  const int16_t x0 = static_cast<int16_t>(g.x + 8);
  const int16_t row_width = static_cast<int16_t>(g.width - 8);
  int16_t x = x0;
  uint16_t id = item.id;
  auto rest = [&] { return static_cast<int16_t>(row_width - (x - x0)); };

  if (item.kind & ITEM_CHECKBOX) {
    bool more = (item.kind & ~uint32_t{ITEM_CHECKBOX}) != 0;
    int16_t width = more ? item.w : row_width;
    w.append_dialog_item(item.text, id, ATOM_BUTTON, kCheckStyle, x, y, width, kRowHeight);
    if (!more) return;
    x = static_cast<int16_t>(x + width + 4);
    ++id;
  } else if (item.kind & (ITEM_NUMBER | ITEM_COMBO | ITEM_SHORTCUT)) {
    w.append_dialog_item(item.text, kNoControlId, ATOM_STATIC, 0, x, y, item.w, kRowHeight);
    x = static_cast<int16_t>(x + item.w + 4);
  }
  if (item.kind & ITEM_NUMBER) {
    w.append_dialog_item("", id, ATOM_EDIT, kNumberStyle, x, y, rest(), kRowHeight);
  } else if (item.kind & ITEM_COMBO) {
    w.append_dialog_item("", id, ATOM_COMBOBOX, kComboStyle, x, y, rest(), kRowHeight);
  } else if (item.kind & ITEM_PATH) {
    w.append_dialog_item("", id, ATOM_EDIT, WS_BORDER | WS_TABSTOP, x, y, static_cast<int16_t>(g.width - 24),
                         kRowHeight);
    w.append_dialog_item("...", static_cast<uint16_t>(id + 1), ATOM_BUTTON, kButtonStyle,
                         static_cast<int16_t>(x + row_width - 12), static_cast<int16_t>(y + 1), 10, 11);
  } else if (item.kind & ITEM_BUTTON) {
    w.append_dialog_item(item.text, id, ATOM_BUTTON, kButtonStyle, x, y, item.w ? item.w : rest(), kRowHeight);
  } else if (item.kind & ITEM_SHORTCUT) {
    w.append_dialog_item("", id, ATOM_BUTTON, kButtonStyle, x, y, rest(), kRowHeight);
  }
}
}  // namespace

const std::vector<SettingsGroup> kSettingsGroups = {
    {"Capture", 0, 0, 120, 112,
     {{"&Mouse Cursor", 20, ITEM_CHECKBOX, 0},
      {"Only &Client Area", 30, ITEM_CHECKBOX, 0},
      {"Show Recording &Border", 40, ITEM_CHECKBOX, 0},
      {"Keep &Rounded Window Corners", 50, ITEM_CHECKBOX, 0},
      {"GPU &Encoder", 60, ITEM_CHECKBOX | ITEM_COMBO, 50},
      {"Start Delay (sec)", 70, ITEM_NUMBER, 76},
      {"Show Countdo&wn Overlay", 80, ITEM_CHECKBOX, 0}}},
    {"&Output", 124, 0, 154, 112,
     {{"", 100, ITEM_PATH, 0},
      {"O&pen When Finished", 110, ITEM_CHECKBOX, 0},
      {"Fragmented MP&4 (H264 only)", 120, ITEM_CHECKBOX, 0},
      {"Limit &Length (seconds)", 130, ITEM_CHECKBOX | ITEM_NUMBER, 80},
      {"Limit &Size (MB)", 140, ITEM_CHECKBOX | ITEM_NUMBER, 80}}},
    {"&Video", 0, 112, 144, 152,
     {{"Preset", 205, ITEM_COMBO, 64},
      {"&Gamma Correct Resize", 200, ITEM_CHECKBOX, 0},
      {"&Improved Color Conversion", 210, ITEM_CHECKBOX, 0},
      {"Codec", 220, ITEM_COMBO, 64},
      {"Profile", 230, ITEM_COMBO, 64},
      {"Max &Width", 240, ITEM_NUMBER, 64},
      {"Max &Height", 250, ITEM_NUMBER, 64},
      {"Max &Framerate", 260, ITEM_NUMBER, 64},
      {"Constant Frame Rate", 265, ITEM_CHECKBOX, 0},
      {"Bitrate (kbit/s)", 270, ITEM_NUMBER, 64}}},
    {"&Audio", 148, 112, 130, 152,
     {{"Capture Au&dio", 300, ITEM_CHECKBOX, 0},
      {"Applicatio&n Local Audio", 310, ITEM_CHECKBOX, 0},
      {"Codec", 320, ITEM_COMBO, 60},
      {"Channels", 330, ITEM_COMBO, 60},
      {"Samplerate", 340, ITEM_COMBO, 60},
      {"Bitrate (kbit/s)", 350, ITEM_COMBO, 60},
      {"Capture &Microphone", 360, ITEM_CHECKBOX, 0},
      {"Mic Device", 370, ITEM_COMBO, 60},
      {"Mic Volume (%)", 380, ITEM_NUMBER, 60}}},
    {"Shor&tcuts", 0, 264, 278, 70,
     {{"Capture Monitor", 400, ITEM_SHORTCUT, 64},
      {"Capture Window", 410, ITEM_SHORTCUT, 64},
      {"Capture Region", 420, ITEM_SHORTCUT, 64},
      {"Pause / Resume", 430, ITEM_SHORTCUT, 64}}},
    {"&Diagnostics", 0, 334, 278, 46,
     {{"Write &diagnostic logs (troubleshooting)", 160, ITEM_CHECKBOX, 0},
      {"Delete diagnostic logs", 161, ITEM_BUTTON, 110}}},
};

std::string settings_dialog_title() {
  return std::string("Frelvanta 3.3.0, ") + __DATE__ + " [" FRELVANTA_REVISION "]";
}

std::vector<uint8_t> build_settings_template() {
  DialogTemplateWriter w(kTemplateCapacity);
  w.write_header(kDialogStyle, 0, 0, 286, 430, settings_dialog_title(), 9, "Segoe UI");
  static const struct {
    const char* text;
    uint16_t id;
    uint32_t style;
  } kBottom[] = {{"OK", ID_OK, BS_DEFPUSHBUTTON | WS_TABSTOP},
                 {"Cancel", ID_CANCEL, kButtonStyle},
                 {"Defaults", ID_DEFAULTS, kButtonStyle},
                 {"About", ID_ABOUT, kButtonStyle},
                 {"Donate", ID_DONATE, kButtonStyle}};
  int16_t x = 10;
  for (const auto& b : kBottom) {
    w.append_dialog_item(b.text, b.id, ATOM_BUTTON, b.style, x, 408, 50, 14);
    x = static_cast<int16_t>(x + 54);
  }
  for (const SettingsGroup& g : kSettingsGroups) {
    w.append_dialog_item(g.caption, kNoControlId, ATOM_BUTTON, BS_GROUPBOX, static_cast<int16_t>(g.x + 4),
                         static_cast<int16_t>(g.y + 4), g.width, g.height);
    int16_t y = static_cast<int16_t>(g.y + 14);
    for (const SettingsItem& item : g.rows) {
      append_row(w, g, item, y);
      y = static_cast<int16_t>(y + kRowHeight);
    }
  }
  w.append_dialog_item("Check For Updates", ID_UPDATE_LINK, ATOM_STATIC, SS_NOTIFY | SS_RIGHT, 150, 388, 126, 14);
  if (w.failed()) return {};
  return w.finish();
}
