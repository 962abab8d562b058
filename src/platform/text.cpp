#include "platform/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
// Length in bytes of the UTF-8 sequence starting with `lead`, and its UTF-16 units.
void sequence_info(unsigned char lead, size_t* bytes, size_t* units) {
  if (lead < 0x80) { *bytes = 1; *units = 1; }
  else if ((lead & 0xE0) == 0xC0) { *bytes = 2; *units = 1; }
  else if ((lead & 0xF0) == 0xE0) { *bytes = 3; *units = 1; }
  else if ((lead & 0xF8) == 0xF0) { *bytes = 4; *units = 2; }
  else { *bytes = 1; *units = 1; }
}
}  // namespace

size_t utf16_length(std::string_view s) {
  size_t units = 0;
  for (size_t i = 0; i < s.size();) {
    size_t b, u;
    sequence_info(static_cast<unsigned char>(s[i]), &b, &u);
    if (i + b > s.size()) b = s.size() - i;
    i += b;
    units += u;
  }
  return units;
}

std::string utf16_truncate(std::string_view s, size_t max_units) {
  size_t units = 0, i = 0;
  while (i < s.size()) {
    size_t b, u;
    sequence_info(static_cast<unsigned char>(s[i]), &b, &u);
    if (i + b > s.size()) b = s.size() - i;
    if (units + u > max_units) break;
    units += u;
    i += b;
  }
  return std::string(s.substr(0, i));
}

std::string format_cut(size_t capacity, const char* fmt, ...) {
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  std::string out;
  if (n < 0) {
    va_end(ap2);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, ap2);
    out.assign(big.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  if (capacity == 0) return {};
  return utf16_length(out) <= capacity - 1 ? out : utf16_truncate(out, capacity - 1);
}

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string escape_control_chars(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}
