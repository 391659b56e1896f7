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
