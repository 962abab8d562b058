#pragma once
// Text is UTF-8 inside the program; limits stated in UTF-16 units (buffer
// capacities, path lengths) are counted and cut here, in one place.
#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 code units needed for the UTF-8 text (invalid bytes count as one unit).
size_t utf16_length(std::string_view utf8);

// The longest prefix that fits in `max_units` UTF-16 units, never splitting a
// character.
std::string utf16_truncate(std::string_view utf8, size_t max_units);

// printf-style formatting into a buffer of `capacity` UTF-16 units including
// the terminator: the result holds at most capacity - 1 units, cut at the end.
std::string format_cut(size_t capacity, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// ASCII case-insensitive comparison (ordinal, as identifiers and option
// names are compared).
bool equals_ignore_case(std::string_view a, std::string_view b);

// The text with every control character (below 0x20, and 0x7F) written as
// "\xHH", so that a name taken from the file system cannot end a line of a
// log or start a forged one. Other text is returned unchanged.
std::string escape_control_chars(std::string_view text);
