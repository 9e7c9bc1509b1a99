#include "kvaction/alerts/Email.h"

#include <map>

#include <gtest/gtest.h>

#include "kvaction/alerts/MailAddress.h"
#include "kvdata/DataUtility.h"
#include "vb/ComError.h"
#include "vb/Date.h"
#include "vb/testing/ErrorOf.h"

namespace kvaction {
namespace {

/// Labels are the names themselves unless given; every lookup must come with the flag true.
LabelLookup Labels(std::map<std::string, std::string> custom = {}) {
  return [custom = std::move(custom)](std::string_view name, bool& flag) {
    EXPECT_TRUE(flag);
    const auto it = custom.find(std::string(name));
    return it == custom.end() ? std::string(name) : it->second;
  };
}

TEST(PadText, PadsOrCutsToExactlyTheWidth) {
  EXPECT_EQ(PadText("Due Date:", 21), "Due Date:            ");
  EXPECT_EQ(PadText("abc", 0), "");
  EXPECT_EQ(PadText("abcdef", 3), "abc");
  EXPECT_EQ(PadText("Fällig:", 9), "Fällig:  ");  // characters, not bytes
  EXPECT_EQ(PadText("ÄÖÜ", 2), "ÄÖ");
  EXPECT_EQ(vb::testing::ErrorOf([] { (void)PadText("abc", -1); }).number(),
            vb::kInvalidProcedureCall);
}

TEST(EmailSubject, JoinsLabelNumberAndSubject) {
  const vb::Locale& us = vb::Locale::EnUS();
  EXPECT_EQ(EmailSubject(int32_t{42}, "Fix the pump", Labels({{"Action", "Task"}}), us),
            "Task 42: Fix the pump");
  EXPECT_EQ(EmailSubject(int32_t{7}, vb::Null, Labels(), us), "Action 7: ");
}

TEST(DatabaseNumber, ReadsTheLastFiveCharactersOfTheZeroPaddedID) {
  EXPECT_EQ(DatabaseNumber("123456"), 23456);
  EXPECT_EQ(DatabaseNumber("42"), 42);
  EXPECT_EQ(DatabaseNumber(""), 0);
  EXPECT_EQ(DatabaseNumber("ref-x"), 0);
  EXPECT_EQ(DatabaseNumber("A-12"), 0);  // "0A-12": its number ends at the letter
}

TEST(ActionLink, AddsOneSlashBeforeThePage) {
  const std::string query = kvdata::DataUtility::LinkQuery(2, 23456, 17, 0, 0, 0);
  EXPECT_EQ(ActionLink("http://srv/kv", query),
            "http://srv/kv/default.asp?LinkType=2&DBID=23456&ActionID=17");
  EXPECT_EQ(ActionLink("http://srv/kv/", query),
            "http://srv/kv/default.asp?LinkType=2&DBID=23456&ActionID=17");
}

EmailValues Values() {
  EmailValues v;
  v.originator = "Lee";
  v.assignee = "Kim";
  v.dateOpened = vb::Date::FromParts(2025, 3, 1);
  v.dateDue = vb::Date::FromParts(2025, 3, 15);
  v.dateClosed = vb::Null;
  v.reference = "R-7";
  v.description = "Replace the seal.";
  v.result = vb::Null;
  return v;
}

TEST(EmailBody, LaysOutLinkStatusFieldsAndTexts) {
  const std::string body =
      EmailBody(Values(), "Assigned to Kim", "Due in 5 days.", "http://srv/kv/default.asp?x",
                Labels({{"DateDue", "Due"}}), vb::Locale::EnUS());
  EXPECT_EQ(body,
            "To review this item with your browser, please click the following hyperlink: "
            "http://srv/kv/default.asp?x\r\n\r\n"
            "__________________________________________\r\n\r\n"
            "Current Status: Assigned to Kim  (Due in 5 days.)\r\n\r\n"
            "Originator:          \tLee\r\n"
            "Assignee:            \tKim\r\n"
            "DateOpened:          \t3/1/2025\r\n"
            "Due:                 \t3/15/2025\r\n"
            "DateClosed:          \t\r\n"
            "Reference:           \tR-7\r\n"
            "\r\nDescription:  \r\nReplace the seal."
            "\r\n\r\n\r\nResult: \r\n");
}

// Without a link the body starts with the rule; labels of 20 characters keep the colon, longer
// ones are cut; a label that cannot be read is left empty.
TEST(EmailBody, LinkAndLabelsVary) {
  const vb::Locale& us = vb::Locale::EnUS();
  EXPECT_TRUE(EmailBody(Values(), "Closed on 3/1/2025.", "", "", Labels(), us)
                  .starts_with("__________________________________________\r\n\r\n"
                               "Current Status: Closed on 3/1/2025.  ()\r\n\r\n"));
  const std::string cut = EmailBody(
      Values(), "", "", "",
      Labels({{"Originator", "Originator of action"}, {"Assignee", "Assignee of an action"}}), us);
  EXPECT_NE(cut.find("\r\nOriginator of action:\tLee\r\n"), std::string::npos);
  EXPECT_NE(cut.find("\r\nAssignee of an action\tKim\r\n"), std::string::npos);
  const LabelLookup failing = [](std::string_view name, bool&) -> std::string {
    if (name == "Assignee") throw vb::ComError(5, "kvDataServer.SettingsStore", "no label");
    return std::string(name);
  };
  const std::string body = EmailBody(Values(), "", "", "", failing, us);
  EXPECT_NE(body.find("\r\n:                    \tKim\r\n"), std::string::npos);
  EXPECT_NE(body.find("Reference:"), std::string::npos);
}

TEST(MailAddressTest, OnlyOnePlainMailboxPasses) {
  for (const char* good : {"u@example.com", "first.last+tag@sub.example.org", "jörg@bücher.de"}) {
    EXPECT_TRUE(IsMailbox(good)) << good;
  }
  for (const char* bad :
       {"", "u", "@example.com", "u@", "u@a@b", "u@example.com> NOTIFY=SUCCESS", "<u@example.com>",
        "a@x.com,b@y.com", "a@x.com b@y.com", "a@x.com\r\nRCPT TO:<b@y.com>", "a@x.com\t",
        "\"a b\"@x.com", "a@x.com;b@y.com", "a(c)@x.com", "a@[127.0.0.1]", "a\\b@x.com",
        "a\x7f@x.com"}) {
    EXPECT_FALSE(IsMailbox(bad)) << bad;
  }
  const vb::ComError error = vb::testing::ErrorOf(
      [] { RequireMailbox("recipient address", "u@x.com>\r\nDATA", "kvaction.Smtp"); });
  EXPECT_EQ(error.number(), 5);
  EXPECT_EQ(error.description(),
            "The e-mail's recipient address \"u@x.com>??DATA\" is not a single mailbox like "
            "name@example.com (no blanks, control characters or < > , ; : \" ( ) [ ] \\); "
            "nothing was sent.");
}

}  // namespace
}  // namespace kvaction
