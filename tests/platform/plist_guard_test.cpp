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
std::string sharedReferences(int levels) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (int i = 0; i <= levels; ++i) {
    offsets.push_back(out.size());
    if (i < levels) {
      out.push_back(static_cast<char>(0xA2));
      out.push_back(static_cast<char>(i + 1));
      out.push_back(static_cast<char>(i + 1));
    } else {
      out.push_back(static_cast<char>(0xA0));
    }
  }
  std::uint64_t table = out.size();
  for (auto offset : offsets) out.push_back(static_cast<char>(offset));
  out.append(6, '\0');
  out.push_back(1);  // offset size
  out.push_back(1);  // reference size
  auto big = [&](std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
  };
  big(offsets.size());
  big(0);
  big(table);
  return out;
}

// An input the fuzzer found, kept beside its target.
std::string regressionInput(const std::string& name) {
  return test::readTextFile(std::filesystem::path(test::kSourceDir) /
                            "tests/fuzz/regressions/plist_fuzz" / name);
}

TEST(PlistShape, OrdinaryListsPass) {
  Plist dictionary = makeDictionary();
  plist_dict_set_item(dictionary.get(), "CFBundleIdentifier", makeString("ostrel.x").release());
  plist_dict_set_item(dictionary.get(), "List", makeStringArray({"a", "b", "c"}).release());
  EXPECT_TRUE(checkPlistShape(toBinaryPlist(dictionary.get())));
  EXPECT_TRUE(checkPlistShape(toXmlPlist(dictionary.get())));
  EXPECT_NE(parsePlist(toBinaryPlist(dictionary.get())), nullptr);
}

TEST(PlistShape, DepthIsBoundedAt256InBothFormats) {
  EXPECT_TRUE(checkPlistShape(test::deepBinaryPlist(255)));
  EXPECT_EQ(checkPlistShape(test::deepBinaryPlist(256)).error().message,
            "the property list is nested too deeply");
  EXPECT_TRUE(checkPlistShape(nestedXml(256)));
  EXPECT_FALSE(checkPlistShape(nestedXml(257)));
  EXPECT_EQ(parsePlist(test::deepBinaryPlist(160'000)), nullptr);
}

TEST(PlistShape, MarkupTheParserSkipsCannotHideNesting) {
  EXPECT_FALSE(checkPlistShape(nestedXml(300, "<!-- </array> -->")));
  EXPECT_FALSE(checkPlistShape(nestedXml(300, "<![CDATA[</array>]]>")));
  EXPECT_TRUE(checkPlistShape(nestedXml(10, "<array/>")));
}

TEST(PlistShape, SharedReferencesAndCyclesAreRefused) {
  EXPECT_TRUE(checkPlistShape(sharedReferences(10)));
  EXPECT_EQ(checkPlistShape(sharedReferences(40)).error().message,
            "the property list holds too many objects");
  std::string cycle = sharedReferences(3);
  cycle[8 + 3 * 3 - 2] = 0;  // the last array refers back to the top
  cycle[8 + 3 * 3 - 3] = static_cast<char>(0xA1);
  EXPECT_FALSE(checkPlistShape(cycle));
}

TEST(PlistShape, TruncatedOrLyingTrailersAreMalformed) {
  std::string list = test::deepBinaryPlist(3);
  EXPECT_FALSE(checkPlistShape(list.substr(0, list.size() - 1)));
  std::string lying = list;
  lying[lying.size() - 1] = static_cast<char>(0xFF);  // offset table past the end
  EXPECT_FALSE(checkPlistShape(lying));
  EXPECT_FALSE(checkPlistShape("bplist00"));
}

}  // namespace
}  // namespace shelvo::platform

namespace shelvo::platform {
namespace {

// Found by fuzzing: a dictionary whose key is not a string parses, and libplist 2.2 then aborts
// on an assertion when the dictionary's keys are read.
TEST(PlistShape, DictionaryKeysMustBeStrings) {
  std::string list = regressionInput("dictionary-key-not-a-string");
  ASSERT_FALSE(list.empty());
  EXPECT_FALSE(checkPlistShape(list));
  Plist parsed = parsePlist(list);
  EXPECT_TRUE(dictionaryKeys(parsed.get()).empty());
}

}  // namespace
}  // namespace shelvo::platform

namespace shelvo::platform {
namespace {

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
