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

// Which columns are visible is decided beside Rights.h; here the keys are the columns' positions,
// and the validated fields are Category then Priority with their labels.
TEST_P(FieldListsTest, VisibleFieldsByPositionAndValidatedFieldsWithTheirLabels) {
  EXPECT_EQ(ErrorOf([&] { (void)NewAction()->VisibleFields(); }).number(), vb::kObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { (void)NewAction()->ValidatedFields(); }).number(), vb::kObjectNotSet);
  const auto action = OpenAction();
  const auto entries = Entries(*action->VisibleFields());
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0], "01=ActionNumber");
  EXPECT_EQ(entries[1], "02=Subject");

  const auto settings = action->DataServer()->Settings();
  settings->Value(kvdata::LabelKey("Priority"), vb::Variant("Urgency"));
  const auto list = action->ValidatedFields();
  ASSERT_EQ(list->RecordCount(), 2);
  const auto row = [&] {
    return vb::CStr(list->Fields().Item("FieldName").Value()) + "=" +
           vb::CStr(list->Fields().Item("FieldLabel").Value());
  };
  EXPECT_EQ(row(), "Priority=Urgency");
  list->MoveFirst();
  EXPECT_EQ(row(), "Category=" + settings->Label("Category"));
}

KV_INSTANTIATE_ENGINES(FieldListsTest);

}  // namespace
}  // namespace kvaction
