// The service's app list, JSON to records, and the stored form of the records it yields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/update-check/installed_app_item.h"
#include "agent/update-check/shelvo_item.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto items =
      shelvo::decodeShelvoItems(std::string_view(reinterpret_cast<const char*>(data), size));
  if (items) {
    for (const auto& item : *items) (void)std::hash<shelvo::ShelvoItem>{}(item);
  }
  shelvo::decodeInstalledAppItems(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
