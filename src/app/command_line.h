#pragma once
// The command line: a run with arguments records once and ends with an exit
// code; a run without arguments is the interactive (tray) instance.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Fills App's command-line fields from the argument vector (index 0 is the
// executable). True when start-up continues (interactive, or a valid
// command-line run with cli_mode set); false with App.exit_code = 1 when the
// process must end. Prints nothing.
bool parse_command_line(const std::vector<std::string>& args);

// The duration conversion: C's unsigned-long parse in base 10 (leading white
// space, a sign, saturation at 4294967295, a negative number wrapping) that
// must consume the whole text. `negative` tells whether a minus sign was read.
bool parse_unsigned_exact(std::string_view text, uint32_t* value, bool* negative);

// Splits a Windows-style command line into arguments with the rules the
// system's CommandLineToArgvW applies: the first argument ends at the first
// blank, or at the closing quote when it starts with one, and nothing in it is
// unescaped; later arguments handle backslashes before quotes and doubled
// quotes. Blanks are space and tab. Empty input gives one empty argument.
std::vector<std::u16string> split_command_line(std::u16string_view line);
std::vector<std::string> split_command_line(std::string_view utf8_line);
