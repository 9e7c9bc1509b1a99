#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvaction/action/ActionTest.h"
#include "kvdata/SettingsStore.h"

namespace kvaction {
namespace {

class FieldListsTest : public ActionTest {};

// The collection's keys and items in order, "key=item".
std::vector<std::string> Entries(const vb::Collection& collection) {
  std::vector<std::string> entries;
  for (int32_t i = 1; i <= collection.Count(); ++i) {
    entries.push_back(collection.KeyAt(i) + "=" + vb::CStr(collection.Item(i)));
  }
  return entries;
}

TEST_P(FieldListsTest, VisibleFieldsOfTheActionsTableLeaveOutKeysAndBookkeeping) {
  const auto fields = OpenAction()->VisibleFields();
  ASSERT_TRUE(fields);
  const auto entries = Entries(*fields);
  ASSERT_FALSE(entries.empty());
  for (const std::string& entry : entries) {
    const std::string name = vb::LCase(entry.substr(entry.find('=') + 1));
    EXPECT_FALSE(name.ends_with("id")) << entry;
    EXPECT_NE(name, "alert");
    EXPECT_NE(name, "reviewed");
  }
  EXPECT_EQ(entries.front(), "01=ActionNumber");  // keys are the columns' positions
}

TEST_P(FieldListsTest, ValidatedFieldsAreCategoryThenPriorityWithTheirLabels) {
  const auto action = OpenAction();
  action->DataServer()->Settings()->Value(kvdata::LabelKey("Priority"), vb::Variant("Urgency"));
  const auto list = action->ValidatedFields();
  ASSERT_EQ(list->RecordCount(), 2);
  EXPECT_EQ(list->Fields().Item("FieldName").Value(), vb::Variant("Priority"));
  EXPECT_EQ(list->Fields().Item("FieldLabel").Value(), vb::Variant("Urgency"));
  list->MoveFirst();
  EXPECT_EQ(list->Fields().Item("FieldName").Value(), vb::Variant("Category"));
  EXPECT_EQ(list->Fields().Item("FieldLabel").Value(),
            vb::Variant(action->DataServer()->Settings()->Label("Category")));
}

TEST_P(FieldListsTest, WithoutADatabaseBothRaise91) {
  const auto action = NewAction();
  EXPECT_EQ(ErrorOf([&] { (void)action->VisibleFields(); }).number(), vb::kObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { (void)action->ValidatedFields(); }).number(), vb::kObjectNotSet);
}

KV_INSTANTIATE_ENGINES(FieldListsTest);

}  // namespace
}  // namespace kvaction
