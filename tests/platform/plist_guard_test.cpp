// The shape check that stands before libplist for every property list from an untrusted place.
#include "platform/plist/plist_guard.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/plist/plist.h"
#include "tests/support/deep_plist.h"
#include "tests/support/paths.h"
#include "tests/support/temp_dir.h"

namespace shelvo::platform {
namespace {

std::string nestedXml(int depth, const std::string& between = "") {
  std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < depth; ++i) text += "<array>" + between;
  for (int i = 0; i < depth; ++i) text += "</array>";
  return text + "</plist>";
}

// Object i is an array holding object i+1 twice: small on disk, 2^levels objects once libplist
// copies every reference.
std::string sharedReferences(std::uint32_t levels) {
  std::vector<std::vector<std::uint32_t>> arrays(levels + 1);
  for (std::uint32_t i = 0; i < levels; ++i) arrays[i] = {i + 1, i + 1};
  return test::binaryPlistOfArrays(arrays);
}

// The top holds the heads of chains of arrays of the given lengths; each chain's innermost array
// refers to the head of the chain before, so the depth, 1 + the sum of the lengths, is reached
// through objects already seen.
std::string chainsThroughSharedObjects(const std::vector<std::uint32_t>& lengths) {
  std::vector<std::vector<std::uint32_t>> arrays(1);
  std::uint32_t previousHead = 0;
  for (auto length : lengths) {
    auto head = static_cast<std::uint32_t>(arrays.size());
    arrays[0].push_back(head);
    for (std::uint32_t i = 1; i < length; ++i) arrays.push_back({head + i});
    arrays.push_back(previousHead == 0 ? std::vector<std::uint32_t>{}
                                       : std::vector<std::uint32_t>{previousHead});
    previousHead = head;
  }
  return test::binaryPlistOfArrays(arrays);
}

// An input the fuzzer found, kept beside its target.
std::string regressionInput(const std::string& name) {
  return test::readTextFile(std::filesystem::path(test::kSourceDir) /
                            "tests/fuzz/regressions/plist_fuzz" / name);
}

// Depth is bounded at 256 in both formats, also where it is reached through objects already seen;
// markup the parser skips cannot hide nesting, and an empty element is no level; shared references
// past a bound, cycles, and cut or lying trailers are refused.
TEST(PlistShape, OnlyBoundedWellFormedListsPass) {
  const std::string small = test::deepBinaryPlist(3);
  std::string lying = small;
  lying.back() = static_cast<char>(0xFF);  // offset table past the end
  const std::pair<std::string, bool> rows[] = {
      {test::deepBinaryPlist(255), true},
      {nestedXml(256), true},
      {nestedXml(257), false},
      {chainsThroughSharedObjects({200, 55}), true},
      {chainsThroughSharedObjects({200, 56}), false},
      {chainsThroughSharedObjects({150, 50, 55}), true},
      {chainsThroughSharedObjects({150, 50, 56}), false},
      {nestedXml(300, "<!-- </array> -->"), false},
      {nestedXml(300, "<![CDATA[</array>]]>"), false},
      {nestedXml(256, "<array/><dict/>"), true},
      {sharedReferences(10), true},
      {test::binaryPlistOfArrays({{1, 1}, {2, 2}, {0}}), false},
      {small.substr(0, small.size() - 1), false},
      {lying, false},
      {"bplist00", false},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(checkPlistShape(rows[i].first).ok(), rows[i].second) << "row " << i;
  EXPECT_EQ(checkPlistShape(test::deepBinaryPlist(256)).error().message,
            "the property list is nested too deeply");
  EXPECT_EQ(checkPlistShape(sharedReferences(40)).error().message,
            "the property list holds too many objects");
  EXPECT_EQ(parsePlist(test::deepBinaryPlist(160'000)), nullptr);
}

// Found by fuzzing: a dictionary whose key is not a string parses, and libplist 2.2 then aborts
// on an assertion when the dictionary's keys are read.
TEST(PlistShape, DictionaryKeysMustBeStrings) {
  std::string list = regressionInput("dictionary-key-not-a-string");
  ASSERT_FALSE(list.empty());
  EXPECT_FALSE(checkPlistShape(list));
  Plist parsed = parsePlist(list);
  EXPECT_TRUE(dictionaryKeys(parsed.get()).empty());
}

// Found by fuzzing: a string holding NUL keeps its declared length in libplist 2.2 but only the
// text before the NUL, so reading the declared length ran past the copy (AddressSanitizer saw
// it). Strings are read up to the NUL.
TEST(PlistStrings, AStringWithANulIsReadUpToIt) {
  std::string list = regressionInput("string-with-nul-overreads");
  Plist parsed = parsePlist(list);
  auto expectNoNul = [](plist_t node) {
    if (auto text = stringValue(node)) {
      EXPECT_EQ(text->find('\0'), std::string::npos);
    }
  };
  for (const auto& key : dictionaryKeys(parsed.get())) {
    plist_t item = dictionaryItem(parsed.get(), key);
    expectNoNul(item);
    if (plist_get_node_type(item) != PLIST_ARRAY) continue;
    for (uint32_t i = 0; i < plist_array_get_size(item); ++i)
      expectNoNul(plist_array_get_item(item, i));
  }
}

}  // namespace
}  // namespace shelvo::platform
