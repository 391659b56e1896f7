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
// characters it consumed, always whole blocks of 32, stopping at the first block holding
// anything outside the alphabet ("=" included). Each store writes 8 bytes beyond its 24.
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
  while (size - consumed >= 32) {
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

// The 48 bytes of 16 groups of decoded values, in order, from their 64 values.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i groupBytesAvx512(
    __m512i values, __m512i pack) {
  __m512i pairs = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
  __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
  return _mm512_maskz_permutexvar_epi8((1ULL << 48) - 1, pack, groups);
}

// The same with AVX-512 VBMI, 64 characters at a time: one byte permutation looks every
// character up in the first half of the decoding table, where anything outside the alphabet
// (and "=") has its top bit set, as has any byte above 0x7F. Each store writes 16 bytes beyond
// its 48.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t decodeBlocksAvx512(
    const unsigned char* in, std::size_t size, unsigned char* out) {
  const __m512i lookupLow = _mm512_loadu_si512(kDecode.data());
  const __m512i lookupHigh = _mm512_loadu_si512(kDecode.data() + 64);
  // Each 32-bit lane holds one group's three bytes, lowest first: take them highest first.
  const __m512i pack = _mm512_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 61, 62,
                                       56, 57, 58, 52, 53, 54, 48, 49, 50, 44, 45, 46, 40, 41, 42,
                                       36, 37, 38, 32, 33, 34, 28, 29, 30, 24, 25, 26, 20, 21, 22,
                                       16, 17, 18, 12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2);
  std::size_t consumed = 0;
  // Two steps at a time, with one check for both.
  while (size - consumed >= 128) {
    __m512i first = _mm512_loadu_si512(in + consumed);
    __m512i second = _mm512_loadu_si512(in + consumed + 64);
    __m512i firstValues = _mm512_permutex2var_epi8(lookupLow, first, lookupHigh);
    __m512i secondValues = _mm512_permutex2var_epi8(lookupLow, second, lookupHigh);
    __m512i marks = _mm512_or_si512(
        _mm512_ternarylogic_epi32(firstValues, first, secondValues, 0xFE), second);  // a | b | c
    if (_mm512_movepi8_mask(marks) != 0) break;
    _mm512_storeu_si512(out, groupBytesAvx512(firstValues, pack));
    _mm512_storeu_si512(out + 48, groupBytesAvx512(secondValues, pack));
    out += 96;
    consumed += 128;
  }
  while (size - consumed >= 64) {
    __m512i text = _mm512_loadu_si512(in + consumed);
    __m512i values = _mm512_permutex2var_epi8(lookupLow, text, lookupHigh);
    if (_mm512_movepi8_mask(_mm512_or_si512(values, text)) != 0) break;
    _mm512_storeu_si512(out, groupBytesAvx512(values, pack));
    out += 48;
    consumed += 64;
  }
  return consumed;
}

bool hasAvx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}

bool hasAvx512Vbmi() {
  static const bool supported = __builtin_cpu_supports("avx512f") &&
                                __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vbmi");
  return supported;
}
#endif

// Values of the alphabet are below 64; the marks for padding and for anything else are not.
constexpr std::uint8_t kNotData = 0xC0;

}  // namespace

bool decodeBase64Groups(std::string_view text, unsigned char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t size = text.size() / 4 * 4;
  std::size_t i = 0;
#if defined(__x86_64__)
  if (hasAvx512Vbmi()) {
    i = decodeBlocksAvx512(in, size, out);
  } else if (hasAvx2()) {
    i = decodeBlocksAvx2(in, size, out);
  }
  out += i / 4 * 3;
#endif
  for (; i < size; i += 4) {
    std::uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]];
    std::uint32_t c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
    if ((a | b | c | d) & kNotData) return false;
    std::uint32_t group = a << 18 | b << 12 | c << 6 | d;
    *out++ = static_cast<unsigned char>(group >> 16);
    *out++ = static_cast<unsigned char>(group >> 8);
    *out++ = static_cast<unsigned char>(group);
  }
  return true;
}

std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  if (text.empty()) return std::string();
  // Padding may only complete the last group ("xx==" or "xxx="), so every group before it is
  // whole data.
  std::string_view groups = text.substr(0, text.size() - 4);
  std::string bytes;
  bytes.resize(groups.size() / 4 * 3 + kBase64GroupsSlack + 3);
  auto* out = reinterpret_cast<unsigned char*>(bytes.data());
  if (!decodeBase64Groups(groups, out)) return std::nullopt;
  out += groups.size() / 4 * 3;

  const auto* last = reinterpret_cast<const unsigned char*>(text.data()) + groups.size();
  std::uint32_t a = kDecode[last[0]], b = kDecode[last[1]];
  std::uint32_t c = kDecode[last[2]], d = kDecode[last[3]];
  std::size_t length = 3;
  if (d == kPad) {
    length = c == kPad ? 1 : 2;
    if (c == kPad) c = 0;
    d = 0;
  }
  // Unused low bits of a padded group are not checked.
  if ((a | b | c | d) & kNotData) return std::nullopt;
  std::uint32_t group = a << 18 | b << 12 | c << 6 | d;
  for (std::size_t k = 0; k < length; ++k)
    *out++ = static_cast<unsigned char>(group >> (16 - 8 * k));
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
