#include "platform/text/utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace shelvo::platform {
namespace {

struct LeadByte {
  std::size_t length = 0;  // 0: not a valid lead byte
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
};

LeadByte describeLead(unsigned char lead) {
  if (lead < 0x80) return {1};
  if (lead >= 0xC2 && lead <= 0xDF) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong forms
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogates
  if (lead >= 0xE1 && lead <= 0xEF) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlong forms
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  if (lead >= 0xF1 && lead <= 0xF3) return {4};
  return {0};
}

// Length of the valid sequence starting at p, or 0 when it is invalid or cut short.
std::size_t sequenceLength(const unsigned char* p, std::size_t available) {
  LeadByte shape = describeLead(p[0]);
  if (shape.length <= 1) return shape.length;
  if (available < shape.length) return 0;
  if (p[1] < shape.secondLow || p[1] > shape.secondHigh) return 0;
  for (std::size_t k = 2; k < shape.length; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
  }
  return shape.length;
}

bool allAscii(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

#if defined(__x86_64__)
// The length of the leading run of 64-byte ASCII blocks, checked with AVX2.
__attribute__((target("avx2"))) std::size_t asciiBlocksAvx2(const unsigned char* p,
                                                            std::size_t size) {
  std::size_t i = 0;
  for (; i + 64 <= size; i += 64) {
    __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
    if (_mm256_movemask_epi8(_mm256_or_si256(first, second)) != 0) break;
  }
  return i;
}

// The length of the leading run of 64-byte blocks of ASCII without NUL, checked with AVX2: as
// signed bytes, exactly those from 0x01 to 0x7F are above zero.
__attribute__((target("avx2"))) std::size_t asciiWithoutNulBlocksAvx2(const unsigned char* p,
                                                                      std::size_t size) {
  const __m256i zero = _mm256_setzero_si256();
  std::size_t i = 0;
  for (; i + 64 <= size; i += 64) {
    __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
    __m256i plain =
        _mm256_and_si256(_mm256_cmpgt_epi8(first, zero), _mm256_cmpgt_epi8(second, zero));
    if (_mm256_movemask_epi8(plain) != -1) break;
  }
  return i;
}

// The same with AVX-512, four vectors at a time: their signed minimum is above zero only when
// every byte is.
__attribute__((target("avx512f,avx512bw"))) std::size_t asciiWithoutNulBlocksAvx512(
    const unsigned char* p, std::size_t size) {
  const __m512i zero = _mm512_setzero_si512();
  std::size_t i = 0;
  for (; i + 256 <= size; i += 256) {
    __m512i low = _mm512_min_epi8(_mm512_loadu_si512(p + i), _mm512_loadu_si512(p + i + 64));
    __m512i high =
        _mm512_min_epi8(_mm512_loadu_si512(p + i + 128), _mm512_loadu_si512(p + i + 192));
    if (_mm512_cmpgt_epi8_mask(_mm512_min_epi8(low, high), zero) != ~0ULL) break;
  }
  for (; i + 64 <= size; i += 64) {
    if (_mm512_cmpgt_epi8_mask(_mm512_loadu_si512(p + i), zero) != ~0ULL) break;
  }
  return i;
}

bool hasAvx512() {
  static const bool supported =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return supported;
}

bool hasAvx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}
#endif

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
#if defined(__x86_64__)
    if (size - i >= 64 && hasAvx2()) {
      std::size_t ascii = asciiBlocksAvx2(p + i, size - i);
      i += ascii;
      if (ascii > 0) continue;
    }
#endif
#if defined(__SSE2__)
    if (size - i >= 16 &&
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))) == 0) {
      i += 16;
      continue;
    }
#endif
    if (size - i >= 8 && allAscii(p + i)) {
      i += 8;
      continue;
    }
    std::size_t length = sequenceLength(p + i, size - i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::size_t leadingAsciiWithoutNul(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
#if defined(__x86_64__)
  if (hasAvx512()) {
    i = asciiWithoutNulBlocksAvx512(p, bytes.size());
  } else if (hasAvx2()) {
    i = asciiWithoutNulBlocksAvx2(p, bytes.size());
  }
#endif
  while (i < bytes.size() && p[i] != 0 && p[i] < 0x80) ++i;
  return i;
}

std::size_t incompleteUtf8Suffix(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  // Look back over at most three bytes for the lead byte of a sequence that runs past the end.
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const unsigned char* lead = p + size - back;
    if ((*lead & 0xC0) == 0x80) continue;
    LeadByte shape = describeLead(*lead);
    if (shape.length <= back) return 0;  // complete, ASCII or an invalid lead
    if (back >= 2 && (lead[1] < shape.secondLow || lead[1] > shape.secondHigh)) return 0;
    return back;  // any further bytes are continuation bytes, checked by the loop above
  }
  return 0;
}

std::string_view trimNewlines(std::string_view text) {
  auto newlineAtStart = [](std::string_view t) -> std::size_t {
    if (t.empty()) return 0;
    auto c = static_cast<unsigned char>(t[0]);
    if (c >= 0x0A && c <= 0x0D) return 1;
    if (t.size() >= 2 && c == 0xC2 && static_cast<unsigned char>(t[1]) == 0x85) return 2;
    if (t.size() >= 3 && c == 0xE2 && static_cast<unsigned char>(t[1]) == 0x80 &&
        (static_cast<unsigned char>(t[2]) == 0xA8 || static_cast<unsigned char>(t[2]) == 0xA9)) {
      return 3;
    }
    return 0;
  };
  auto newlineAtEnd = [](std::string_view t) -> std::size_t {
    if (t.empty()) return 0;
    auto c = static_cast<unsigned char>(t.back());
    if (c >= 0x0A && c <= 0x0D) return 1;
    std::size_t n = t.size();
    if (n >= 2 && c == 0x85 && static_cast<unsigned char>(t[n - 2]) == 0xC2) return 2;
    if (n >= 3 && (c == 0xA8 || c == 0xA9) && static_cast<unsigned char>(t[n - 2]) == 0x80 &&
        static_cast<unsigned char>(t[n - 3]) == 0xE2) {
      return 3;
    }
    return 0;
  };
  while (std::size_t n = newlineAtStart(text)) text.remove_prefix(n);
  while (std::size_t n = newlineAtEnd(text)) text.remove_suffix(n);
  return text;
}

namespace {

// Offset of the first byte in [p, p + size) that JSON cannot take as it stands: a control
// character, a quote, a backslash or a non-ASCII byte; size when there is none. Log messages
// are mostly plain text, so this scan decides the speed of the file log.
std::size_t plainJsonPrefix(const unsigned char* p, std::size_t size, bool escapeSlash) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  // Without slash escaping, a quote stands in for the slash: the test is then only repeated.
  const __m128i slash = _mm_set1_epi8(escapeSlash ? '/' : '"');
  for (; i + 16 <= size; i += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // Signed compare: bytes of 0x80 and above are negative, so they count as below a space.
    __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(block, space), _mm_cmpeq_epi8(block, slash)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)));
    int mask = _mm_movemask_epi8(special);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i < size; ++i) {
    unsigned char c = p[i];
    if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\' || (escapeSlash && c == '/')) return i;
  }
  return size;
}

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text, JsonSlashes slashes) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    std::size_t plain = plainJsonPrefix(p + i, size - i, slashes == JsonSlashes::Escaped);
    // Valid multi-byte characters are copied too; only what JSON cannot hold is rewritten.
    while (i + plain < size && p[i + plain] >= 0x80) {
      std::size_t length = sequenceLength(p + i + plain, size - i - plain);
      if (length == 0) break;
      plain += length;
      plain += plainJsonPrefix(p + i + plain, size - i - plain, slashes == JsonSlashes::Escaped);
    }
    out.append(text.data() + i, plain);
    i += plain;
    if (i == size) break;
    unsigned char c = p[i++];
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '/':
        out.append("\\/");
        break;
      default:
        if (c >= 0x80) {
          out.append("\\ufffd");  // not UTF-8
        } else {
          out.append("\\u00");
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        }
    }
  }
}

}  // namespace shelvo::platform
