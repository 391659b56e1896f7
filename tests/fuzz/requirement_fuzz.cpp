// The code requirement language: compiling any text, describing and evaluating what compiles.
#include "emulation/codesign/requirement.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto requirement = shelvo::platform::Requirement::compile(shelvo::fuzz::asText(data, size))) {
    requirement->describe();
    requirement->evaluate(shelvo::platform::CodeIdentity{"ostrel.shelvo", {}, true});
  }
  return 0;
}
