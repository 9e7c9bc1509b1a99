// EmailData on both engines: the notice record set built from the stored action, the recipients
// rule, and what the object and the settings feed into it. Today is 15 Mar 2024.
#include <gtest/gtest.h>

#include <tuple>

#include "kvaction/Action.h"
#include "kvaction/alerts/ActionTestData.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace kvaction::testing {
namespace {

class EmailDataTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    roof_ = Store({.number = 42,
                   .subject = "Fix the roof",
                   .assigneeID = "bob",
                   .originatorID = "carol",
                   .dateOpened = Day(2024, 3, 1),
                   .dateDue = Day(2024, 3, 20),
                   .reference = "Roof",
                   .description = "Leaks in \"hall\"",
                   .result = "Tiles ordered"});
  }
  int32_t roof_ = 0;
};

/// A field of the notice, as text ("<null>" for Null).
std::string Field(const ado::RecordsetPtr& notice, std::string_view name) {
  const vb::Variant value = notice->Fields().Item(name).Value();
  return value.IsNull() ? "<null>" : vb::CStr(value);
}

/// A labelled body line with the label padded to 21 characters.
std::string Line(const std::string& label, const std::string& value) {
  const std::string shown = label + ":";
  return shown + std::string(21 - shown.size(), ' ') + "\t" + value + "\r\n";
}

using EmailData = EmailDataTest;

TEST_P(EmailData, BuildsTheNoticeFieldByField) {
  const auto notice = LoggedIn("admin")->EmailData(roof_, "http://web/kv");
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->RecordCount(), 1);
  EXPECT_FALSE(notice->IsEOF());

  const std::tuple<const char*, ado::DataTypeEnum, int32_t> layout[] = {
      {"ID", ado::adInteger, 0},
      {"AssigneeEmail", ado::adVarChar, 80},
      {"OriginatorEmail", ado::adVarChar, 80},
      {"FromName", ado::adVarChar, 50},
      {"FromEmail", ado::adVarChar, 80},
      {"Subject", ado::adVarChar, 200},
      {"Body", ado::adLongVarChar, 0x40000000}};
  ado::Fields fields = notice->Fields();
  ASSERT_EQ(fields.Count(), 7);
  for (int32_t i = 0; i < 7; ++i) {
    const auto& [name, type, size] = layout[i];
    EXPECT_EQ(fields.Item(i).Name(), name);
    EXPECT_EQ(fields.Item(i).Type(), type) << name;
    EXPECT_EQ(fields.Item(i).DefinedSize(), size) << name;
  }
  EXPECT_EQ(Field(notice, "ID"), std::to_string(roof_));
  EXPECT_EQ(Field(notice, "AssigneeEmail"), "bob@example.org");
  EXPECT_EQ(Field(notice, "OriginatorEmail"), "carol@example.org");
  EXPECT_EQ(Field(notice, "FromName"), "Ada Admin");
  EXPECT_EQ(Field(notice, "FromEmail"), "ada@example.org");
  EXPECT_EQ(Field(notice, "Subject"), "Action 42: Fix the roof");
  EXPECT_EQ(Field(notice, "Body"),
            "To review this item with your browser, please click the following hyperlink: "
            "http://web/kv/default.asp?LinkType=2&DBID=0&ActionID=" +
                std::to_string(roof_) +
                "\r\n\r\n"
                "__________________________________________\r\n\r\n"
                "Current Status: Assigned to Bob Builder  (Due in 5 days.)\r\n\r\n" +
                Line("Originator", "Carol O'Brien") + Line("Assignee", "Bob Builder") +
                Line("Date Opened", "3/1/2024") + Line("Due Date", "3/20/2024") +
                Line("Date Closed", "") + Line("Reference", "Roof") +
                "\r\nDescription:  \r\nLeaks in \"hall\"\r\n\r\n\r\nResult: \r\nTiles ordered");
}

TEST_P(EmailData, NoActionOrNoDatabaseGivesNothing) {
  EXPECT_EQ(LoggedIn("admin")->EmailData(roof_ + 1000), nullptr);
  Action unopened;
  EXPECT_EQ(unopened.EmailData(roof_), nullptr);
}

TEST_P(EmailData, NeverTheAskingUserAndNeverOneAddressTwice) {
  const auto asBob = LoggedIn("bob")->EmailData(roof_);
  EXPECT_EQ(Field(asBob, "AssigneeEmail"), "<null>");
  EXPECT_EQ(Field(asBob, "OriginatorEmail"), "carol@example.org");
  EXPECT_EQ(Field(asBob, "FromName"), "Bob Builder");
  EXPECT_EQ(Field(asBob, "FromEmail"), "bob@example.org");

  const int32_t own =
      Store({.number = 8, .subject = "Own", .assigneeID = "bob", .originatorID = "bob"});
  const auto admin = LoggedIn("admin");
  const auto bobsOwn = admin->EmailData(own);
  EXPECT_EQ(Field(bobsOwn, "AssigneeEmail"), "bob@example.org");
  EXPECT_EQ(Field(bobsOwn, "OriginatorEmail"), "<null>");

  const int32_t mine =
      Store({.number = 9, .subject = "Mine", .assigneeID = "admin", .originatorID = "admin"});
  const auto nobody = admin->EmailData(mine);
  EXPECT_EQ(Field(nobody, "AssigneeEmail"), "<null>");
  EXPECT_EQ(Field(nobody, "OriginatorEmail"), "<null>");
  EXPECT_EQ(Field(nobody, "FromEmail"), "ada@example.org");
}

TEST_P(EmailData, LinkAndLabelsComeFromTheObjectAndTheSettings) {
  const auto action = LoggedIn("admin");
  const std::string id = std::to_string(roof_);
  const auto link = [&](std::string_view url) {
    const std::string body = Field(action->EmailData(roof_, url), "Body");
    const auto start = body.find("http");
    return start == std::string::npos ? std::string()
                                      : body.substr(start, body.find("\r\n") - start);
  };
  action->ReferenceID("123456");
  EXPECT_EQ(link("http://web/kv/"),
            "http://web/kv/default.asp?LinkType=2&DBID=23456&ActionID=" + id);
  action->ReferenceID("");
  action->DataServer()->Settings()->Value("DBID", vb::Variant("7"));
  EXPECT_EQ(link("http://web"), "http://web/default.asp?LinkType=2&DBID=7&ActionID=" + id);
  action->DataServer()->Settings()->Value("DBID", vb::Variant());
  EXPECT_EQ(link(""), "") << "no URL and no twWebURL: no link";
  action->twWebURL("https://tw.example.org/actions");
  action->DataServer()->Settings()->Value(kvdata::LabelKey("Action"), vb::Variant("Task"));
  EXPECT_EQ(Field(action->EmailData(roof_), "Subject"), "Task 42: Fix the roof");
  EXPECT_EQ(link(""),
            "https://tw.example.org/actions/default.asp?LinkType=2&DBID=0&ActionID=" + id);
}

KV_INSTANTIATE_ENGINES(EmailData);

}  // namespace
}  // namespace kvaction::testing
