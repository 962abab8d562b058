#pragma once
// In-memory dialog templates in the classic binary layout (a DLGTEMPLATE
// header followed by 4-byte aligned DLGITEMTEMPLATE items), so that the same
// bytes can be handed to the Windows dialog manager or read back by another
// dialog host. Texts are UTF-8 here and stored as UTF-16 in the template.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Window and dialog styles.
constexpr uint32_t WS_POPUP = 0x80000000;
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_CAPTION = 0x00C00000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_SYSMENU = 0x00080000;
constexpr uint32_t WS_TABSTOP = 0x00010000;
constexpr uint32_t DS_FIXEDSYS = 0x0008;
constexpr uint32_t DS_SETFONT = 0x0040;
constexpr uint32_t DS_MODALFRAME = 0x0080;
constexpr uint32_t DS_CENTER = 0x0800;
constexpr uint32_t kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT;

// Control styles.
constexpr uint32_t BS_PUSHBUTTON = 0x0;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t BS_AUTOCHECKBOX = 0x3;
constexpr uint32_t BS_GROUPBOX = 0x7;
constexpr uint32_t BS_TYPEMASK = 0xF;
constexpr uint32_t ES_RIGHT = 0x2;
constexpr uint32_t ES_NUMBER = 0x2000;
constexpr uint32_t SS_CENTER = 0x1;
constexpr uint32_t SS_RIGHT = 0x2;
constexpr uint32_t SS_NOPREFIX = 0x80;
constexpr uint32_t SS_NOTIFY = 0x100;
constexpr uint32_t CBS_DROPDOWNLIST = 0x3;
constexpr uint32_t CBS_HASSTRINGS = 0x200;
constexpr uint32_t LBS_NOTIFY = 0x1;

// Predefined control classes, named by atom.
constexpr uint16_t ATOM_BUTTON = 0x0080;
constexpr uint16_t ATOM_EDIT = 0x0081;
constexpr uint16_t ATOM_STATIC = 0x0082;
constexpr uint16_t ATOM_LISTBOX = 0x0083;
constexpr uint16_t ATOM_COMBOBOX = 0x0085;

constexpr uint16_t kNoControlId = 0xFFFF;  // labels and group boxes
constexpr size_t kDialogTitleUnits = 128;  // title capacity including the terminator

// UTF-8 to UTF-16 and back; malformed input becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// Writes a template into a buffer of fixed capacity (0: unbounded). Every
// write checks the capacity; once one does not fit the writer stays failed.
class DialogTemplateWriter {
 public:
  explicit DialogTemplateWriter(size_t capacity = 0) : capacity_(capacity) {}
  // Header, menu and class (none), title, and the font when `style` has
  // DS_SETFONT. The item count is filled in by finish().
  bool write_header(uint32_t style, int16_t x, int16_t y, int16_t width, int16_t height, std::string_view title,
                    uint16_t point_size, std::string_view face);
  // One item at the next 4-byte boundary. Statics are placed 2 units lower
  // and made 2 units shorter, edits 2 units shorter, so that a label sits on
  // the text line of the control beside it.
  bool append_dialog_item(std::string_view text, uint16_t id, uint16_t atom, uint32_t style, int16_t x, int16_t y,
                          int16_t width, int16_t height);
  // Writes the item count into the header and returns the bytes.
  std::vector<uint8_t> finish();
  bool failed() const { return failed_; }
  uint16_t item_count() const { return count_; }

 private:
  bool put16(uint16_t v);
  bool put32(uint32_t v);
  bool put_text(std::u16string_view text);
  bool align4();

  std::vector<uint8_t> bytes_;
  size_t capacity_;
  uint16_t count_ = 0;
  bool failed_ = false;
};

// A template read back by a dialog host.
struct DialogItem {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, width = 0, height = 0;
  uint16_t id = 0;
  uint16_t atom = 0;  // 0 when the class is named by a string
  std::string class_name;
  std::string text;
};

struct DialogLayout {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, width = 0, height = 0;
  std::string title;
  uint16_t point_size = 0;
  std::string face;
  std::vector<DialogItem> items;
};

// False when the bytes end early or hold something this reader does not know
// (a menu, a dialog class, the extended template form).
bool parse_dialog_template(const uint8_t* data, size_t size, DialogLayout* out);
