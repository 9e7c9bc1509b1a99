// The query, list, alert and e-mail commands run in process on both engines, with the notice
// delivered to a loopback relay.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/CommandTest.h"
#include "cli/SmtpSink.h"
#include "kvaction/action/ActionTest.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

using kvaction::Day;

class Commands : public testing::CommandTest<kvaction::PeopleTest> {
 protected:
  void SetUp() override {
    PeopleTest::SetUp();
    roof_ = Store({.number = 42,
                   .subject = "Fix the roof",
                   .assigneeID = "bob",
                   .originatorID = "carol",
                   .dateDue = Day(2024, 3, 1),
                   .reviewed = int16_t{0}});
  }

  int32_t roof_ = 0;
};

TEST_P(Commands, EmailSendDeliversTheNoticeAsBuilt) {
  const testing::SmtpSink sink;
  {
    const auto admin = LoggedIn("admin");
    admin->SMTPHost(sink.Address());
    admin->save();
  }
  const std::string id = std::to_string(roof_);
  EXPECT_EQ(Run("admin", {"email", id, "--url", "http://web/kv", "--send"}),
            "Sent to 2 recipients.\n");

  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0].mailFrom, "<ada@example.org>");
  EXPECT_EQ(received[0].recipients,
            (std::vector<std::string>{"<bob@example.org>", "<carol@example.org>"}));
  const auto notice = LoggedIn("admin")->EmailData(roof_, "http://web/kv");
  const std::string body = vb::TextOf(notice->Fields().Item("Body").Value());
  const std::string& data = received[0].data;
  EXPECT_NE(data.find("\r\nSubject: Action 42: Fix the roof\r\n"), std::string::npos) << data;
  EXPECT_NE(data.find("\r\n\r\n" + body), std::string::npos) << data;
  EXPECT_NE(body.find("default.asp?LinkType=2&DBID=0&ActionID=" + id), std::string::npos);
}

TEST_P(Commands, AlertsStatusAndDuePrintWhatTheLibraryAnswers) {
  EXPECT_EQ(Run("admin", {"alerts", "--for", "bob"}), "1\n");
  EXPECT_EQ(Run("admin", {"alerts", "--for", "bob", "--mode", "1", "--dbid", "R9"}), "0\n");
  EXPECT_EQ(Run("admin", {"status", std::to_string(roof_)}),
            "Status: Assigned to Bob Builder\nDue: 14 days overdue.\n"
            "Short status: 14 days overdue.\nImage: 2\n");
  const int32_t fresh = Store({.number = 43, .subject = "New", .reviewed = vb::Null});
  EXPECT_THAT(Run("admin", {"status", std::to_string(fresh)}),
              ::testing::StartsWith("Status: This action does not have an assignee.\n"));
  const auto due = nlohmann::json::parse(Run("admin", {"--json", "due"}));
  ASSERT_EQ(due.size(), 1U);
  EXPECT_EQ(due[0]["ActionNumber"], 42);
}

TEST_P(Commands, SavedQueryListsItsActions) {
  Store({.number = 44,
         .subject = "Paint",
         .assigneeID = "admin",
         .originatorID = "bob",
         .dateDue = Day(2024, 4, 1),
         .referenceID = "R1"});
  const std::string saved =
      Run("admin", {"query", "add", "Overdue", "--apply-status", "--status", "2"});
  ASSERT_TRUE(saved.starts_with("Saved the query ")) << saved;
  const std::string id = saved.substr(16, saved.find('.') - 16);
  const auto listed = nlohmann::json::parse(Run("admin", {"--json", "list", "--query", id}));
  ASSERT_EQ(listed.size(), 1U);
  EXPECT_EQ(listed[0]["ActionNumber"], 42);
  const auto mine = nlohmann::json::parse(
      Run("admin", {"--json", "list", "--reference", "R1", "--sort", "ActionNumber"}));
  ASSERT_EQ(mine.size(), 1U);
  EXPECT_EQ(mine[0]["ActionNumber"], 44);
  EXPECT_EQ(Run("admin", {"query", "delete", id}), "Deleted the query " + id + ".\n");
}

KV_INSTANTIATE_ENGINES(Commands);

}  // namespace
}  // namespace cli
