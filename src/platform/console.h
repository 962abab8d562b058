#pragma once
#include <string_view>

// One line on the console the process was started from (standard error),
// with the line end added. Silent when there is none.
void console_write_line(std::string_view text);

// A command-line run joins the console of the program that started it, so
// its lines reach the user there. Nothing to do where every process already
// has its standard streams.
void console_attach();
