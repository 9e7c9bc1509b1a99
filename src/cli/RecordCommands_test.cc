// The record commands run in process on both engines: add, show, edit, complete, close, copy
// and delete. Today is 15 Mar 2024.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandTest.h"
#include "kvaction/action/ActionTest.h"

namespace cli {
namespace {

using ::testing::HasSubstr;

class RecordCommands : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    AddUser("olga", "pw");
  }
  /// Adds the roof action as admin; returns the number printed.
  std::string AddRoof() const {
    return Run("admin", {"add", "--subject", "Fix the roof", "--assignee", "olga", "--due",
                         "4/1/2024", "--category", "Ops"});
  }
  /// The stored action that `show --json ARGS` prints.
  nlohmann::json Shown(std::vector<std::string> args) const {
    args.insert(args.begin(), "show");
    return Json("admin", std::move(args))["action"];
  }
  /// The numbers of the stored actions, in order.
  std::vector<int> Numbers() const {
    std::vector<int> numbers;
    for (const auto& row :
         Json("admin", {"sql", "select ActionNumber from actions order by ActionNumber"})) {
      numbers.push_back(row["ActionNumber"]);
    }
    return numbers;
  }
};

TEST_P(RecordCommands, AddPrintsTheNumberAndShowPrintsTheActionWithItsHistory) {
  EXPECT_EQ(AddRoof(), "1\n");
  const auto shown = Json("admin", {"show", "1"});
  const auto& action = shown["action"];
  EXPECT_EQ(action["Subject"], "Fix the roof");
  EXPECT_EQ(action["AssigneeID"], "olga");
  EXPECT_EQ(action["Assignee"], "olga Name");
  EXPECT_EQ(action["Originator"], "Ada Admin");
  EXPECT_EQ(action["DateOpened"], "3/15/2024");
  EXPECT_EQ(action["DateDue"], "4/1/2024");
  EXPECT_EQ(shown["history"], nlohmann::json::parse(R"([{"EventCode": 1,
      "EventText": "Record Created", "UserID": "admin", "EventTime": "3/15/2024 9:30:05 AM"}])"));

  const std::string table = Run("admin", {"show", "1"});
  EXPECT_THAT(table, ::testing::StartsWith("ActionID  ActionNumber  Subject       "));
  EXPECT_THAT(table, HasSubstr("\n(1 row)\n\nEventCode  EventText       UserID  EventTime\n"
                               "1          Record Created  admin   3/15/2024 9:30:05 AM\n"
                               "(1 row)\n"));
  EXPECT_EQ(Shown({"--locale", "en-GB", "1"})["DateDue"], "01/04/2024");
}

TEST_P(RecordCommands, EditChangesTheColumnsGivenAndAnEmptyValueClears) {
  AddRoof();
  EXPECT_EQ(Run("admin", {"edit", "1", "--subject", "Mend the roof", "--due", "", "--priority",
                          "High", "--assignee", "admin"}),
            "");
  const auto action = Shown({"1"});
  EXPECT_EQ(action["Subject"], "Mend the roof");
  EXPECT_TRUE(action["DateDue"].is_null());
  EXPECT_EQ(action["Priority"], "High");
  EXPECT_EQ(action["Category"], "Ops");  // not given: kept
  EXPECT_EQ(action["Assignee"], "Ada Admin");
  EXPECT_GT(Json("admin", {"show", "1"})["history"].size(), 1u);
}

TEST_P(RecordCommands, CompleteAndCloseStampTodayWithTheResults) {
  AddRoof();
  Run("admin", {"complete", "1", "--results", "Tiles ordered"});
  auto action = Shown({"1"});
  EXPECT_EQ(action["DateCompleted"], "3/15/2024");
  EXPECT_TRUE(action["DateClosed"].is_null());
  EXPECT_EQ(action["Results"], "Tiles ordered");

  Run("admin", {"close", "--id", "1"});
  action = Shown({"1"});
  EXPECT_EQ(action["DateClosed"], "3/15/2024");
  EXPECT_EQ(action["DateCompleted"], "3/15/2024");
}

TEST_P(RecordCommands, CopyPrintsTheNumberOfANewAction) {
  AddRoof();
  EXPECT_EQ(Run("admin", {"copy", "1"}), "2\n");
  const auto copy = Shown({"2"});
  EXPECT_EQ(copy["Subject"], "Fix the roof");
  EXPECT_EQ(copy["ActionID"], 2);
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 2}));
}

TEST_P(RecordCommands, DeleteNamesActionsByNumberOrByID) {
  for (int i = 0; i < 3; ++i) AddRoof();
  // Numbers 11, 12, 13 for the IDs 1, 2, 3.
  EXPECT_EQ(Run("admin", {"sql", "update actions set ActionNumber=ActionNumber+10"}), "Done.\n");
  EXPECT_EQ(Shown({"--id", "1"})["ActionNumber"], 11);

  EXPECT_EQ(kvaction::ErrorOf([&] {
              Run("admin", {"delete", "11", "1"});
            }).description(),
            "No action has the number 1.");
  EXPECT_EQ(kvaction::ErrorOf([&] {
              Run("admin", {"delete", "--id", "11"});
            }).description(),
            "No action has the ID 11.");
  EXPECT_EQ(Numbers(), (std::vector<int>{11, 12, 13}));  // nothing deleted

  EXPECT_EQ(Run("admin", {"delete", "11", "13"}), "Deleted 2 actions.\n");
  EXPECT_EQ(Run("admin", {"delete", "--id", "2"}), "Deleted 1 action.\n");
  EXPECT_EQ(Numbers(), std::vector<int>{});
}

TEST_P(RecordCommands, FailureExitsNonZeroWithTheErrorOnStandardError) {
  std::vector<std::string> show = {
      "--connection", ConnectionString(), "--user", "admin", "--password-stdin", "show", "7"};
  const testing::Outcome missing = testing::Executed(show, "secret\n");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "kvaction: error 5 (kvaction): No action has the number 7.\n");
}

KV_INSTANTIATE_ENGINES(RecordCommands);

}  // namespace
}  // namespace cli
