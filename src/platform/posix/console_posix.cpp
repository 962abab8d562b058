#include "platform/console.h"

#include <unistd.h>

#include <string>

void console_write_line(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  size_t off = 0;
  while (off < line.size()) {
    ssize_t w = write(STDERR_FILENO, line.data() + off, line.size() - off);
    if (w <= 0) return;
    off += static_cast<size_t>(w);
  }
}

void console_attach() {}
