#include "platform/text/percent_encoding.h"

#include "platform/text/utf8.h"

namespace shelvo::platform {
namespace {

constexpr std::string_view kURLQueryAllowed =
    "!$&'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";

template <typename Allowed>
void appendPercentEncoded(std::string& out, std::string_view text, Allowed allowed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char byte : text) {
    if (allowed(byte)) {
      out.push_back(static_cast<char>(byte));
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
}

}  // namespace

bool isURLQueryAllowed(unsigned char byte) {
  return byte < 0x80 && kURLQueryAllowed.find(static_cast<char>(byte)) != std::string_view::npos;
}

std::optional<std::string> removingPercentEncoding(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hex(text[i + 1]);
    int low = hex(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!isValidUtf8(decoded)) return std::nullopt;
  return decoded;
}

std::optional<std::string> addingPercentEncodingForURLQuery(std::string_view text) {
  if (!isValidUtf8(text)) return std::nullopt;
  std::string encoded;
  encoded.reserve(text.size());
  appendPercentEncoded(encoded, text, isURLQueryAllowed);
  return encoded;
}

std::string fileURLForPath(std::string_view path, bool isFolder) {
  std::string url = "file://";
  appendPercentEncoded(url, path, [](unsigned char byte) {
    return isURLQueryAllowed(byte) && byte != ';' && byte != '?';
  });
  if (isFolder && url.back() != '/') url.push_back('/');
  return url;
}

}  // namespace shelvo::platform
