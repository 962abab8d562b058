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
