#include "platform/text/percent_encoding.h"

#include "platform/text/utf8.h"

namespace shelvo::platform {
namespace {

constexpr std::string_view kURLQueryAllowed =
    "!$&'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";

}  // namespace

bool isURLQueryAllowed(unsigned char byte) {
  return byte < 0x80 && kURLQueryAllowed.find(static_cast<char>(byte)) != std::string_view::npos;
}

std::optional<std::string> addingPercentEncodingForURLQuery(std::string_view text) {
  if (!isValidUtf8(text)) return std::nullopt;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (unsigned char byte : text) {
    if (isURLQueryAllowed(byte)) {
      encoded.push_back(static_cast<char>(byte));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0xF]);
    }
  }
  return encoded;
}

}  // namespace shelvo::platform
