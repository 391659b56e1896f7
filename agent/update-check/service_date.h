#pragma once

#include <optional>
#include <string_view>

namespace shelvo {

// A calendar day as the service writes it, "dd-MM-yy".
struct ServiceDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const ServiceDate&) const = default;
};

// Parses "dd-MM-yy" the way the platform's strict date formatter does: one or more digits per
// field, days and months checked against the calendar, a two-digit year placed in 1950-2049 and
// any other year taken as written, whitespace allowed before a field and at the end, nothing
// else.
std::optional<ServiceDate> parseServiceDate(std::string_view text);

}  // namespace shelvo
