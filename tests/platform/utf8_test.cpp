#include "platform/text/utf8.h"

#include <gtest/gtest.h>

namespace shelvo::platform {
namespace {

TEST(Utf8, ValidityFollowsTheStrictDecoder) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain ascii text that is longer than eight bytes"));
  EXPECT_TRUE(isValidUtf8("é € 😀 \xF4\x8F\xBF\xBF"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF")) << "overlong";
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF")) << "overlong";
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")) << "surrogate";
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")) << "above U+10FFFF";
  EXPECT_FALSE(isValidUtf8("abc\xff"));
  EXPECT_FALSE(isValidUtf8("\xC3")) << "cut short";
}

TEST(Utf8, IncompleteSuffixIsOnlyAValidCharacterStart) {
  EXPECT_EQ(incompleteUtf8Suffix("abc"), 0u);
  EXPECT_EQ(incompleteUtf8Suffix("ab\xC3"), 1u);
  EXPECT_EQ(incompleteUtf8Suffix("ab\xE2\x82"), 2u);
  EXPECT_EQ(incompleteUtf8Suffix("ab\xF0\x9F\x98"), 3u);
  EXPECT_EQ(incompleteUtf8Suffix("ab\xE2\x82\xAC"), 0u) << "complete euro sign";
  EXPECT_EQ(incompleteUtf8Suffix("ab\xE0\x80"), 0u) << "an overlong start never completes";
  EXPECT_EQ(incompleteUtf8Suffix("ab\xFF"), 0u);
  EXPECT_EQ(incompleteUtf8Suffix("\x80\x80\x80"), 0u);
}

TEST(Utf8, TrimsOnlyThePlatformsNewlines) {
  struct Row {
    std::string_view input;
    std::string_view trimmed;
  };
  const Row rows[] = {
      {"\n\r\nabc\r\n", "abc"},
      {"\u0085abc\u2028", "abc"},
      {"\u2029abc\x0B\x0C", "abc"},
      {" abc\n", " abc"},
      {"\tabc\n", "\tabc"},
      {"abc\n\u00A0", "abc\n\u00A0"},
      {"\x1C"
       "abc\x1E",
       "\x1C"
       "abc\x1E"},
      {"a\nb", "a\nb"},
      {"\n\n", ""},
      {"\r\n", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(trimNewlines(row.input), row.trimmed) << row.input;
}

}  // namespace
}  // namespace shelvo::platform

namespace shelvo::platform {
namespace {

TEST(Utf8, LongTextsAreCheckedToTheLastByte) {
  std::string text(1000, 'a');
  EXPECT_TRUE(isValidUtf8(text));
  for (std::size_t position :
       {std::size_t{0}, std::size_t{63}, std::size_t{64}, std::size_t{999}}) {
    std::string broken = text;
    broken[position] = '\xff';
    EXPECT_FALSE(isValidUtf8(broken)) << position;
  }
  EXPECT_TRUE(isValidUtf8(text + "\u00e9" + text));
}

}  // namespace
}  // namespace shelvo::platform
