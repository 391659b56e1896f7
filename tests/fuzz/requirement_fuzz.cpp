// The code requirement language: compiling any text, describing and evaluating what compiles.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emulation/codesign/requirement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto requirement = shelvo::platform::Requirement::compile(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (requirement) {
    requirement->describe();
    requirement->evaluate(shelvo::platform::CodeIdentity{"ostrel.shelvo", {}, true});
  }
  return 0;
}
