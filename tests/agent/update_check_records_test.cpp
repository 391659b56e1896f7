#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent/update-check/installed_app_item.h"
#include "agent/update-check/service_date.h"
#include "agent/update-check/shelvo_item.h"

namespace shelvo {

namespace {

ShelvoItem itemWithId(const std::string& id) {
  ShelvoItem item;
  item.id = id;
  return item;
}

TEST(ServiceDate, ParsesDdMmYyStrictly) {
  struct Row {
    const char* text;
    int year, month, day;
  };
  const Row parsed[] = {
      {"31-12-24", 2024, 12, 31},    {"01-02-24", 2024, 2, 1},    {"1-2-24", 2024, 2, 1},
      {"9-02-24", 2024, 2, 9},       {"01-2-24", 2024, 2, 1},     {"29-02-24", 2024, 2, 29},
      {"31-12-2024", 2024, 12, 31},  {"31-12-024", 24, 12, 31},   {"01-02-4", 4, 2, 1},
      {"31-12-12024", 2024, 12, 31}, {"31-12-24 ", 2024, 12, 31}, {" 31-12-24", 2024, 12, 31},
      {"31-12-49", 2049, 12, 31},    {"31-12-50", 1950, 12, 31},  {"02-01-50", 1950, 1, 2},
      {"31-12-99", 1999, 12, 31},    {"02-01-00", 2000, 1, 2},
  };
  for (const auto& row : parsed) {
    EXPECT_EQ(parseServiceDate(row.text), (ServiceDate{row.year, row.month, row.day})) << row.text;
  }
  for (const char* text :
       {"31-02-24", "29-02-23", "32-01-24", "00-01-24", "31-13-24", "2024-12-31", "31-12-24x",
        "31-12-24T10", "31/12/24", "31 - 12 - 24", "31-12-", "", "+1-2-24"}) {
    EXPECT_EQ(parseServiceDate(text), std::nullopt) << text;
  }
}

TEST(ShelvoItem, DecodesOptionalFieldsAndNullAsAbsent) {
  auto items = decodeShelvoItems(R"([
    {"bundle_id": "com.example.only"},
    {"bundle_id": "com.example.full", "name": "Full", "description": "d", "developer_id": "dev",
     "code_requirement": "req", "icon": "https://i/x.png", "icon_thumbnail": "https://i/t.png",
     "update_interval": 0, "version": "1.2", "version_date": "31-12-24",
     "date_created": "01-01-20", "unknown_key": [1, 2]},
    {"bundle_id": "com.example.null", "update_interval": null, "version": null}
  ])");
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 3u);
  EXPECT_EQ((*items)[0], itemWithId("com.example.only"));
  const ShelvoItem& full = (*items)[1];
  EXPECT_EQ(full.name, "Full");
  EXPECT_EQ(full.iconThumbnail, "https://i/t.png");
  EXPECT_EQ(full.updateInterval, 0);
  EXPECT_EQ(full.lastKnownVersion, "1.2");
  EXPECT_EQ(full.lastKnownVersionDate, (ServiceDate{2024, 12, 31}));
  EXPECT_EQ(full.dateCreated, (ServiceDate{2020, 1, 1}));
  EXPECT_FALSE((*items)[2].updateInterval) << "null is absent, not 0";
  EXPECT_FALSE((*items)[2].lastKnownVersion);
}

TEST(ShelvoItem, TheLastOfAKeyCountsAndNestedValuesAreNotFields) {
  auto items = decodeShelvoItems(R"([{
    "bundle_id": "com.example.first", "bundle_id": "com.example.app",
    "name": null, "name": "App", "update_interval": 2.0,
    "extra": {"bundle_id": 7, "name": [{"version": 1}], "deeper": [[{}], {"a": null}]},
    "version": 9223372036854775807, "version": "1.0"
  }, {"bundle_id": "com.example.other", "update_interval": 9223372036854775807}])");
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[0].id, "com.example.app");
  EXPECT_EQ((*items)[0].name, "App");
  EXPECT_EQ((*items)[0].updateInterval, 2) << "a whole float is an integer";
  EXPECT_EQ((*items)[0].lastKnownVersion, "1.0");
  EXPECT_EQ((*items)[1].updateInterval, INT64_MAX);
}

TEST(ShelvoItem, AValueNestedAMillionDeepIsPassedOverNotRecursedInto) {
  const std::string deep = std::string(1'000'000, '[') + std::string(1'000'000, ']');
  auto items = decodeShelvoItems(R"([{"bundle_id": "com.example.app", "extra": )" + deep + "}]");
  ASSERT_TRUE(items);
  EXPECT_EQ(items->size(), 1u);
  EXPECT_FALSE(decodeShelvoItems(R"([{"bundle_id": "com.example.app", "name": )" + deep + "}]"));
  EXPECT_FALSE(decodeShelvoItems("[" + deep + "]")) << "an element that is not an object";
}

TEST(ShelvoItem, OneBadElementFailsTheWholeList) {
  const char* bad[] = {
      R"([{"bundle_id": "a"}, {"name": "no id"}])",
      R"([{"bundle_id": null}])",
      R"([{"bundle_id": 7}])",
      R"([{"bundle_id": "a", "update_interval": "7"}])",
      R"([{"bundle_id": "a", "update_interval": 1.5}])",
      R"([{"bundle_id": "a", "version": 2}])",
      R"([{"bundle_id": "a", "version_date": "2024-12-31T00:00:00Z"}])",
      R"([{"bundle_id": "a", "name": {"first": "N"}})",
      R"([{"bundle_id": "a", "update_interval": true}])",
      R"([{"bundle_id": "a", "update_interval": 9223372036854775808}])",
      R"([{"bundle_id": "a", "update_interval": 1e19}])",
      R"([{"bundle_id": "a", "update_interval": -9.3e18}])",
      R"([{"bundle_id": "a", "bundle_id": null}])",  // the last of a key counts
      R"({"bundle_id": "a"})",
      R"([1])",
      R"([null])",
      R"([[{"bundle_id": "a"}]])",
      R"("a")",
      R"([{"bundle_id": "a"}] [])",
      R"([{"bundle_id": "a"}, {"bundle_id": "b"])",
      "",
      "not json",
  };
  for (const char* text : bad) EXPECT_FALSE(decodeShelvoItems(text)) << text;
  EXPECT_EQ(decodeShelvoItems("[]"), std::vector<ShelvoItem>{});
}

// Equality is the compiler's; the hash is written by hand, so it is what can miss a field.
TEST(ShelvoItem, TheHashTellsAbsentFromZeroAndCoversTheLastField) {
  auto hash = std::hash<ShelvoItem>{};
  ShelvoItem a = itemWithId("com.example.app");
  ShelvoItem b = a;
  b.updateInterval = 0;  // hashes as 0, as absent would without care
  EXPECT_NE(hash(a), hash(b));
  b = a;
  b.dateCreated = ServiceDate{2024, 1, 2};
  EXPECT_NE(hash(a), hash(b));
}

TEST(InstalledAppItem, EncodesExactlyItsEightKeysAsThePlatformDoes) {
  InstalledAppItem item{"com.example.app",
                        "Example \"One\"",
                        "https://i/t.png",
                        "1.9",
                        "1.10",
                        true,
                        fileURLForFolder("/Applications/Foo Bar.app"),
                        false};
  std::string json = encodeInstalledAppItems({item});
  EXPECT_NE(json.find(R"("appUrl":"file:\/\/\/Applications\/Foo%20Bar.app\/")"), std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("name":"Example \"One\"")"), std::string::npos);
  auto parsed = nlohmann::json::parse(json);
  ASSERT_EQ(parsed.size(), 1u);
  std::vector<std::string> keys;
  for (const auto& [key, value] : parsed[0].items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"appUrl", "icon", "id", "name", "newVersion",
                                            "sourceIsMAS", "updateAvailable", "version"}));
  EXPECT_EQ(decodeInstalledAppItems(json), std::vector<InstalledAppItem>{item});
  EXPECT_EQ(encodeInstalledAppItems({}), "[]");

  for (const auto& [key, value] : parsed[0].items()) {
    auto without = parsed;
    without[0].erase(key);
    EXPECT_FALSE(decodeInstalledAppItems(without.dump())) << "missing " << key;
  }
}

}  // namespace
}  // namespace shelvo
