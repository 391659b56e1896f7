#include "platform/text/base64.h"

#include <array>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace shelvo::platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = 0xFE;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  table['='] = kPad;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = makeDecodeTable();

#if defined(__x86_64__)
// Decodes 32 characters at a time with AVX2 (the nibble-lookup method): returns how many input
// characters it consumed, always whole blocks of 32, stopping before the last four characters
// (which may hold padding) and at the first block holding anything outside the alphabet.
// out must have room for 8 bytes beyond what it writes.
__attribute__((target("avx2"))) std::size_t decodeBlocksAvx2(const unsigned char* in,
                                                             std::size_t size, unsigned char* out) {
  const __m256i lutLow =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                       0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lutHigh =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m256i lutRoll =
      _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                       -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i mask2F = _mm256_set1_epi8(0x2F);
  const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                        1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  std::size_t consumed = 0;
  while (size - consumed >= 32 + 4) {
    __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + consumed));
    __m256i highNibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), mask2F);
    __m256i lowNibbles = _mm256_and_si256(text, mask2F);
    __m256i high = _mm256_shuffle_epi8(lutHigh, highNibbles);
    __m256i low = _mm256_shuffle_epi8(lutLow, lowNibbles);
    if (!_mm256_testz_si256(low, high)) break;  // a byte outside the alphabet: the slow path
    __m256i isSlash = _mm256_cmpeq_epi8(text, mask2F);
    __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(isSlash, highNibbles));
    __m256i values = _mm256_add_epi8(text, roll);
    __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(groups, pack), lanes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    out += 24;
    consumed += 32;
  }
  return consumed;
}

bool hasAvx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}
#endif

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.resize(text.size() / 4 * 3 + 32);  // slack for the vector stores
  auto* out = reinterpret_cast<unsigned char*>(bytes.data());
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
#if defined(__x86_64__)
  if (hasAvx2()) {
    i = decodeBlocksAvx2(in, text.size(), out);
    out += i / 4 * 3;
  }
#endif
  std::size_t padding = 0;
  std::uint32_t group = 0;
  int filled = 0;
  for (; i < text.size(); ++i) {
    std::uint8_t value = kDecode[in[i]];
    if (value == kInvalid) return std::nullopt;
    if (value == kPad) {
      ++padding;
      continue;
    }
    if (padding > 0) return std::nullopt;  // data after padding
    group = (group << 6) | value;
    if (++filled == 4) {
      *out++ = static_cast<unsigned char>(group >> 16);
      *out++ = static_cast<unsigned char>(group >> 8);
      *out++ = static_cast<unsigned char>(group);
      group = 0;
      filled = 0;
    }
  }
  // Padding only completes the last group: "xx==" or "xxx=", nothing more.
  if (padding > 0 && (filled < 2 || padding != static_cast<std::size_t>(4 - filled)))
    return std::nullopt;
  // The last group: 2 or 3 data characters give 1 or 2 bytes; one lone data character is not
  // a group.
  if (filled == 2) {
    *out++ = static_cast<unsigned char>(group >> 4);
  } else if (filled == 3) {
    *out++ = static_cast<unsigned char>(group >> 10);
    *out++ = static_cast<unsigned char>(group >> 2);
  } else if (filled == 1) {
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(bytes.data())));
  return bytes;
}

std::string encodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = (static_cast<unsigned char>(bytes[i]) << 16) |
                          (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                          static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text.push_back(kAlphabet[(group >> shift) & 63]);
  }
  std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(left == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back('=');
  }
  return text;
}

}  // namespace shelvo::platform
