#include "kvdata/SettingsStore.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/testing/FaultyEngine.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

using ::vb::testing::ErrorOf;

using SettingsStoreValue = ActionDatabaseTest;

TEST_P(SettingsStoreValue, KeepsEachValueInMemoryUntilSaveAndItsTypeAfterAndReadsSeveralAtOnce) {
  const auto writer = OpenServer();
  const auto reader = OpenServer();
  const std::pair<const char*, vb::Variant> values[] = {
      {"AutoEmail", true},
      {"DueDays", int16_t{14}},
      {"Limit", int32_t{70000}},
      {"Ratio", 2.5},
      {"Since", vb::Date::FromParts(2023, 12, 31, 23, 59, 59)},
      {"SMTPHost", "mail.example.org"},
      {"Nothing", vb::Null},
      {"Label.Action", "Task"}};
  for (const auto& [key, value] : values) writer->Settings()->Value(key, value);
  EXPECT_EQ(writer->Settings()->Value("autoemail"), vb::Variant(true));
  EXPECT_TRUE(reader->Settings()->Value("AutoEmail").IsEmpty());
  writer->Settings()->Save();
  for (const auto& [key, value] : values) {
    EXPECT_EQ(reader->Settings()->Value(key), value) << key;
    EXPECT_EQ(OpenServer()->Settings()->Value(key), value) << key;
  }
  // Read answers as the store does, in one statement; an unreadable row fails its own key only.
  (void)writer->Connection()->Execute(
      "insert into ActionConfig (ConfigKey, ValueType, ValueText) values ('Broken', 99, 'x')");
  const auto server = OpenServer();
  server->Settings()->Value("SMTPHost", "unsaved.example.org");
  const std::vector<std::string> keys = {"duedays", "Label.Action", "Label.Assignee", "SMTPHost",
                                         "Never",   "DUEDAYS",      "Broken"};
  const auto engine = kvdata::testing::FaultyEngine::Install(*server->Connection(), 0);
  const SettingsSnapshot snapshot = server->Settings()->Read(keys);
  EXPECT_EQ(engine->Calls(), 1);
  for (const std::string& key : std::span(keys).first(6)) {
    EXPECT_EQ(snapshot.Value(key), server->Settings()->Value(key)) << key;
  }
  bool found = false;
  EXPECT_EQ(snapshot.Label("Action", &found), "Task");
  EXPECT_TRUE(found);
  EXPECT_EQ(snapshot.Label("Assignee", &found), "Assignee");
  EXPECT_FALSE(found);
  // A key that was not read is refused.
  EXPECT_EQ(ErrorOf([&] { (void)snapshot.Value("Broken"); }).number(), kBadArgument);
  EXPECT_EQ(ErrorOf([&] { (void)snapshot.Value("AutoEmail"); }).number(), kBadArgument);
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

KV_INSTANTIATE_ENGINES(SettingsStoreValue);

}  // namespace
}  // namespace kvdata
