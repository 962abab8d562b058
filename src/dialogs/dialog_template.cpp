#include "dialogs/dialog_template.h"

#include "platform/text.h"

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else {
      size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
      if (need && i + need <= s.size()) {
        uint32_t v = c & (0x7F >> need);
        bool ok = true;
        for (size_t k = 1; k < need; ++k) {
          unsigned char cc = static_cast<unsigned char>(s[i + k]);
          if ((cc & 0xC0) != 0x80) { ok = false; break; }
          v = (v << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && v >= kMin[need] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
          cp = v;
          len = need;
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool DialogTemplateWriter::put16(uint16_t v) {
  if (failed_ || (capacity_ && bytes_.size() + 2 > capacity_)) return !(failed_ = true);
  bytes_.push_back(static_cast<uint8_t>(v));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
  return true;
}

bool DialogTemplateWriter::put32(uint32_t v) { return put16(static_cast<uint16_t>(v)) && put16(static_cast<uint16_t>(v >> 16)); }

bool DialogTemplateWriter::put_text(std::u16string_view text) {
  for (char16_t c : text)
    if (!put16(c)) return false;
  return put16(0);
}

bool DialogTemplateWriter::align4() {
  while (bytes_.size() % 4)
    if (!put16(0)) return false;  // sizes are always even, so 16-bit padding lands exactly
  return true;
}

bool DialogTemplateWriter::write_header(uint32_t style, int16_t x, int16_t y, int16_t width, int16_t height,
                                        std::string_view title, uint16_t point_size, std::string_view face) {
  put32(style);
  put32(0);
  put16(0);  // item count, filled in by finish()
  put16(static_cast<uint16_t>(x));
  put16(static_cast<uint16_t>(y));
  put16(static_cast<uint16_t>(width));
  put16(static_cast<uint16_t>(height));
  put16(0);  // no menu
  put16(0);  // the default dialog class
  put_text(utf8_to_utf16(utf16_truncate(title, kDialogTitleUnits - 1)));
  if (style & DS_SETFONT) {
    put16(point_size);
    put_text(utf8_to_utf16(face));
  }
  return !failed_;
}

bool DialogTemplateWriter::append_dialog_item(std::string_view text, uint16_t id, uint16_t atom, uint32_t style,
                                              int16_t x, int16_t y, int16_t width, int16_t height) {
  if (atom == ATOM_STATIC) {
    y = static_cast<int16_t>(y + 2);
    height = static_cast<int16_t>(height - 2);
  } else if (atom == ATOM_EDIT) {
    height = static_cast<int16_t>(height - 2);
  }
  align4();
  put32(style | WS_CHILD | WS_VISIBLE);
  put32(0);
  put16(static_cast<uint16_t>(x));
  put16(static_cast<uint16_t>(y));
  put16(static_cast<uint16_t>(width));
  put16(static_cast<uint16_t>(height));
  put16(id);
  put16(0xFFFF);
  put16(atom);
  put_text(utf8_to_utf16(text));
  put16(0);  // no creation data
  if (failed_) return false;
  ++count_;
  return true;
}

std::vector<uint8_t> DialogTemplateWriter::finish() {
  if (bytes_.size() >= 10) {
    bytes_[8] = static_cast<uint8_t>(count_);
    bytes_[9] = static_cast<uint8_t>(count_ >> 8);
  }
  return bytes_;
}

namespace {
struct Reader {
  const uint8_t* p;
  size_t size;
  size_t pos = 0;
  bool ok = true;
  uint16_t u16() {
    if (pos + 2 > size) { ok = false; return 0; }
    uint16_t v = static_cast<uint16_t>(p[pos] | (p[pos + 1] << 8));
    pos += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (static_cast<uint32_t>(u16()) << 16);
  }
  std::string text() {
    std::u16string s;
    for (;;) {
      uint16_t c = u16();
      if (!ok || c == 0) break;
      s.push_back(static_cast<char16_t>(c));
    }
    return utf16_to_utf8(s);
  }
  void align4() { pos = (pos + 3) & ~size_t{3}; }
};
}  // namespace

bool parse_dialog_template(const uint8_t* data, size_t size, DialogLayout* out) {
  Reader r{data, size};
  *out = DialogLayout{};
  out->style = r.u32();
  if ((out->style >> 16) == 0xFFFF) return false;  // the extended form starts with 1, 0xFFFF
  out->ex_style = r.u32();
  uint16_t count = r.u16();
  out->x = static_cast<int16_t>(r.u16());
  out->y = static_cast<int16_t>(r.u16());
  out->width = static_cast<int16_t>(r.u16());
  out->height = static_cast<int16_t>(r.u16());
  if (r.u16() != 0 || r.u16() != 0) return false;  // menus and dialog classes are not supported
  out->title = r.text();
  if (out->style & DS_SETFONT) {
    out->point_size = r.u16();
    out->face = r.text();
  }
  for (uint16_t i = 0; i < count && r.ok; ++i) {
    r.align4();
    DialogItem item;
    item.style = r.u32();
    item.ex_style = r.u32();
    item.x = static_cast<int16_t>(r.u16());
    item.y = static_cast<int16_t>(r.u16());
    item.width = static_cast<int16_t>(r.u16());
    item.height = static_cast<int16_t>(r.u16());
    item.id = r.u16();
    uint16_t cls = r.u16();
    if (cls == 0xFFFF) {
      item.atom = r.u16();
    } else {
      r.pos -= 2;
      item.class_name = r.text();
    }
    uint16_t t = r.u16();
    if (t == 0xFFFF) {
      r.u16();  // a resource ordinal as text: not used by our templates
    } else {
      r.pos -= 2;
      item.text = r.text();
    }
    uint16_t extra = r.u16();
    r.pos += extra;
    if (r.pos > size) r.ok = false;
    out->items.push_back(std::move(item));
  }
  return r.ok && out->items.size() == count;
}
