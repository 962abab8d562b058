// The templates byte by byte: the layout a dialog manager reads must be
// exactly the one the dialogs are designed for.
#include "dialogs/dialog_template.h"

#include <gtest/gtest.h>

#include "dialogs/info_dialogs.h"
#include "dialogs/settings_template.h"

namespace {
uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8)); }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | (static_cast<uint32_t>(u16(b, at + 2)) << 16); }

std::u16string text_at(const std::vector<uint8_t>& b, size_t* at) {
  std::u16string s;
  for (uint16_t c; (c = u16(b, *at)) != 0; *at += 2) s.push_back(c);
  *at += 2;
  return s;
}

struct RawItem {
  size_t offset;
  uint32_t style;
  int16_t x, y, w, h;
  uint16_t id, atom;
  std::u16string text;
};

struct RawTemplate {
  uint32_t style;
  uint16_t count;
  int16_t x, y, w, h;
  std::u16string title, face;
  uint16_t points = 0;
  std::vector<RawItem> items;
  size_t end = 0;
};

// Walks the bytes by the format's own rules, independently of the reader the
// dialog host uses.
RawTemplate walk(const std::vector<uint8_t>& b) {
  RawTemplate t;
  t.style = u32(b, 0);
  EXPECT_EQ(u32(b, 4), 0u) << "extended style";
  t.count = u16(b, 8);
  t.x = static_cast<int16_t>(u16(b, 10));
  t.y = static_cast<int16_t>(u16(b, 12));
  t.w = static_cast<int16_t>(u16(b, 14));
  t.h = static_cast<int16_t>(u16(b, 16));
  EXPECT_EQ(u16(b, 18), 0) << "menu";
  EXPECT_EQ(u16(b, 20), 0) << "class";
  size_t at = 22;
  t.title = text_at(b, &at);
  t.points = u16(b, at);
  at += 2;
  t.face = text_at(b, &at);
  for (int i = 0; i < t.count; ++i) {
    at = (at + 3) & ~size_t{3};
    RawItem it;
    it.offset = at;
    it.style = u32(b, at);
    EXPECT_EQ(u32(b, at + 4), 0u);
    it.x = static_cast<int16_t>(u16(b, at + 8));
    it.y = static_cast<int16_t>(u16(b, at + 10));
    it.w = static_cast<int16_t>(u16(b, at + 12));
    it.h = static_cast<int16_t>(u16(b, at + 14));
    it.id = u16(b, at + 16);
    EXPECT_EQ(u16(b, at + 18), 0xFFFF) << "class by atom";
    it.atom = u16(b, at + 20);
    at += 22;
    it.text = text_at(b, &at);
    EXPECT_EQ(u16(b, at), 0) << "creation data";
    at += 2;
    t.items.push_back(it);
  }
  t.end = at;
  return t;
}

const RawItem* find_id(const RawTemplate& t, uint16_t id) {
  for (const RawItem& i : t.items)
    if (i.id == id) return &i;
  return nullptr;
}

constexpr uint32_t kChildVisible = 0x50000000;
}  // namespace

TEST(SettingsTemplate, HeaderTitleAndFont) {
  std::vector<uint8_t> b = build_settings_template();
  RawTemplate t = walk(b);
  EXPECT_EQ(t.style, 0x80C808C0u);
  // The 70 controls of the layout and the "Constant Frame Rate" check box.
  EXPECT_EQ(t.count, 71);
  EXPECT_EQ(t.items.size(), 71u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.w, 286);
  EXPECT_EQ(t.h, 430);
  EXPECT_EQ(t.points, 9);
  EXPECT_EQ(t.face, u"Segoe UI");
  // "Frelvanta 3.3.0, Mmm dd yyyy [revision]"
  std::string title = utf16_to_utf8(t.title);
  ASSERT_EQ(title.rfind("Frelvanta 3.3.0, ", 0), 0u) << title;
  EXPECT_EQ(title.size() >= 17 + 11 + 3, true);
  EXPECT_EQ(title[17 + 11], ' ');
  EXPECT_EQ(title[17 + 12], '[');
  EXPECT_EQ(title.back(), ']');
  EXPECT_EQ(t.end, b.size()) << "nothing after the last item";
  for (const RawItem& i : t.items) EXPECT_EQ(i.offset % 4, 0u) << "item " << i.id;
}

TEST(SettingsTemplate, ItemOrderClassesAndStyles) {
  RawTemplate t = walk(build_settings_template());
  // The five bottom buttons come first, 50 x 14 at y 408.
  const uint16_t bottom[5] = {1, 2, 3, 1050, 1051};
  const char16_t* texts[5] = {u"OK", u"Cancel", u"Defaults", u"About", u"Donate"};
  for (int i = 0; i < 5; ++i) {
    const RawItem& it = t.items[i];
    EXPECT_EQ(it.id, bottom[i]);
    EXPECT_EQ(it.text, texts[i]);
    EXPECT_EQ(it.atom, ATOM_BUTTON);
    EXPECT_EQ(it.x, 10 + 54 * i);
    EXPECT_EQ(it.y, 408);
    EXPECT_EQ(it.w, 50);
    EXPECT_EQ(it.h, 14);
    EXPECT_EQ(it.style, kChildVisible | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON));
  }
  // Then the "Capture" group box with the group's size at (x + 4, y + 4).
  const RawItem& box = t.items[5];
  EXPECT_EQ(box.text, u"Capture");
  EXPECT_EQ(box.id, 0xFFFF);
  EXPECT_EQ(box.style, kChildVisible | BS_GROUPBOX);
  EXPECT_EQ(box.x, 4);
  EXPECT_EQ(box.y, 4);
  EXPECT_EQ(box.w, 120);
  EXPECT_EQ(box.h, 112);
  // The link closes the list.
  const RawItem& link = t.items.back();
  EXPECT_EQ(link.id, 1056);
  EXPECT_EQ(link.atom, ATOM_STATIC);
  EXPECT_EQ(link.style, kChildVisible | SS_NOTIFY | SS_RIGHT);
  EXPECT_EQ(link.text, u"Check For Updates");
  EXPECT_EQ(link.x, 150);
  EXPECT_EQ(link.y, 390);
  EXPECT_EQ(link.w, 126);
  EXPECT_EQ(link.h, 12);

  int groups = 0, labels = 0;
  for (const RawItem& i : t.items) {
    if (i.atom == ATOM_BUTTON && (i.style & BS_TYPEMASK) == BS_GROUPBOX) ++groups;
    if (i.atom == ATOM_STATIC && i.id == 0xFFFF) {
      ++labels;
      EXPECT_EQ(i.style, kChildVisible) << "labels have style 0";
      EXPECT_EQ(i.h, 12);
    }
  }
  EXPECT_EQ(groups, 6);
  EXPECT_EQ(labels, 18);

  struct Expect {
    uint16_t id, atom;
    uint32_t style;
  } styles[] = {
      {20, ATOM_BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP},
      {61, ATOM_COMBOBOX, CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_TABSTOP},
      {70, ATOM_EDIT, ES_NUMBER | ES_RIGHT | WS_BORDER | WS_TABSTOP},
      {100, ATOM_EDIT, WS_BORDER | WS_TABSTOP},
      {101, ATOM_BUTTON, BS_PUSHBUTTON | WS_TABSTOP},
      {131, ATOM_EDIT, ES_NUMBER | ES_RIGHT | WS_BORDER | WS_TABSTOP},
      {161, ATOM_BUTTON, BS_PUSHBUTTON | WS_TABSTOP},
      {370, ATOM_COMBOBOX, CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_TABSTOP},
      {400, ATOM_BUTTON, BS_PUSHBUTTON | WS_TABSTOP},
  };
  for (const Expect& e : styles) {
    const RawItem* i = find_id(t, e.id);
    ASSERT_NE(i, nullptr) << e.id;
    EXPECT_EQ(i->atom, e.atom) << e.id;
    EXPECT_EQ(i->style, kChildVisible | e.style) << e.id;
  }
  EXPECT_EQ(find_id(t, 400)->text, u"") << "shortcut buttons have no text of their own";
}

TEST(SettingsTemplate, WorkedPositions) {
  RawTemplate t = walk(build_settings_template());
  struct Pos {
    uint16_t id;
    int16_t x, y, w, h;
  } cases[] = {
      {60, 8, 70, 50, 14},     // "GPU &Encoder" check box
      {61, 62, 70, 58, 14},    // its combo
      {70, 88, 84, 32, 12},    // "Start Delay (sec)" edit
      {100, 132, 14, 130, 12}, // output folder edit
      {101, 266, 15, 10, 11},  // its "..." button
      {130, 132, 56, 80, 14},  // "Limit &Length" check box
      {131, 216, 56, 62, 12},  // its edit
      {161, 8, 362, 110, 14},  // "Delete diagnostic logs"
      {205, 76, 126, 68, 14},  // preset combo
      {265, 8, 238, 136, 14},  // "Constant Frame Rate", below "Max &Framerate"
      {270, 76, 252, 68, 12},  // the bit rate edit one row further down, still in its group
      {380, 220, 238, 58, 12}, // mic volume edit
      {400, 76, 278, 202, 14}, // first shortcut button
      {430, 76, 320, 202, 14}, // last shortcut button
  };
  for (const Pos& p : cases) {
    const RawItem* i = find_id(t, p.id);
    ASSERT_NE(i, nullptr) << p.id;
    EXPECT_EQ(i->x, p.x) << p.id;
    EXPECT_EQ(i->y, p.y) << p.id;
    EXPECT_EQ(i->w, p.w) << p.id;
    EXPECT_EQ(i->h, p.h) << p.id;
  }
  // The "Start Delay (sec)" label: 2 units lower and 2 shorter than its row.
  bool found = false;
  for (const RawItem& i : t.items) {
    if (i.text == u"Start Delay (sec)") {
      found = true;
      EXPECT_EQ(i.x, 8);
      EXPECT_EQ(i.y, 86);
      EXPECT_EQ(i.w, 76);
      EXPECT_EQ(i.h, 12);
    }
  }
  EXPECT_TRUE(found);
}

TEST(SmallTemplates, HeadersAndItems) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint32_t style;
    uint16_t count;
    int16_t w, h;
    const char16_t* title;
  } cases[] = {
      {build_about_template(), 0x80C808C8, 10, 300, 264, u"About Frelvanta"},
      {build_donate_template(), 0x80C808C0, 5, 244, 182, u"Donate to Frelvanta"},
      {build_update_available_template(), 0x80C808C0, 6, 272, 114, u"Frelvanta Update Available"},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.bytes.empty());
    RawTemplate t = walk(c.bytes);
    EXPECT_EQ(t.style, c.style) << utf16_to_utf8(c.title);
    EXPECT_EQ(t.count, c.count);
    EXPECT_EQ(t.w, c.w);
    EXPECT_EQ(t.h, c.h);
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(t.points, 9);
    EXPECT_EQ(t.face, u"Segoe UI");
    EXPECT_EQ(t.end, c.bytes.size());
    EXPECT_LE(c.bytes.size(), 4096u);
  }
  RawTemplate about = walk(build_about_template());
  const RawItem* link = find_id(about, 1054);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->style, kChildVisible | SS_CENTER | SS_NOTIFY);
  EXPECT_EQ(link->y, 54);  // given 52, placed 2 lower
  EXPECT_EQ(link->h, 10);
  EXPECT_EQ(about.items[0].style, kChildVisible | SS_CENTER | SS_NOPREFIX);
  EXPECT_EQ(about.items[5].h, 102) << "licence notice";
  EXPECT_EQ(about.items[9].id, 1);
  EXPECT_EQ(about.items[9].text, u"Close");

  RawTemplate donate = walk(build_donate_template());
  const RawItem* list = find_id(donate, 1052);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->atom, ATOM_LISTBOX);
  EXPECT_EQ(list->style, kChildVisible | LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP);
  EXPECT_EQ(list->h, 88) << "list boxes keep their height";

  RawTemplate update = walk(build_update_available_template());
  EXPECT_EQ(find_id(update, 1057)->style, kChildVisible | BS_DEFPUSHBUTTON | WS_TABSTOP);
  EXPECT_EQ(find_id(update, 1060)->y, 44);
  EXPECT_EQ(find_id(update, 1060)->h, 42);
}

TEST(TemplateWriter, Utf16TextsCapacityAndReadBack) {
  DialogTemplateWriter w(0);
  // Non-ASCII text becomes UTF-16, a character outside the BMP a surrogate
  // pair; the title is cut to 127 units without splitting a pair.
  std::string long_title(126, 'x');
  long_title += "\xF0\x9F\x98\x80";  // U+1F600 needs two units: only 126 fit
  w.write_header(kDialogStyle, 0, 0, 10, 10, long_title, 9, "Segoe UI");
  w.append_dialog_item("Caf\xC3\xA9 \xF0\x9F\x98\x80", 7, ATOM_STATIC, 0, 1, 2, 3, 4);
  w.append_dialog_item("", 8, ATOM_EDIT, 0, 0, 0, 5, 14);
  std::vector<uint8_t> b = w.finish();
  RawTemplate t = walk(b);
  EXPECT_EQ(t.title, std::u16string(126, u'x'));
  EXPECT_EQ(t.items[0].text, u"Caf\u00E9 \U0001F600");
  EXPECT_EQ(t.items[0].y, 4);
  EXPECT_EQ(t.items[0].h, 2);
  EXPECT_EQ(t.items[1].text, u"") << "an empty text is one zero unit";
  EXPECT_EQ(t.items[1].h, 12);

  DialogLayout layout;
  ASSERT_TRUE(parse_dialog_template(b.data(), b.size(), &layout));
  EXPECT_EQ(layout.items[0].text, "Caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_FALSE(parse_dialog_template(b.data(), b.size() - 3, &layout)) << "a cut template is refused";

  // A writer with a fixed buffer refuses what does not fit and stays failed.
  DialogTemplateWriter small(64);
  EXPECT_TRUE(small.write_header(kDialogStyle, 0, 0, 1, 1, "T", 9, "Segoe UI"));
  EXPECT_FALSE(small.append_dialog_item(std::string(40, 'y'), 1, ATOM_BUTTON, 0, 0, 0, 1, 1));
  EXPECT_TRUE(small.failed());
  EXPECT_FALSE(small.append_dialog_item("", 2, ATOM_BUTTON, 0, 0, 0, 1, 1));
}
