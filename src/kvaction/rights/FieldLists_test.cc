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

// Which columns are visible is decided beside Rights.h; here the keys are the columns' positions.
TEST_P(FieldListsTest, VisibleFieldsOfTheActionsTableAreKeyedByPosition) {
  const auto entries = Entries(*OpenAction()->VisibleFields());
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0], "01=ActionNumber");
  EXPECT_EQ(entries[1], "02=Subject");
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
