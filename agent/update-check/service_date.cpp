#include "agent/update-check/service_date.h"

#include <cstdint>

namespace shelvo {
namespace {

// The platform's whitespace set: space, tab, no-break space and the Unicode spaces.
std::size_t whitespaceLength(std::string_view text) {
  if (text.empty()) return 0;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (text[0] == ' ' || text[0] == '\t') return 1;
  if (text.size() >= 2 && byte(0) == 0xC2 && byte(1) == 0xA0) return 2;  // U+00A0
  if (text.size() >= 3 && byte(0) == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80)
    return 3;  // U+1680
  if (text.size() >= 3 && byte(0) == 0xE2 && byte(1) == 0x80 &&
      (byte(2) <= 0x8B || byte(2) == 0xAF)) {
    return 3;  // U+2000-U+200B, U+202F
  }
  if (text.size() >= 3 && byte(0) == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F)
    return 3;  // U+205F
  if (text.size() >= 3 && byte(0) == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80)
    return 3;  // U+3000
  return 0;
}

std::string_view skipWhitespace(std::string_view text) {
  while (std::size_t n = whitespaceLength(text)) text.remove_prefix(n);
  return text;
}

// A field: optional leading whitespace, then one or more ASCII digits.
std::optional<std::int64_t> readField(std::string_view& text, std::size_t& digits) {
  text = skipWhitespace(text);
  std::int64_t value = 0;
  digits = 0;
  while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
    if (value > 1'000'000'000) return std::nullopt;
    value = value * 10 + (text.front() - '0');
    text.remove_prefix(1);
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

bool isLeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Two-digit years fall in 1950-2049.
std::int64_t placeTwoDigitYear(std::int64_t year) {
  return year < 50 ? 2000 + year : 1900 + year;
}

}  // namespace

std::optional<ServiceDate> parseServiceDate(std::string_view text) {
  std::size_t digits = 0;
  auto day = readField(text, digits);
  if (!day || text.empty() || text.front() != '-') return std::nullopt;
  text.remove_prefix(1);
  auto month = readField(text, digits);
  if (!month || text.empty() || text.front() != '-') return std::nullopt;
  text.remove_prefix(1);
  auto year = readField(text, digits);
  if (!year) return std::nullopt;
  if (!skipWhitespace(text).empty()) return std::nullopt;

  std::int64_t fullYear = *year;
  if (digits == 2) {
    fullYear = placeTwoDigitYear(*year);
  } else if (*year >= 12000 && *year <= 12099) {
    fullYear = placeTwoDigitYear(*year - 12000);  // the platform's own two-digit window
  }
  if (fullYear < 1 || *month < 1 || *month > 12) return std::nullopt;
  if (*day < 1 || *day > daysInMonth(fullYear, static_cast<int>(*month))) return std::nullopt;
  return ServiceDate{static_cast<int>(fullYear), static_cast<int>(*month), static_cast<int>(*day)};
}

}  // namespace shelvo
