// The service's app list, JSON to records, and the stored form of the records it yields.
#include "agent/update-check/installed_app_item.h"
#include "agent/update-check/shelvo_item.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = shelvo::fuzz::asText(data, size);
  if (auto items = shelvo::decodeShelvoItems(text)) {
    for (const auto& item : *items) (void)std::hash<shelvo::ShelvoItem>{}(item);
  }
  shelvo::decodeInstalledAppItems(text);
  return 0;
}
