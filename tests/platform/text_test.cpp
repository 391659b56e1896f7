// The text codecs: UTF-8 checks and the chunker, Base64, and percent encoding for URLs.
#include <gtest/gtest.h>

#include "platform/text/base64.h"
#include "platform/text/percent_encoding.h"
#include "platform/text/utf8.h"
#include "platform/text/utf8_chunker.h"

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
      {"\034abc\036", "\034abc\036"},
      {"a\nb", "a\nb"},
      {"\n\n", ""},
      {"\r\n", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(trimNewlines(row.input), row.trimmed) << row.input;
}

// Long texts take the vector paths: a byte anywhere in them is found.
TEST(Utf8, LongTextsAreCheckedToTheLastByte) {
  std::string text(1000, 'a');
  EXPECT_TRUE(isValidUtf8(text));
  EXPECT_TRUE(isValidUtf8(text + "\u00e9" + text));
  EXPECT_EQ(leadingAsciiWithoutNul(text), 1000u);
  for (std::size_t position : {std::size_t{0}, std::size_t{63}, std::size_t{64}, std::size_t{255},
                               std::size_t{256}, std::size_t{300}, std::size_t{999}}) {
    for (char other : {'\0', '\x80', '\xff'}) {
      std::string broken = text;
      broken[position] = other;
      EXPECT_EQ(leadingAsciiWithoutNul(broken), position) << position << " " << int(other);
      EXPECT_EQ(isValidUtf8(broken), other == '\0') << position << " " << int(other);
    }
  }
}

std::vector<std::string> chunks(const std::vector<std::string>& reads) {
  Utf8Chunker chunker;
  std::vector<std::string> out;
  for (const auto& read : reads) out.emplace_back(chunker.next(read));
  return out;
}

TEST(Utf8Chunker, ACharacterSplitBetweenReadsJoinsTheNextChunk) {
  EXPECT_EQ(chunks({"ab\xE2\x82", "\xAC!"}), (std::vector<std::string>{"ab", "\xE2\x82\xAC!"}));
  EXPECT_EQ(chunks({"\xF0", "\x9F", "\x98", "\x80."}),
            (std::vector<std::string>{"", "", "", "\xF0\x9F\x98\x80."}));
}

TEST(Utf8Chunker, OnlyTheBytesThatAreInvalidAreLost) {
  // The carried lead byte is never completed: it alone is dropped.
  EXPECT_EQ(chunks({"abc\xE2", "hello", "world"}),
            (std::vector<std::string>{"abc", "hello", "world"}));
  EXPECT_EQ(chunks({"abc\xE2\x82", "x", "y"}), (std::vector<std::string>{"abc", "x", "y"}));
  // A read too short to complete the character, and not its continuation, is not carried.
  EXPECT_EQ(chunks({"a\xE2", "b", "cd"}), (std::vector<std::string>{"a", "b", "cd"}));
  // A read that is invalid in itself yields nothing, and costs the next read nothing.
  EXPECT_EQ(chunks({"a\xFF"
                    "b",
                    "c"}),
            (std::vector<std::string>{"", "c"}));
  // A carried start followed by a read that starts a character of its own.
  EXPECT_EQ(chunks({"x\xE2", "\xC3\xA9"}), (std::vector<std::string>{"x", "\xC3\xA9"}));
}

TEST(Base64, DecodesLikeThePlatformWithNoOptions) {
  struct Row {
    std::string input;
    std::optional<std::string> decoded;
  };
  // Unused low bits are not checked ("QR=="); only the last group may be completed, by one or
  // two "=".
  const Row rows[] = {
      {"", std::string()}, {"QQ==", "A"},         {"QUI=", "AB"},
      {"QUJD", "ABC"},     {"SGVsbG8=", "Hello"}, {"+/8=", "\xfb\xff"},
      {"QR==", "A"},       {"SGVsbG8", {}},       {"QQ", {}},
      {"QQ=", {}},         {"SGVs bG8=", {}},     {"SGVs\nbG8=", {}},
      {"SGVsbG8=\n", {}},  {"SGVsbG8=\r\n", {}},  {" SGVsbG8=", {}},
      {"-_8=", {}},        {"____", {}},          {"QQ==QUJD", {}},
      {"QUJ=RA==", {}},    {"\xc3\xa9QQ=", {}},   {"SGVsbG8==", {}},
      {"QQ===", {}},       {"QUJD=", {}},         {"QQ=Q", {}},
      {"====", {}},        {"AAAA====", {}},      {"AA" + std::string(34, '='), {}},
      {"Q===", {}},
  };
  for (const auto& row : rows) EXPECT_EQ(decodeBase64(row.input), row.decoded) << row.input;
}

// Long texts take the vector path: a fault anywhere in them must still be found.
TEST(Base64, LongTextsDecodeExactlyAndRefuseABadByteAnywhere) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));
  std::string text = encodeBase64(bytes);
  EXPECT_EQ(decodeBase64(text), bytes);
  for (std::size_t position :
       {std::size_t{0}, std::size_t{31}, std::size_t{32}, std::size_t{63}, std::size_t{64},
        std::size_t{127}, std::size_t{128}, std::size_t{255}, std::size_t{256}, std::size_t{1000},
        text.size() - 40, text.size() - 5}) {
    for (char bad : {'\n', ' ', '-', '=', '\x80'}) {
      std::string broken = text;
      broken[position] = bad;
      EXPECT_FALSE(decodeBase64(broken)) << position << " " << int(bad);
    }
  }
  // Every length up to a few vector steps, so each step's end falls everywhere.
  EXPECT_EQ(encodeBase64("Hello"), "SGVsbG8=");
  for (std::size_t size = 0; size < 400; ++size) {
    EXPECT_EQ(decodeBase64(encodeBase64(bytes.substr(0, size))), bytes.substr(0, size)) << size;
  }
  EXPECT_EQ(decodeBase64(encodeBase64(bytes.substr(0, 2999))), bytes.substr(0, 2999));
}

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
