#include <gtest/gtest.h>

#include "rtl/System.h"

using namespace ktinet;

TEST(StringConversions, Utf8RoundTripsEveryPlane) {
  std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  String s = UTF8ToString(utf8);
  ASSERT_EQ(s.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(s[1], u'\u00E9');
  EXPECT_EQ(s[2], u'\u20AC');
  EXPECT_EQ(s[3], 0xD83D);
  EXPECT_EQ(s[4], 0xDE00);
  EXPECT_EQ(UTF8Encode(s), utf8);
}

TEST(StringConversions, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(UTF8ToString("\xC3"), u"\uFFFD");
  EXPECT_EQ(UTF8ToString("\xC0\xAF"), u"\uFFFD\uFFFD");         // overlong
  EXPECT_EQ(UTF8ToString("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(UTF8Encode(String(1, 0xD800)), "\xEF\xBF\xBD");        // lone surrogate
}

TEST(StringConversions, BytesKeepEveryValueIncludingZero) {
  std::string bytes("\x00\x7F\x80\xFF", 4);
  String s = BytesToString(bytes);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[3], 0xFF);
  EXPECT_EQ(StringToBytes(s), bytes);
  EXPECT_EQ(StringToBytes(u"\u0141"), "\x41");  // low 8 bits only
}

TEST(StringConversions, Windows1252BothWays) {
  EXPECT_EQ(AnsiToString("\x80\x99\xE9"), u"\u20AC\u2122\u00E9");
  EXPECT_EQ(StringToAnsi(u"\u20AC\u2122\u00E9"), "\x80\x99\xE9");
  EXPECT_EQ(StringToAnsi(u"\u4E2D", '?'), "?");
  EXPECT_EQ(AnsiToString("\x81"), u"\u0081");  // undefined positions map to themselves
}
