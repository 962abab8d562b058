#pragma once
#include <string_view>

// One line on the console the process was started from (standard error),
// with the line end added. Silent when there is none.
void console_write_line(std::string_view text);
