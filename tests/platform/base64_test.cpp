#include "platform/text/base64.h"

#include <gtest/gtest.h>

namespace shelvo::platform {
namespace {

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

}  // namespace
}  // namespace shelvo::platform
