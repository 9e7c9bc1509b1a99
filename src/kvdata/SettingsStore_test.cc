#include "kvdata/SettingsStore.h"

#include <gtest/gtest.h>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"

namespace kvdata {
namespace {

using SettingsStoreValue = ActionDatabaseTest;

TEST_P(SettingsStoreValue, KeepsEachValueInMemoryUntilSaveAndItsTypeAfter) {
  const auto writer = OpenServer();
  const auto reader = OpenServer();
  const std::pair<const char*, vb::Variant> values[] = {
      {"AutoEmail", true},
      {"DueDays", int16_t{14}},
      {"Limit", int32_t{70000}},
      {"Ratio", 2.5},
      {"Since", vb::Date::FromParts(2023, 12, 31, 23, 59, 59)},
      {"SMTPHost", "mail.example.org"},
      {"Nothing", vb::Null}};
  for (const auto& [key, value] : values) writer->Settings()->Value(key, value);
  EXPECT_EQ(writer->Settings()->Value("autoemail"), vb::Variant(true));
  EXPECT_TRUE(reader->Settings()->Value("AutoEmail").IsEmpty());
  writer->Settings()->Save();
  for (const auto& [key, value] : values) {
    EXPECT_EQ(reader->Settings()->Value(key), value) << key;
    EXPECT_EQ(OpenServer()->Settings()->Value(key), value) << key;
  }
  writer->Settings()->Value("SMTPHost", vb::Variant());  // Empty removes the setting on save
  writer->Settings()->Save();
  EXPECT_TRUE(OpenServer()->Settings()->Value("SMTPHost").IsEmpty());
}

TEST_P(SettingsStoreValue, HostileTextsRoundTripThroughSqlText) {
  const auto server = OpenServer();
  const std::string hostile[] = {"O'Brien",       "''",
                                 "a\"b",          "50%_off",
                                 "back\\slash\\", "'; drop table actions; --",
                                 "Zürich – 東京", "line\nbreak"};
  for (const auto& text : hostile) server->Settings()->Value(text, text);
  server->Settings()->Save();
  const auto reader = OpenServer();
  for (const auto& text : hostile) {
    EXPECT_EQ(reader->Settings()->Value(text), vb::Variant(text)) << text;
    const auto rs = reader->Connection()->OpenRecordset(
        "select ValueText from ActionConfig where ValueText=" + DataUtility::SqlText(text));
    ASSERT_FALSE(rs->IsEOF()) << text;
    EXPECT_EQ(rs->Fields().Item("ValueText").Value(), vb::Variant(text));
  }
}

TEST_P(SettingsStoreValue, LabelGivesTheStoredLabelOrTheName) {
  const auto server = OpenServer();
  server->Settings()->Value("Label.Action", "Task");
  bool found = false;
  EXPECT_EQ(server->Settings()->Label("Action", &found), "Task");
  EXPECT_TRUE(found);
  EXPECT_EQ(server->Settings()->Label("Assignee", &found), "Assignee");
  EXPECT_FALSE(found);
  EXPECT_EQ(server->Settings()->Label("DateOpened"), "Date Opened");
}

KV_INSTANTIATE_ENGINES(SettingsStoreValue);

}  // namespace
}  // namespace kvdata
