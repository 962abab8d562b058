#include <gtest/gtest.h>

#include "platform/text.h"

TEST(Text, Utf16LengthAndCut) {
  EXPECT_EQ(utf16_length("abc"), 3u);
  EXPECT_EQ(utf16_length("\xc3\xa9"), 1u);          // é
  EXPECT_EQ(utf16_length("\xf0\x9f\x8e\xa5"), 2u);  // a surrogate pair
  EXPECT_EQ(utf16_truncate("a\xf0\x9f\x8e\xa5", 2), "a");  // never half a pair
  EXPECT_EQ(utf16_truncate("a\xf0\x9f\x8e\xa5", 3), "a\xf0\x9f\x8e\xa5");
  EXPECT_EQ(format_cut(4, "%s", "abcdef"), "abc");
  EXPECT_EQ(format_cut(1, "%s", "abcdef"), "");
  EXPECT_EQ(format_cut(16, "x=%d", 42), "x=42");
  EXPECT_TRUE(equals_ignore_case("--MODE", "--mode"));
  EXPECT_FALSE(equals_ignore_case("--mod", "--mode"));
}

TEST(Text, ControlCharactersAreEscaped) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"clip.tmp.mp4", "clip.tmp.mp4"},
      {"évité \\ 名前.mp4", "évité \\ 名前.mp4"},
      {"evil\r\n2099-01-01", "evil\\x0D\\x0A2099-01-01"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\t\x1f\x7f", "\\x09\\x1F\\x7F"},
  };
  for (const Case& c : cases) EXPECT_EQ(escape_control_chars(c.in), c.out) << c.out;
}
