#include "platform/text/percent_encoding.h"

#include <gtest/gtest.h>

namespace shelvo::platform {
namespace {

TEST(PercentEncoding, TheQueryAllowedSetIsExactlyItsEightyOneCharacters) {
  const std::string allowed =
      "!$&'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
  for (int c = 0; c < 256; ++c) {
    bool expected = c < 128 && allowed.find(static_cast<char>(c)) != std::string::npos;
    EXPECT_EQ(isURLQueryAllowed(static_cast<unsigned char>(c)), expected) << c;
  }
}

TEST(PercentEncoding, EncodesUtf8BytesWithUppercaseHex) {
  const std::pair<std::string, std::string> rows[] = {
      {"https://h/apps/my app?notification=true&dock=false&progress=false",
       "https://h/apps/my%20app?notification=true&dock=false&progress=false"},
      {"100%", "100%25"},
      {"%20", "%2520"},
      {"a#b", "a%23b"},
      {"|^`{}\\\"<>", "%7C%5E%60%7B%7D%5C%22%3C%3E"},
      {"q=a+b&c=d e", "q=a+b&c=d%20e"},
      {"a b\tc\nd", "a%20b%09c%0Ad"},
      {"\u00E9", "%C3%A9"},
      {"\u20AC", "%E2%82%AC"},
      {"\U0001F600", "%F0%9F%98%80"},
      {"\x7F", "%7F"},
      {std::string(1, '\0'), "%00"},
      {"", ""},
  };
  for (const auto& [input, encoded] : rows) {
    EXPECT_EQ(addingPercentEncodingForURLQuery(input), encoded) << input;
  }
  EXPECT_FALSE(addingPercentEncodingForURLQuery("bad \xff byte")) << "not UTF-8: no URL";
}

}  // namespace
}  // namespace shelvo::platform
