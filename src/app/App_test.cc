// The product's rules on both engines: who may do what (each refusal changes nothing), edits
// that meet other people's edits, a complete history, safe accounts and clear input errors.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Bulk.h"
#include "app/Calendar.h"
#include "app/Errors.h"
#include "app/Forms.h"
#include "app/Internal.h"
#include "app/Labels.h"
#include "app/Lists.h"
#include "app/Mailer.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/Watchers.h"
#include "app/WebSupport.h"
#include "kvdata/Base64.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/UserProfile.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/testing/Fixture.h"
#include "kvdata/testing/ScratchFolder.h"
#include "vb/Convert.h"

namespace app {
namespace {

enum Role { kLead, kOrig, kAsg, kBy, kViewer };
const std::vector<std::string> kUsers = {"lead", "orig", "asg", "by", "viewer"};

class AppTest : public kvdata::testing::DatabaseTest {
 public:
  void SetUp() override {
    DatabaseTest::SetUp();
    options_ = {ConnectionString(), pinnedClock_, vb::Locale::EnUS(),
                kvdata::PasswordCost::Minimum};
    CreateDatabase(options_, {"lead", "Lee Lead", "leadpass1", ""});
    auto lead = SignIn("lead");
    const int32_t viewers = WorkgroupAdd(lead, "Viewers", {70, 82});
    for (const auto* user : {"orig", "asg", "by"}) UserAdd(lead, {user, user, "password1", "", {}});
    UserAdd(lead, {"viewer", "Vi", "password1", "", viewers});
    for (const auto& user : kUsers) sessions_.push_back(SignIn(user));
  }
  void TearDown() override {
    reader_.reset();
    sessions_.clear();
    DatabaseTest::TearDown();
  }
  Session SignIn(const std::string& user) {
    return Session::SignIn(options_, user, user == "lead" ? "leadpass1" : "password1");
  }
  Session& As(Role role) { return sessions_[role]; }
  int32_t NewAction(std::string subject = "Fix the pump") {
    return Add(As(kOrig), {{"Subject", subject}, {"Assignee", "asg"}});
  }
  // Every table as text, to show that a refusal changed nothing.
  std::string Snapshot() {
    if (!reader_) reader_ = Connect();
    return kvdata::testing::TablesText(
        *reader_, {"actions", "ActionEvents", "ActionAttachments", "ActionQueries", "ActionGroups",
                   "Users", "ActionConfig", "ActionSessions", "ActionKeywords", "ActionWatchers"});
  }
  std::vector<std::string> HistoryOf(int32_t actionID) {
    auto rs = History(As(kLead), actionID);
    std::vector<std::string> lines;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      lines.push_back(fmt::format("{} {} {}", vb::TextOf((*rs)["EventCode"].Value()),
                                  vb::TextOf((*rs)["UserID"].Value()),
                                  vb::TextOf((*rs)["EventText"].Value())));
    }
    return lines;
  }
  OpenOptions options_;
  std::vector<Session> sessions_;
  std::shared_ptr<kvdata::DataConnection> reader_;
};

template <class T>
T With(const std::function<void(T&)>& set) {
  T value;
  set(value);
  return value;
}
ListFilter Filter(const std::function<void(ListFilter&)>& set) { return With<ListFilter>(set); }

std::optional<vb::ComError> ErrorOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const vb::ComError& error) {
    return error;
  }
  return std::nullopt;
}

struct RoleCase {
  std::string command;
  std::set<Role> allowed;
  std::function<void(Session&, int32_t action)> run;  // on a new action of orig's, assigned to asg
  bool completed = false;                             // the action is completed first
};

TEST_P(AppTest, EachCommandIsAllowedExactlyToItsRolesAndARefusalChangesNothing) {
  const std::set<Role> all = {kLead, kOrig, kAsg, kBy, kViewer};
  const std::set<Role> parties = {kLead, kOrig, kAsg};
  // Commands a web form also runs (adding, copying, editing the subject, closing, deleting,
  // attaching and detaching, saving queries, and the user, workgroup and settings forms) are
  // pinned per role, with finer workgroups, by the page tables; here are the rest.
  const std::vector<RoleCase> cases = {
      {"edit result", parties,
       [](Session& s, int32_t id) {
         ASSERT_TRUE(Edit(s, id, {{"Result", "done"}}).stored);
       }},
      {"complete", parties, [](Session& s, int32_t id) { Complete(s, id, "ok"); }},
      {"review", parties, [](Session& s, int32_t id) { Review(s, id, 12); }},
      {"reopen", parties, [](Session& s, int32_t id) { Reopen(s, id); }, true},
      {"history", all, [](Session& s, int32_t id) { (void)History(s, id); }},
      {"user add SuperUser",
       {kLead},
       [](Session& s, int32_t) {
         UserAdd(s, {"boss", "B", "password9", "", -1});
       }},
      {"list users", {kLead, kOrig, kAsg, kBy}, [](Session& s, int32_t) { (void)UserList(s); }},
      {"list workgroups", {kLead}, [](Session& s, int32_t) { (void)WorkgroupList(s); }},
      {"own password", all, [](Session& s, int32_t) { UserPassword(s, s.userID(), "password8"); }},
      {"settings get", {kLead}, [](Session& s, int32_t) { (void)SettingGet(s, "SMTPHost"); }},
      {"sql", {kLead}, [](Session& s, int32_t) { (void)Sql(s, "update Users set GroupID = -1"); }},
      {"valid values",
       {kLead},
       [](Session& s, int32_t) {
         SetValidValues(s, "Priority", {"High", "Low"});
       }},
      {"settings at once",
       {kLead},
       [](Session& s, int32_t) {
         ASSERT_TRUE(SettingsSet(s, {{"DueDays", "9"}}).empty());
       }},
      {"own name", all, [](Session& s, int32_t) { OwnDetailsEdit(s, "New name", std::nullopt); }},
      {"who changed it", all,
       [](Session& s, int32_t id) { EXPECT_EQ(ChangesSince(s, id, 0).size(), 1u); }},
      {"watch", all, [](Session& s, int32_t id) { Watch(s, id); }},
      {"workgroup leads", {kLead}, [](Session& s, int32_t) { SetWorkgroupLeads(s, 1, {"by"}); }},
      {"read workgroup leads", {kLead}, [](Session& s, int32_t) { (void)WorkgroupLeads(s, 1); }},
  };
  for (const auto& entry : cases) {
    for (const Role role : all) {
      SCOPED_TRACE(entry.command + " as " + kUsers[role]);
      const int32_t id = NewAction();
      if (entry.completed) Complete(As(kAsg), id);
      const std::string before = Snapshot();
      const auto error = ErrorOf([&] { entry.run(As(role), id); });
      if (entry.allowed.contains(role)) {
        EXPECT_FALSE(error) << error->description();
        if (entry.command == "sql")
          (void)Sql(As(kLead), "update Users set GroupID = 1 where UserID <> 'lead'");
      } else {
        ASSERT_TRUE(error);
        EXPECT_EQ(KindOf(*error), ErrorKind::Refused) << error->description();
        EXPECT_EQ(Snapshot(), before);
      }
    }
  }
}

// Each action of a bulk change meets its own rules; the report tells each outcome, a refused
// action keeps every value (also those of a change that came with the refused move), and bad
// values or an oversized selection refuse the whole change before any action is touched.
BulkChange Change(FieldTexts fields, BulkMove move = BulkMove::None) {
  return {std::move(fields), move, {}};
}

TEST_P(AppTest, ABulkChangeAppliesEachActionsOwnRulesAndReportsEachOutcome) {
  const int32_t first = NewAction("One");
  const int32_t second = NewAction("Two");
  const int32_t foreign = Add(As(kLead), {{"Subject", "Lead's"}, {"Assignee", "asg"}});
  const auto outcomes = [](const BulkReport& report) {
    std::vector<std::string> words;
    for (const BulkItem& item : report.items) {
      words.push_back(fmt::format("{}:{}", item.number, BulkOutcomeWord(item.outcome)));
    }
    return fmt::format("{}", fmt::join(words, " "));
  };
  const auto number = [&](int32_t id) {
    return vb::TextOf((*Show(As(kLead), id))["ActionNumber"].Value());
  };
  const auto assignee = [&](int32_t id) {
    return vb::TextOf((*Show(As(kLead), id))["AssigneeID"].Value());
  };
  BulkSelection named;
  named.ids = {first, second, foreign, 9999, first};
  const BulkReport report = BulkApply(As(kOrig), named, Change({{"Assignee", "by"}}));
  EXPECT_EQ(outcomes(report), fmt::format("{}:changed {}:changed {}:refused 0:not found",
                                          number(first), number(second), number(foreign)));
  EXPECT_EQ(BulkSummary(report), "2 changed, 1 refused, 1 not found of 4 actions.");
  EXPECT_NE(report.items[2].message.find("EditAssignee"), std::string::npos);
  EXPECT_EQ(assignee(first), "by");
  EXPECT_EQ(assignee(foreign), "asg");
  EXPECT_NE(HistoryOf(first).back().find("Assignee"), std::string::npos);
  // Again: nothing to store.
  EXPECT_EQ(BulkSummary(BulkApply(As(kOrig), named, Change({{"Assignee", "by"}}))),
            "2 unchanged, 1 refused, 1 not found of 4 actions.");

  // The assignee may write the result but not close: the result stays unwritten too.
  BulkSelection both;
  both.ids = {foreign};
  const BulkReport closing =
      BulkApply(As(kAsg), both, Change({{"Result", "done"}}, BulkMove::Close));
  EXPECT_EQ(outcomes(closing), number(foreign) + ":refused");
  EXPECT_EQ(vb::TextOf((*Show(As(kLead), foreign))["Result"].Value()), "");

  // Moves go through Close, Reopen and Delete, with their own rules.
  BulkSelection mine;
  mine.ids = {first, second};
  EXPECT_EQ(BulkSummary(BulkApply(As(kOrig), mine, Change({}, BulkMove::Close))),
            "2 changed of 2 actions.");
  EXPECT_EQ(BulkApply(As(kOrig), mine, Change({}, BulkMove::Close)).items[0].outcome,
            BulkOutcome::Refused);
  // The person's numbers; and a saved query's or filter's actions.
  BulkSelection byNumber;
  byNumber.byNumber = true;
  byNumber.ids = {std::stoi(number(first)), 4242};
  EXPECT_EQ(outcomes(BulkApply(As(kOrig), byNumber, Change({}, BulkMove::Reopen))),
            number(first) + ":changed 4242:not found");
  BulkSelection listed;
  listed.list = ListRequest{};
  listed.list->filter.assignee = "by";
  EXPECT_EQ(outcomes(BulkApply(As(kLead), listed, Change({{"Priority", "High"}}))),
            fmt::format("{}:changed {}:changed", number(first), number(second)));

  // Refused as a whole, nothing touched.
  const std::string before = Snapshot();
  BulkSelection tooMany;
  for (int32_t id = 1; id <= kBulkLimit + 1; ++id) tooMany.ids.push_back(id);
  const std::vector<std::pair<std::string, std::function<void()>>> wrong = {
      {"DateDue: 'soon' is not a date",
       [&] {
         (void)BulkApply(As(kLead), mine, Change({{"DateDue", "soon"}}));
       }},
      {"No user has the ID",
       [&] {
         (void)BulkApply(As(kLead), mine, Change({{"Assignee", "nobody'; drop table actions"}}));
       }},
      {"change: field values or a move", [&] { (void)BulkApply(As(kLead), mine, Change({})); }},
      {"move: 'delete' is not a move without field values",
       [&] {
         (void)BulkApply(As(kLead), mine, Change({{"Priority", "Low"}}, BulkMove::Delete));
       }},
      {"ids: '501 actions' is not a selection of at most 500",
       [&] {
         (void)BulkApply(As(kLead), tooMany, Change({{"Priority", "Low"}}));
       }},
      {"move: 'shred' is not complete, close", [] { (void)BulkMoveOf("shred"); }},
  };
  for (const auto& [message, run] : wrong) {
    SCOPED_TRACE(message);
    const auto error = ErrorOf(run);
    ASSERT_TRUE(error);
    EXPECT_EQ(KindOf(*error), ErrorKind::InvalidInput);
    EXPECT_NE(error->description().find(message), std::string::npos) << error->description();
  }
  EXPECT_EQ(Snapshot(), before);

  // Deleting: the originator may, the assignee may not; watchers go with the action.
  Watch(As(kBy), second);
  BulkSelection gone;
  gone.ids = {second};
  EXPECT_EQ(BulkApply(As(kAsg), gone, Change({}, BulkMove::Delete)).items[0].outcome,
            BulkOutcome::Refused);
  EXPECT_EQ(BulkApply(As(kOrig), gone, Change({}, BulkMove::Delete)).items[0].outcome,
            BulkOutcome::Changed);
  EXPECT_EQ(kvdata::testing::TablesText(*Connect(), {"ActionWatchers"}).find("by"),
            std::string::npos);
}

TEST_P(AppTest, AnEditMergesOthersChangesAndReportsConflictsWithoutStoringAnything) {
  const int32_t id = NewAction("Old");
  const FieldTexts seen = {{"Subject", "Old"}, {"Priority", ""}, {"Category", ""}};
  ASSERT_TRUE(Edit(As(kLead), id, {{"Subject", "Lead's"}, {"Priority", "High"}}).stored);

  const std::string before = Snapshot();
  const EditResult clash = Edit(As(kOrig), id, {{"Subject", "Mine"}, {"Category", "Ops"}}, seen);
  EXPECT_FALSE(clash.stored);
  ASSERT_EQ(clash.conflicts.size(), 1U);
  const Conflict& c = clash.conflicts[0];
  EXPECT_EQ(std::tie(c.column, c.base, c.mine, c.theirs),
            std::make_tuple("Subject", "Old", "Mine", "Lead's"));
  EXPECT_EQ(Snapshot(), before);

  const EditResult merged = Edit(As(kOrig), id, {{"Category", "Ops"}}, seen);
  EXPECT_TRUE(merged.stored);
  EXPECT_EQ(merged.changed, std::vector<std::string>{"Category"});
  EXPECT_EQ(merged.merged, (std::vector<std::string>{"Priority", "Subject"}));
  auto row = Show(As(kOrig), id);
  EXPECT_EQ(vb::TextOf((*row)["Priority"].Value()), "High");
  EXPECT_EQ(vb::TextOf((*row)["Category"].Value()), "Ops");

  // A date the edit started from is the same date in ISO 8601 (as JSON writes it) and in the
  // session's short date form; only another date is someone else's change.
  ASSERT_TRUE(Edit(As(kLead), id, {{"DateDue", "12/20/2026 2:30 PM"}}).stored);
  for (const char* due : {"2026-12-20T14:30:00", "2026-12-20 14:30:00", "12/20/2026 2:30:00 PM"}) {
    const EditResult same = Edit(As(kOrig), id, {{"Category", due}}, {{"DateDue", due}});
    EXPECT_TRUE(same.stored && same.merged.empty()) << due;
  }
  ASSERT_TRUE(Edit(As(kOrig), id, {{"DateDue", "2026-12-21"}}, {{"DateDue", "2026-12-20T14:30:00"}})
                  .stored);
  const EditResult late =
      Edit(As(kOrig), id, {{"DateDue", "2026-12-24"}}, {{"DateDue", "2026-12-20T14:30:00"}});
  ASSERT_EQ(late.conflicts.size(), 1U);
  EXPECT_EQ(std::tie(late.conflicts[0].base, late.conflicts[0].theirs),
            std::make_tuple("12/20/2026 2:30:00 PM", "12/21/2026"));
}

TEST_P(AppTest, HistoryRecordsEveryStepWithItsAuthor) {
  const int32_t id = NewAction();
  const int32_t attachment = AttachmentAdd(As(kAsg), id, {"Plan", " HTTP://x/plan", "", ""});
  Complete(As(kAsg), id, "pump fixed");
  Close(As(kOrig), id);
  Reopen(As(kOrig), id);
  AttachmentRemove(As(kOrig), attachment);
  const int32_t copy = Copy(As(kBy), id);
  EXPECT_EQ(HistoryOf(id),
            (std::vector<std::string>{
                "1 orig Record Created",
                fmt::format("20 asg Attachment {} added: Plan", attachment),
                "7 asg The Assignee has completed the Action.",
                "8 asg The Results was set to: [3/15/2024 asg, completed] pump fixed",
                "4 orig The Date Closed was set to: 3/15/2024",
                "7 orig The Originator has closed the Action.",
                "4 orig The Date Closed was cleared",
                "8 orig The Date Completed was cleared from 3/15/2024",
                "7 orig The Originator has reopened the Action.",
                "7 orig The Action was reviewed by the Assignee or the Originator.",
                fmt::format("21 orig Attachment {} removed: Plan", attachment),
            }));
  const auto notes = vb::TextOf((*Show(As(kLead), id))["Results"].Value());
  EXPECT_EQ(notes, "[3/15/2024 asg, completed] pump fixed");
  EXPECT_EQ(HistoryOf(copy).back(), "22 by Copied from 1");

  // A value given for the first time is recorded in the library's words, once; a long text's
  // line shows the start of its first line, the whole text beside it; later changes of a long
  // text are the library's lines, without the text.
  const std::string log = "Pump log: " + std::string(60, 'x') + " day one, day two.\nMore.";
  const std::string oneLine = "Seal kit fitted.";
  ASSERT_TRUE(
      Edit(As(kLead), copy, {{"Priority", "High"}, {"Description", log}, {"Result", oneLine}})
          .stored);
  ASSERT_TRUE(Edit(As(kLead), copy, {{"Description", "Short."}, {"Priority", "Low"}}).stored);
  const std::vector<std::string> raw = HistoryOf(copy);
  ASSERT_GE(raw.size(), 5U);
  EXPECT_EQ(std::vector<std::string>(raw.end() - 5, raw.end()),
            (std::vector<std::string>{
                "8 lead The Priority was set to: High", "8 lead The Description was set to: " + log,
                "8 lead The Result was set to: " + oneLine, "8 lead The Description was changed",
                "8 lead The Priority was changed from High to Low"}));
  const auto history = *ViewOf(As(kLead), copy).history;
  ASSERT_GE(history.size(), 5U);
  const HistoryEntry& first = history[history.size() - 4];  // cut after a word, its comma off
  EXPECT_EQ(first.text,
            "The Description was set to: Pump log: " + std::string(60, 'x') + " day one…");
  EXPECT_EQ(first.whole, log);
  EXPECT_EQ(history[history.size() - 3].text, "The Result was set to: " + oneLine);
  EXPECT_EQ(history[history.size() - 3].whole, "");
  EXPECT_EQ(ViewFromJson(ViewJson(ViewOf(As(kLead), copy)), *Show(As(kLead), copy))
                .history->at(history.size() - 4)
                .whole,
            log);
}

TEST_P(AppTest, AUserLeavesHisOpenActionsToAnotherAndNewUsersJoinTheDefaultWorkgroup) {
  auto& lead = As(kLead);
  const int32_t open = NewAction();
  UserEdit(lead, "by", With<UserChanges>([](auto& c) {
             c.userName = "Bea";
             c.email = "bea@example.org";
           }));
  UserDelete(lead, "asg", "by");
  EXPECT_EQ(vb::TextOf((*Show(lead, open))["AssigneeID"].Value()), "by");
  EXPECT_EQ(vb::TextOf((*Show(lead, open))["Assignee"].Value()), "Bea");
  EXPECT_EQ(HistoryOf(open).back(), "6 lead The Assignee was changed from asg to Bea");
  EXPECT_EQ(ErrorOf([&] {
              CreateDatabase(options_, {"x", "X", "short", ""});
            })->number(),
            kInvalidInput);
  auto users = UserList(lead);
  std::map<std::string, int32_t> groups;
  for (; !users->IsEOF(); users->MoveNext()) {
    groups[vb::TextOf((*users)["UserID"].Value())] = vb::CLng((*users)["GroupID"].Value());
  }
  EXPECT_EQ(groups["orig"], vb::CLng(SettingGet(lead, "DefaultWorkgroup")));
  EXPECT_NE(groups["orig"], -1);
}

// Mistakes are input errors, and what would leave the database without a SuperUser or leave
// open actions to nobody is refused; neither changes anything.
TEST_P(AppTest, MistakesAndUnsafeAccountChangesAreRefusedAndChangeNothing) {
  auto& lead = As(kLead);
  const int32_t id = NewAction(), closed = NewAction(), completed = NewAction();
  Close(lead, closed);
  Complete(lead, completed);
  (void)WorkgroupAdd(lead, "Ops", {50});
  const auto edit = [&](FieldTexts changes) {
    return [&lead, id, changes] { (void)Edit(lead, id, changes); };
  };
  const auto add = [&](FieldTexts values) { return [&lead, values] { (void)Add(lead, values); }; };
  const auto list = [&](const std::function<void(ListRequest&)>& set) {
    return [&lead, request = With<ListRequest>(set)] { (void)List(lead, request); };
  };
  const auto userAdd = [&](NewUser user) { return [&lead, user] { UserAdd(lead, user); }; };
  const auto setting = [&](std::string key, std::string value) {
    return [&lead, key, value] { SettingSet(lead, key, value); };
  };
  const auto link = [&](std::string url) {
    return [&lead, id, url] { (void)AttachmentAdd(lead, id, {"", url, "", ""}); };
  };
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"action: '2' is not open (it is closed)", [&] { Complete(lead, closed); }},
      {"action: '3' is not open (it is already completed)", [&] { Complete(lead, completed); }},
      {"action: '2' is not open (it is already closed)", [&] { Close(lead, closed); }},
      {"action: '1' is not closed or completed (it is open)", [&] { Reopen(lead, id); }},
      {"ActionID: not a column a person may set", edit({{"ActionID", "5"}})},
      {"Reviewed: '99' is not a review status (0-2, 10-12, 40-42 or 50-52)",
       edit({{"Reviewed", "99"}})},
      {"DateDue: '31/12/2026' is not a date in the form M/d/yyyy",
       edit({{"DateDue", "31/12/2026"}})},
      {"Subject: a subject is required", add({{"Category", "x"}})},
      {"Subject: a subject is required", edit({{"Subject", ""}})},
      {"Subject: at most 255 characters (got 300)", add({{"Subject", std::string(300, 's')}})},
      {"Assignee: no user has the ID nobody.", edit({{"Assignee", "nobody"}})},
      {"No saved query has the ID 99.", list([](auto& r) { r.queryID = 99; })},
      {"No saved query has the ID 77.", [&] { QueryDelete(lead, 77); }},
      {"status: 'later' is not a state: active, open, due-today, overdue, completed, "
       "clarification, rejected or closed (several separated by commas)",
       list([](auto& r) { r.filter.status = "later"; })},
      {"status: 'later' is not a state: active, open, due-today, overdue, completed, "
       "clarification, rejected or closed (several separated by commas)",
       [] {
         (void)FilterOf({{"status", "later"}});
       }},
      {"dueWithin: '-1' is not a whole number from 0 to 32767",
       [] {
         (void)FilterOf({{"dueWithin", "-1"}});
       }},
      {"mine: 'perhaps' is not true or false",
       [] {
         (void)FilterOf({{"mine", "perhaps"}});
       }},
      {"within: a field of a list filter",
       [] {
         (void)FilterOf({{"within", "3"}});
       }},
      {"sort: 'Subject; drop' is not a column, state or turn, with an optional asc or desc",
       list([](auto& r) { r.sort = "Subject; drop"; })},
      {"dueWithin: in a saved query only with status active or no status",
       [&] {
         (void)QueryAdd(lead,
                        {"soon", Filter([](auto& f) { f.dueWithin = 3, f.status = "closed"; })});
       }},
      {"status: 'due-today' is not a status a saved query keeps: active, closed, overdue or "
       "completed",
       [&] {
         (void)QueryAdd(lead, {"today", Filter([](auto& f) { f.status = "due-today"; })});
       }},
      {"mine: not together with an assignee or an originator",
       list([](auto& r) { r.filter.mine = true, r.filter.assignee = "by"; })},
      {"limit: '-1' is not 0 or more", list([](auto& r) { r.limit = -1; })},
      {"rights: '999' is not a right number of the catalogue",
       [&] {
         (void)WorkgroupAdd(lead, "Bad", {50, 999});
       }},
      {"name: 'ops' is not a new workgroup name (it is taken)",
       [&] { (void)WorkgroupAdd(lead, "ops", {50}); }},
      {"name: a workgroup name is required", [&] { (void)WorkgroupAdd(lead, "", {50}); }},
      {"name: a query name is required", [&] { (void)QueryAdd(lead, {}); }},
      {"setting: 'SMTPhostt' is not a known key (SMTPHost, SMTPDefault, AutoEmail, AttachmentPath, "
       "AttachmentURL, AttachmentMode, DueDays, DefaultWorkgroup, WebURL, SMTPSecurity, SMTPUser, "
       "SMTPCAFile, SMTPTimeout, TimeZone, ReminderTime, ReminderFrom, Version, WebHeadTimeout, "
       "WebBodyTimeout, WebMinBodyRate, WebIdleTimeout, WebMaxConnections, "
       "WebMaxConnectionsPerAddress, WebMaxHeadKiB, WebMaxFormKiB, WebMaxUploadMiB, WebWorkers, "
       "WebQueueLimit, WebStopTimeout, ReplyAddress)",
       setting("SMTPhostt", "x")},
      {"AutoEmail: 'maybe' is not true or false", setting("AutoEmail", "maybe")},
      {"ReplyAddress: 'team+x@example.org' is not an address such as actions@example.org (no "
       "'+', at most 28 characters before the '@')",
       setting("ReplyAddress", "team+x@example.org")},
      {"DueDays: '40000' is not a whole number from 0 to 32767", setting("DueDays", "40000")},
      {"DefaultWorkgroup: '0' is not the ID of a workgroup other than SuperUser",
       setting("DefaultWorkgroup", "0")},
      {"ReminderTime: '7am' is not a time of day HH:MM (24-hour)", setting("ReminderTime", "7am")},
      {"SMTPHost: 'file:///tmp/notice' is not " + std::string(kRelayForms),
       setting("SMTPHost", "file:///tmp/notice")},
      {"SMTPHost: 'http://mail.example.com' is not " + std::string(kRelayForms),
       setting("SMTPHost", "http://mail.example.com")},
      // A link is a web address however its scheme is written or padded; nothing else.
      {"url: 'javascript:alert(1)' is not an http:// or https:// address",
       link("javascript:alert(1)")},
      {"url: ' \x01JavaScript:alert(1)' is not an http:// or https:// address",
       link(" \x01JavaScript:alert(1)")},
      {"url: 'DATA:text/html,<b>' is not an http:// or https:// address",
       link("DATA:text/html,<b>")},
      {"url: 'vbscript:msgbox' is not an http:// or https:// address", link("vbscript:msgbox")},
      {"url: 'http:x' is not an http:// or https:// address", link("http:x")},
      {"user: a user ID is required", userAdd({"", "Y", "password9", "", {}})},
      {"email: 'y.example.org' is not an e-mail address",
       userAdd({"y", "Y", "password9", "y.example.org", {}})},
      {"password: at least 8 characters are required", userAdd({"y", "Y", "", "", {}})},
      {"reassignTo: 'asg' is not another user", [&] { UserDelete(lead, "asg", "asg"); }},
      {"Refused: asg has open actions (1, 3); name a user to reassign them to.",
       [&] { UserDelete(lead, "asg"); }},
      {"Refused: lead is the last SuperUser.", [&] { UserDelete(lead, "lead"); }},
      {"Refused: lead is the last SuperUser.",
       [&] { UserEdit(lead, "lead", With<UserChanges>([](auto& c) { c.group = 1; })); }},
  };
  for (const auto& [message, run] : cases) {
    SCOPED_TRACE(message);
    const std::string before = Snapshot();
    const auto error = ErrorOf(run);
    ASSERT_TRUE(error);
    EXPECT_EQ(KindOf(*error),
              message.starts_with("Refused:") ? ErrorKind::Refused : ErrorKind::InvalidInput);
    if (message.find("no user") == std::string::npos) {
      EXPECT_EQ(error->description(), message);
    }
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_P(AppTest, ListsFilterLikeSavedQueriesAndStream) {
  auto& lead = As(kLead);
  const int32_t a = NewAction("alpha pump");
  (void)Add(lead, {{"Subject", "beta"}, {"Category", "Ops"}, {"DateDue", "3/10/2024"}});
  (void)Add(lead, {{"Subject", "gamma"}, {"DateDue", "3/20/2024"}, {"Assignee", "by"}});
  Complete(As(kAsg), a);
  const std::vector<std::pair<ListFilter, std::vector<int32_t>>> cases = {
      {ListFilter{}, {2, 3}},  // the default: lead's open actions
      {Filter([](auto& f) { f.status = "completed"; }), {1}},
      {Filter([](auto& f) { f.status = "overdue"; }), {2}},
      {Filter([](auto& f) { f.dueWithin = 7; }), {2, 3}},
      {Filter([](auto& f) { f.category = "ops"; }), {2}},
      {Filter([](auto& f) { f.grep = "PUMP"; }), {1}},
      {Filter([](auto& f) { f.assignee = "by"; }), {3}},
      // The text is looked for in every column a person reads: a category, a person's name.
      {Filter([](auto& f) { f.grep = "OPS"; }), {2}},
      {Filter([](auto& f) { f.grep = "Lee Le"; }), {2, 3}},
      {Filter([](auto& f) { f.grep = "' or ''='"; }), {}},
      // Date bounds are inclusive, in either form, alone or with other criteria.
      {FilterOf({{"dueFrom", "2024-03-10"}, {"dueTo", "3/19/2024"}}), {2}},
      {FilterOf({{"dueTo", "2024-03-20"}, {"grep", "gamma"}}), {3}},
      {FilterOf({{"completedFrom", "2024-01-01"}}), {1}},
      {FilterOf({{"closedFrom", "2000-01-01"}}), {}},
      // The texts every front end passes read the same way.
      {FilterOf({{"status", "Completed"}}), {1}},
      {FilterOf({{"mine", "on"}, {"dueWithin", "7"}}), {2, 3}},
  };
  const auto numbers = [&](const ListRequest& request) {
    std::vector<int32_t> got;
    for (auto rs = List(lead, request); !rs->IsEOF(); rs->MoveNext()) {
      got.push_back(vb::CLng((*rs)["ActionNumber"].Value()));
    }
    return got;
  };
  for (const auto& [filter, expected] : cases) {
    const auto request = With<ListRequest>([&](auto& r) {
      r.filter = filter;
      r.columns = {"ActionNumber"};
    });
    EXPECT_EQ(numbers(request), expected);
    EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) {
                          r.filter = filter;
                          r.limit = 1;  // the count ignores the page
                        })),
              static_cast<int32_t>(expected.size()));
  }

  // A count and a page read the rows the list reads: the same conditions, the same order.
  for (const auto& [filter, numbers] : cases) {
    EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) { r.filter = filter; })),
              static_cast<int32_t>(numbers.size()));
  }
  auto second = List(lead, With<ListRequest>([](auto& r) {
                       r.filter.grep = "a";  // every action
                       r.limit = 1;
                       r.offset = 1;
                     }));
  EXPECT_EQ(vb::CLng((*second)["ActionNumber"].Value()), 2);
  second->MoveNext();
  EXPECT_TRUE(second->IsEOF());
  auto beyond = List(lead, With<ListRequest>([](auto& r) {
                       r.filter.grep = "a";
                       r.limit = 5;
                       r.offset = 9;
                     }));
  EXPECT_TRUE(beyond->IsEOF());
  EXPECT_EQ(ErrorOf([&] {
              (void)List(lead, With<ListRequest>([](auto& r) { r.offset = -1; }));
            })->number(),
            kInvalidInput);

  // A saved query reads back as the filter it was saved from, and its owner may change it.
  const ListFilter byOps = Filter([](auto& f) {
    f.assignee = "by";
    f.category = "Ops";
    f.dueWithin = 5;
  });
  const int32_t query = QueryAdd(lead, {"By's ops", byOps});
  const SavedQuery saved = QueryOf(lead, query);
  EXPECT_EQ(std::tie(saved.definition.name, saved.owner, saved.complete),
            std::make_tuple(std::string("By's ops"), std::string("lead"), true));
  EXPECT_EQ(
      std::tie(saved.definition.filter.assignee, saved.definition.filter.category,
               saved.definition.filter.dueWithin, saved.definition.filter.mine),
      std::make_tuple(std::string("by"), std::string("Ops"), std::optional<int32_t>(5), false));
  QueryUpdate(lead, query, {"Closed ones", Filter([](auto& f) { f.status = "closed"; })});
  const SavedQuery updated = QueryOf(lead, query);
  EXPECT_EQ(updated.definition.name, "Closed ones");
  EXPECT_EQ(updated.definition.filter.status, "closed");
  EXPECT_TRUE(updated.definition.filter.assignee.empty()) << "criteria not given are dropped";
  EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) { r.queryID = query; })), 0);
  // Another's query is not his to change, shared or not, nor a query a filter it cannot hold.
  QueryShare(lead, query, true);
  const std::string before = Snapshot();
  for (const bool shared : {true, false}) {
    QueryShare(lead, query, shared);
    EXPECT_EQ(ErrorOf([&] {
                QueryUpdate(As(kOrig), query, {"Mine now", Filter([](auto& f) { f.mine = true; })});
              })->number(),
              kRefused);
  }
  QueryShare(lead, query, true);
  const auto bad = ErrorOf([&] {
    QueryUpdate(lead, query, {"Text", Filter([](auto& f) { f.dueTo = "2024-02-30"; })});
  });
  EXPECT_EQ(bad->description(),
            "dueTo: '2024-02-30' is not a date in the form yyyy-mm-dd or M/d/yyyy");
  EXPECT_EQ(Snapshot(), before);
  // Date bounds are the query's own criteria; the text and the reference are kept beside it.
  QueryUpdate(lead, query, {"Text", Filter([](auto& f) {
                              f.grep = "gamma' --";
                              f.dueFrom = "3/1/2024";
                              f.dueTo = "2024-03-31";
                            })});
  const SavedQuery texts = QueryOf(lead, query);
  EXPECT_TRUE(texts.complete);
  EXPECT_EQ(std::tie(texts.definition.filter.grep, texts.definition.filter.dueFrom,
                     texts.definition.filter.dueTo),
            std::make_tuple(std::string("gamma' --"), std::string("2024-03-01"),
                            std::string("2024-03-31")));
  EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) { r.queryID = query; })), 0);
  QueryUpdate(lead, query, {"Text", Filter([](auto& f) {
                              f.grep = "GAMMA";
                              f.dueTo = "2024-03-31";
                            })});
  EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) { r.queryID = query; })), 1);
  QueryUpdate(lead, query, {"Closed ones", Filter([](auto& f) { f.status = "closed"; })});
  EXPECT_TRUE(QueryOf(lead, query).definition.filter.grep.empty()) << "a text not given is dropped";
  // A query saved with text criteria only runs.
  (void)Connect()->Execute(
      fmt::format("update ActionQueries set Subject = 'pump' where QueryID = {}", query));
  EXPECT_FALSE(QueryOf(lead, query).complete);

  EXPECT_EQ(numbers(With<ListRequest>([](auto& r) {
              r.filter.status = "open";
              r.sort = "ActionNumber desc";
              r.limit = 1;
            })),
            std::vector<int32_t>{3});

  // The default list by number reads the person's assigned and raised actions apart and merges
  // them: each action once, in order, up to the limit, whichever side it comes from.
  (void)Add(As(kOrig), {{"Subject", "assigned to lead"}, {"Assignee", "lead"}});  // 4
  (void)Add(lead, {{"Subject", "lead's own"}, {"Assignee", "lead"}});             // 5
  const int32_t closed = Add(As(kOrig), {{"Subject", "closed"}, {"Assignee", "lead"}});
  Close(lead, closed);
  const std::vector<
      std::tuple<std::string, std::vector<std::string>, int32_t, std::vector<int32_t>>>
      pages = {
          {"", {"ActionNumber", "Subject"}, 51, {2, 3, 4, 5}},
          {"ActionNumber desc", {}, 3, {5, 4, 3}},
          {"actionnumber ASC", {"Subject", "ActionNumber"}, 2, {2, 3}},
          {"ActionNumber desc", {"ActionNumber"}, 1, {5}},
          {"Subject", {"ActionNumber"}, 2, {4, 2}},  // by another column: one read
      };
  for (const auto& [sort, columns, limit, expected] : pages) {
    SCOPED_TRACE(sort + " " + std::to_string(limit));
    const auto request = With<ListRequest>([&](auto& r) {
      r.sort = sort;
      r.columns = columns;
      r.limit = limit;
    });
    EXPECT_EQ(numbers(request), expected);
    EXPECT_EQ(List(lead, request)->Fields().Count(), columns.empty()
                                                         ? List(lead, {})->Fields().Count()
                                                         : static_cast<int32_t>(columns.size()));
  }
  EXPECT_EQ(ListCount(lead, {}), 4);

  // By state and by whose turn, as the list shows them (for lead: his own turn first), ties by
  // number, on every engine.
  const ListFilter everyone = FilterOf({{"status", "active,closed"}});
  const std::vector<std::pair<std::string, std::vector<int32_t>>> orders = {
      {"turn, ActionNumber", {2, 4, 5, 1, 3, 6}},  // lead's, orig's (completed), by's, closed
      {"turn desc, ActionNumber desc", {6, 3, 1, 5, 4, 2}},
      {"state, ActionNumber", {3, 4, 5, 2, 1, 6}},  // open, overdue, completed, closed
  };
  for (const auto& [sort, expected] : orders) {
    SCOPED_TRACE(sort);
    EXPECT_EQ(numbers(With<ListRequest>([&](auto& r) {
                r.filter = everyone;
                r.sort = sort;
              })),
              expected);
  }
}

// The text search reads an index of the actions' text that every writer keeps true (the
// library, or any client writing the table itself), and finds a person's text as typed.
TEST_P(AppTest, TheTextSearchFindsTextAsTypedWhoeverWroteTheRow) {
  auto& lead = As(kLead);
  (void)Add(lead, {{"Subject", "Valve"}, {"Description", "100% sure_thing"}});
  (void)Add(lead, {{"Subject", "Pipe"}, {"Reference", "TKT-9"}, {"ReferenceID", "O'Hara\\b"}});
  (void)Add(lead, {{"Subject", "Tank"}, {"Priority", "Urgent"}, {"Assignee", "asg"}});
  (void)Add(lead, {{"Subject", "Pump 50 percent sure thing"}, {"Category", "Purchasing"}});
  auto& connection = internal::Connection(lead);
  (void)connection.Execute(
      "insert into actions (ActionNumber, Subject, Result) values (99, 'Raw', 'gasket leak')");
  const auto found = [&](const std::string& text) {
    const auto request = With<ListRequest>([&](auto& r) {
      r.filter.grep = text;
      r.columns = {"ActionNumber"};
    });
    std::vector<int32_t> got;
    for (auto rs = List(lead, request); !rs->IsEOF(); rs->MoveNext()) {
      got.push_back(vb::CLng((*rs)["ActionNumber"].Value()));
    }
    EXPECT_EQ(ListCount(lead, request), static_cast<int32_t>(got.size())) << text;
    return got;
  };
  const std::vector<std::pair<std::string, std::vector<int32_t>>> cases = {
      // Wildcards, quotes and the escape character are characters like any other.
      {"0% s", {1}},  // not "50 percent s"
      {"e_t", {1}},   // not "sure thing"
      {"%", {1}},
      {"_", {1}},
      {"o'hara\\", {2}},
      {"\\", {2}},
      // Each kind of column: a reference, a priority, a category, a person, a result.
      {"TKT-", {2}},
      {"URGENT", {3}},
      {"purchas", {4}},
      {"asg", {3}},
      {"GASKET", {99}},
      // Shorter than an index can answer: the same rows.
      {"0%", {1}},
      {"ur", {3, 4, 1}},
      // The index's own query words are text too.
      {"\" OR \"a", {}},
      {"sure*", {}},
      {"Pump NEAR(Tank)", {}},
  };
  for (const auto& [text, numbers] : cases) {
    std::vector<int32_t> expected = numbers;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found(text), expected) << text;
  }
  // Changes, by the library or by hand, leave the index true.
  ASSERT_TRUE(Edit(lead, 3, {{"Priority", "Low"}}).stored);
  EXPECT_EQ(found("urgent"), std::vector<int32_t>{});
  (void)connection.Execute("update actions set Result = 'seal' where ActionNumber = 99");
  EXPECT_EQ(found("gasket"), std::vector<int32_t>{});
  EXPECT_EQ(found("seal"), std::vector<int32_t>{99});
  (void)connection.Execute("delete from actions where ActionNumber = 99");
  EXPECT_EQ(found("seal"), std::vector<int32_t>{});

  // The engine answers a search through the index, not by reading every row: the plans of the
  // count and of the page as the engine runs them. PostgreSQL's planner reads a handful of rows
  // faster by walking the table or the action numbers, so it is told to avoid both where it can.
  auto& engine = connection.Engine();
  const bool sqlite = engine.Target() == kvdata::sql::Target::SQLite;
  const auto planner = [&](std::string_view how) {
    if (sqlite) return;
    for (const auto* scan : {"enable_seqscan", "enable_indexscan"}) {
      (void)engine.Execute(fmt::format("{} {}", how, scan) + (how == "SET" ? " = off" : ""));
    }
  };
  planner("SET");
  for (const int32_t limit : {0, 50}) {
    connection.ClearTrace();
    const auto request = With<ListRequest>([&](auto& r) {
      r.filter.grep = "valve";
      r.limit = limit;
    });
    if (limit == 0) {
      (void)ListCount(lead, request);
    } else {
      (void)List(lead, request);
    }
    const std::string text = connection.EngineText(connection.Trace().back().text);
    std::string plan;
    for (const auto& row :
         engine.Execute((sqlite ? "EXPLAIN QUERY PLAN " : "EXPLAIN ") + text).rows) {
      plan += vb::TextOf(row.back()) + "\n";
    }
    SCOPED_TRACE(text);
    if (sqlite) {
      EXPECT_NE(plan.find("VIRTUAL TABLE"), std::string::npos) << plan;
      EXPECT_EQ(plan.find("SCAN actions"), std::string::npos) << plan;
    } else {
      EXPECT_NE(plan.find("ix_actions_text"), std::string::npos) << plan;
    }
  }
  planner("RESET");
}

// A list read page by page, each page from the one before's continuation, holds exactly the
// rows of one read in their order: for every kind of sort key, both directions, ties, Nulls and
// letter case, forwards and backwards, with the key's columns asked for or not.
TEST_P(AppTest, EverySortReadsOnPageByPageExactlyAsOneReadDoes) {
  auto& lead = As(kLead);
  {
    const auto rs = Connect()->OpenRecordset("select * from actions where ActionID = 0");
    const std::vector<vb::Variant> subjects = {vb::Variant("alpha"), vb::Variant("Alpha"),
                                               vb::Variant("beta"), vb::Variant("O'Brien"),
                                               vb::Variant(vb::Null)};
    const std::vector<vb::Variant> categories = {vb::Variant("Ops"), vb::Variant("ops"),
                                                 vb::Variant(vb::Null), vb::Variant("Zed")};
    for (int32_t i = 0; i < 120; ++i) {
      const auto day = [&](int32_t every, int32_t spread) {
        return i % every == 0 ? vb::Variant(vb::Null)
                              : vb::Variant(vb::Date::FromParts(2024, 3, 1 + i % spread,
                                                                i % 3 == 0 ? 14 : 0, 0, 0));
      };
      rs->AddNew({"ActionNumber", "Subject", "AssigneeID", "OriginatorID", "DateDue",
                  "DateCompleted", "DateClosed", "Reviewed", "Category", "Alert", "Description"},
                 {vb::Variant(1000 - 7 * i), subjects[i % subjects.size()],
                  vb::Variant(i % 2 == 0 ? "lead" : "asg"),
                  vb::Variant(i % 3 == 0 ? "lead" : "orig"), day(4, 5), day(3, 2),
                  i % 6 == 5 ? vb::Variant(vb::Date::FromParts(2024, 3, 1 + i % 4))
                             : vb::Variant(vb::Null),
                  i % 5 == 0 ? vb::Variant(vb::Null) : vb::Variant(int16_t(i % 3)),
                  categories[i % categories.size()], vb::Variant(i % 2 == 0),
                  vb::Variant(fmt::format("note {}", i % 4))});
    }
  }
  const int32_t all = QueryAdd(lead, {"Every action", {}});
  // The rows' numbers (unique) as read.
  const auto numbers = [](ado::Recordset& rows) {
    std::vector<int32_t> got;
    for (; !rows.IsEOF(); rows.MoveNext()) got.push_back(vb::CLng(rows["ActionNumber"].Value()));
    return got;
  };
  const std::vector<std::string> sorts = {
      "ActionNumber", "ActionNumber desc", "ActionID desc", "Subject", "Subject desc",
      "Category desc", "DateDue", "DateDue desc", "DateClosed", "Reviewed desc",
      // The list page's sort by state, and keys of different kinds together.
      "DateClosed desc, DateCompleted desc, Reviewed desc, ActionNumber asc",
      "Category, DateDue desc, Subject", "Reviewed, Subject desc",
      // A yes/no column and a long text continue by position.
      "Alert desc", "Description, Subject"};
  for (const std::optional<int32_t> query : {std::optional<int32_t>(), std::optional(all)}) {
    for (const std::string& sort : sorts) {
      for (const std::vector<std::string>& columns :
           {std::vector<std::string>{}, std::vector<std::string>{"ActionNumber", "Subject"}}) {
        SCOPED_TRACE(fmt::format("{} {} {}", query ? "all" : "own", sort, columns.size()));
        ListRequest request;
        request.queryID = query;
        request.sort = sort;
        request.columns = columns;
        const std::vector<int32_t> whole = numbers(*List(lead, request));
        ASSERT_EQ(whole.size(), query ? 120U : 80U);
        request.limit = 7;
        std::vector<int32_t> forwards;
        std::string last;  // the last page's continuation backwards
        for (int32_t pages = 0; pages < 30; ++pages) {
          const ListPage page = ListPageOf(lead, request);
          ASSERT_EQ(page.rows->Fields().Count(), columns.empty()
                                                     ? List(lead, {})->Fields().Count()
                                                     : static_cast<int32_t>(columns.size()));
          EXPECT_EQ(page.previous.empty(), pages == 0);
          last = page.previous;
          const std::vector<int32_t> rows = numbers(*page.rows);
          forwards.insert(forwards.end(), rows.begin(), rows.end());
          if (page.next.empty()) break;
          request.after = page.next;
        }
        EXPECT_EQ(forwards, whole);
        // Back from the last page to the first.
        request.after.clear();
        std::vector<int32_t> backwards(whole.end() - (whole.size() % 7 ? whole.size() % 7 : 7),
                                       whole.end());
        for (request.before = last; !request.before.empty();) {
          const ListPage page = ListPageOf(lead, request);
          std::vector<int32_t> rows = numbers(*page.rows);
          ASSERT_FALSE(page.next.empty());
          backwards.insert(backwards.begin(), rows.begin(), rows.end());
          request.before = page.previous;
        }
        EXPECT_EQ(backwards, whole);
      }
    }
  }

  // A continuation is data: a text that is not one, one of another sort, a key value that would
  // end the statement's text; each is refused by name or reads as the value it is.
  const auto refusal = [&](const std::string& sort, const std::string& after) {
    return ErrorOf([&] {
      (void)ListPageOf(lead, With<ListRequest>([&](auto& r) {
                         r.queryID = all;
                         r.sort = sort;
                         r.limit = 5;
                         r.after = after;
                       }));
    });
  };
  const auto encoded = [](const std::string& json) {
    std::string text = kvdata::ToBase64(json);
    while (!text.empty() && text.back() == '=') text.pop_back();
    for (char& c : text) c = c == '+' ? '-' : (c == '/' ? '_' : c);
    return text;
  };
  const std::string bySubject = ListPageOf(lead, With<ListRequest>([&](auto& r) {
                                             r.queryID = all;
                                             r.sort = "Subject";
                                             r.limit = 5;
                                           }))
                                    .next;
  for (const auto& [sort, after] : std::vector<std::pair<std::string, std::string>>{
           {"Subject", "garbage"},
           {"Subject", "e30"},  // {}
           {"DateDue", bySubject},
           {"Alert", bySubject},
           {"Subject", encoded(R"({"k": [["Subject", 5], ["ActionID", 1]]})")},
           {"Subject", encoded(R"({"k": [["Subject", "x"], ["ActionID", null]]})")},
           {"Subject", encoded(R"({"k": [["Subject", "a\u0000b"], ["ActionID", 1]]})")},
           {"Subject", encoded(R"({"k": [["Subject", "x"], ["ActionID", 4294967296]]})")},
           {"DateDue", encoded(R"({"k": [["DateDue", "2024-02-30"], ["ActionID", 1]]})")},
           {"DateDue", encoded(R"({"k": [["DateDue", "1' or '1'='1"], ["ActionID", 1]]})")},
           {"Alert", encoded(R"({"o": -1})")},
       }) {
    SCOPED_TRACE(sort + " " + after);
    const auto error = refusal(sort, after);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), kInvalidInput);
    EXPECT_EQ(error->description().rfind("after: ", 0), 0U) << error->description();
  }
  EXPECT_EQ(ErrorOf([&] {
              (void)ListPageOf(lead, With<ListRequest>([&](auto& r) {
                                 r.limit = 5;
                                 r.offset = 5;
                                 r.after = bySubject;
                               }));
            })->number(),
            kInvalidInput);
  // Past every stored subject: the hostile texts find what an honest one there finds.
  const auto after = [&](const std::string& subject) {
    return numbers(*ListPageOf(lead, With<ListRequest>([&](auto& r) {
                                 r.queryID = all;
                                 r.sort = "Subject";
                                 r.limit = 200;
                                 using Json = nlohmann::json;
                                 r.after = encoded(
                                     Json{{"k", Json::array({Json::array({"Subject", subject}),
                                                             Json::array({"ActionID", 0})})}}
                                         .dump());
                               }))
                        .rows);
  };
  const std::vector<int32_t> honest = after("xx");
  for (const char* hostile : {"x' or '1'='1", "x'; delete from actions; select '", "x' or 1=1 --",
                              "x\" or \"1\"=\"1", "x\\' or 1=1 --"}) {
    EXPECT_EQ(after(hostile), honest) << hostile;
  }
  EXPECT_EQ(ListCount(lead, With<ListRequest>([&](auto& r) { r.queryID = all; })), 120);
}

TEST(ErrorWords, NameMissingRightsByTheirNamesAndKeepOtherDetailsOut) {
  const auto words = [](const vb::ComError& error) { return WordsFor(error); };
  EXPECT_EQ(words(Refusal("adding an action", 50)).sentence,
            "Adding an action needs the permission “Add Actions”, which your account does not "
            "have.");
  const int32_t admin[] = {41, 42};
  const ErrorWords either = words(Refusal("the users page", admin));
  EXPECT_EQ(either.title, "Not allowed");
  EXPECT_EQ(either.sentence.find("41"), std::string::npos) << either.sentence;
  EXPECT_NE(either.sentence.find("one of the permissions “Add users and edit user information” or"),
            std::string::npos)
      << either.sentence;
  EXPECT_EQ(words(RefusalText("Refused: lead is the last SuperUser.")).sentence,
            "Lead is the last SuperUser.");
  EXPECT_EQ(words(NotFound("action", "number", "7")).title, "Not found");
  EXPECT_EQ(words(Invalid("DateDue", "soon", "a date")).sentence, "DateDue: 'soon' is not a date");
  const ErrorWords hidden = words(vb::ComError(-2147467259, "engine", "relation secret_table"));
  EXPECT_EQ(hidden.sentence, "The server could not complete this request.");
}

TEST(Calendar, TextsAreEscapedAndLinesFoldedAtSeventyFiveOctets) {
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"a,b;c\\d", "a\\,b\\;c\\\\d"},
      {"one\r\ntwo\nthree\rfour", "one\\ntwo\\nthree\\nfour"},
      {std::string("bell\x07 tab\t nul\0!", 16), "bell tab\t nul!"},
      {"plain: text", "plain: text"},
  };
  for (const auto& [text, escaped] : texts) EXPECT_EQ(IcsText(text), escaped) << text;

  EXPECT_EQ(IcsLine(std::string(75, 'x')), std::string(75, 'x') + "\r\n");
  EXPECT_EQ(IcsLine(std::string(76, 'x')), std::string(75, 'x') + "\r\n x\r\n");
  const std::string folded = IcsLine("SUMMARY:" + std::string(200, 'y'));
  size_t lines = 0;
  for (size_t start = 0; start < folded.size(); ++lines) {
    const size_t end = folded.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 75u);
    if (start > 0) {
      EXPECT_EQ(folded[start], ' ');
    }
    start = end + 2;
  }
  EXPECT_EQ(lines, 3u);
  // A fold never splits a character: "é" is two octets, the 75th and 76th.
  const std::string wide = IcsLine(std::string(74, 'z') + "\xc3\xa9");
  EXPECT_EQ(wide, std::string(74, 'z') + "\r\n \xc3\xa9\r\n");

  const std::string text =
      CalendarText("kvAction: asg",
                   {{"action-7@example.org", vb::Date::FromParts(2026, 12, 31),
                     "No. 3: Pumps, valves; \\ etc", "https://example.org/action/7"}},
                   "20261207T101500Z");
  for (const std::string line :
       {"BEGIN:VCALENDAR\r\nVERSION:2.0\r\n", "UID:action-7@example.org\r\n",
        "DTSTAMP:20261207T101500Z\r\n", "DTSTART;VALUE=DATE:20261231\r\n",
        "DTEND;VALUE=DATE:20270101\r\n", "SUMMARY:No. 3: Pumps\\, valves\\; \\\\ etc\r\n",
        "URL:https://example.org/action/7\r\n", "END:VEVENT\r\nEND:VCALENDAR\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find('\n', 0), text.find("\r\n") + 1) << "every line ends in CRLF";
}

TEST_P(AppTest, UpgradeAddsWhatAnOlderDatabaseLacksOnceAndDeleteTakesTheAttachments) {
  // A second fresh database on the same engine.
  struct Older : kvdata::testing::DatabaseTest {
    Older() { SetUp(); }
    ~Older() override { TearDown(); }
    using DatabaseTest::ConnectionString;
    void TestBody() override {}
  } older;
  kvdata::DataServer::CreateDatabase(older.ConnectionString(),
                                     {"old", "Old", "password1", kvdata::PasswordCost::Minimum});
  {
    // Made before sessions and the text index, with an action already in it.
    const auto made = kvdata::DataConnection::Open(older.ConnectionString());
    (void)made->Execute("drop table ActionSessions");
    auto& engine = made->Engine();
    if (engine.Target() == kvdata::sql::Target::SQLite) {
      for (const auto* change : {"insert", "update", "delete"}) {
        (void)engine.Execute(fmt::format("DROP TRIGGER \"ActionSearch_{}\"", change));
      }
      (void)engine.Execute("DROP TABLE \"ActionSearch\"");
    } else {
      (void)engine.Execute("DROP INDEX \"ix_actions_text\"");
    }
    (void)made->Execute("insert into actions (ActionNumber, Subject) values (7, 'Old gasket')");
  }
  OpenOptions options = options_;
  options.connection = older.ConnectionString();
  const auto changes = Upgrade(options);
  ASSERT_EQ(changes.size(), 4U);
  EXPECT_EQ(changes[0], "Added the table ActionSessions (signed-in sessions).");
  EXPECT_EQ(changes[1], "Added the text search index (the list's text filter reads it).");
  EXPECT_EQ(changes[3], "Added the secret of the reply addresses of notices.");
  EXPECT_TRUE(Upgrade(options).empty());
  std::string token;
  (void)Session::SignIn(options, "old", "password1", token);
  Session old = Session::Resume(options, token);
  EXPECT_EQ(old.userID(), "old");
  // The index holds the rows written before it.
  EXPECT_EQ(ListCount(old, With<ListRequest>([](auto& r) { r.filter.grep = "GASKET"; })), 1);

  const kvdata::testing::ScratchFolder scratch("kvapp");
  const auto& folder = scratch.Path();
  SettingSet(As(kLead), "AttachmentPath", folder.string());
  const int32_t id = NewAction();
  (void)AttachmentAdd(As(kOrig), id, {"notes", "notes.txt", "text", "hello"});
  ASSERT_FALSE(std::filesystem::is_empty(folder));
  Delete(As(kOrig), id);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  auto left = Connect()->OpenRecordset("select count(*) as n from ActionAttachments", 0, 2, 1);
  EXPECT_EQ(vb::CLng((*left)["n"].Value()), 0);
}

// A token resumes its session without a password until sign-out or expiry. A server keeps open
// databases between requests: a session resumed on one that served another person has only its
// own person's identity and rights.
TEST_P(AppTest, ASessionTokenResumesItsOwnPersonOnlyUntilSignOutOrExpiry) {
  std::string leadToken, token;
  (void)Session::SignIn(options_, "lead", "leadpass1", leadToken);
  (void)Session::SignIn(options_, "orig", "password1", token);
  Session lead = Session::Resume(options_, leadToken);
  ASSERT_TRUE(Can(lead, 41));
  Session orig = Session::Resume(options_, token, std::move(lead).TakeAction());
  EXPECT_EQ(orig.userID(), "orig");
  EXPECT_EQ(orig.action().UserProfile()->UserID(), "orig");
  EXPECT_TRUE(Can(orig, 50));
  EXPECT_FALSE(Can(orig, 41));
  orig.SignOut();
  EXPECT_EQ(ErrorOf([&] {
              (void)Session::Resume(options_, token, std::move(orig).TakeAction());
            })->number(),
            kNotSignedIn);
  (void)Session::SignIn(options_, "orig", "password1", token, std::chrono::seconds(-1));
  EXPECT_EQ(ErrorOf([&] { (void)Session::Resume(options_, token); })->number(), kNotSignedIn);
  EXPECT_EQ(As(kLead).PurgeExpired(), 1);
}

// A server keeps the session's row and profile between changes of the data: the people taking
// turns on one kept database each get their own, and a sign-out, a shortened expiry or a move to
// another workgroup made elsewhere (another process's connection) holds from the next request.
TEST_P(AppTest, AKeptSessionFollowsSignOutExpiryAndRightsChangedElsewhere) {
  std::string leadToken, token;
  (void)Session::SignIn(options_, "lead", "leadpass1", leadToken);
  (void)Session::SignIn(options_, "orig", "password1", token);
  std::optional<Session> request = Session::Resume(options_, token, nullptr);
  const auto next = [&](const std::string& as) {
    request = Session::Resume(options_, as, std::move(*request).TakeAction());
  };
  const auto ended = [&](const std::string& as) {
    const auto error = ErrorOf([&] { next(as); });
    return error && error->number() == kNotSignedIn;
  };
  for (int turn = 0; turn < 2; ++turn) {
    next(leadToken);
    EXPECT_TRUE(Can(*request, 41)) << turn;
    next(token);
    EXPECT_EQ(request->action().UserProfile()->UserID(), "orig") << turn;
    EXPECT_FALSE(Can(*request, 41)) << turn;
  }
  const int32_t superUsers = As(kLead).action().UserProfile()->GroupID();
  UserEdit(As(kLead), "orig", With<UserChanges>([&](auto& c) { c.group = superUsers; }));
  next(token);
  EXPECT_TRUE(Can(*request, 41)) << "moved to the SuperUser workgroup";
  const auto other = Connect();
  (void)other->Execute("update ActionSessions set Expires = #1/1/2020# where UserID = 'orig'");
  EXPECT_TRUE(ended(token)) << "expired";
  request = Session::Resume(options_, leadToken, nullptr);
  (void)other->Execute("delete from ActionSessions where UserID = 'lead'");
  EXPECT_TRUE(ended(leadToken)) << "signed out";
}

// A clock the test turns: the day a kept answer holds for.
struct SettableClock final : vb::Clock {
  explicit SettableClock(vb::Date start) : now(start) {}
  [[nodiscard]] vb::Date Now() const override { return now; }
  vb::Date now;
};

// The alert count is kept between changes of the data. Whatever changed it (a change through
// this session or another, the day turning, another person on the same open database), the
// kept count is the one the library counts afresh.
TEST_P(AppTest, TheAlertCountFollowsEveryChangeTheDayAndThePerson) {
  const auto clock = std::make_shared<SettableClock>(vb::Date::FromParts(2024, 3, 15, 23, 59, 0));
  OpenOptions options = options_;
  options.clock = clock;
  std::string asgToken;
  Session orig = Session::SignIn(options, "orig", "password1");
  Session asg = Session::SignIn(options, "asg", "password1", asgToken);
  const int32_t a =
      Add(orig, {{"Subject", "Due tomorrow"}, {"Assignee", "asg"}, {"DateDue", "3/16/2024"}});
  struct Step {
    std::string what;
    std::function<void()> run;
    int32_t origCount;  // overdue ones only: the new action's flag is the assignee's
  };
  const std::vector<Step> steps = {
      {"before the due day", [] {}, 0},
      {"the day after the due day", [&] { clock->now = vb::Date::FromParts(2024, 3, 17, 0, 0, 1); },
       1},
      {"the originator moves the due date",
       [&] {
         (void)Edit(orig, a, {{"DateDue", "4/1/2024"}});
       },
       0},
      {"the originator moves it back",
       [&] {
         (void)Edit(orig, a, {{"DateDue", "3/1/2024"}});
       },
       1},
      {"the assignee completes it", [&] { Complete(asg, a); }, 1},
      {"the originator closes it", [&] { Close(orig, a); }, 0},
  };
  for (const auto& step : steps) {
    step.run();
    for (Session* session : {&orig, &asg}) {
      EXPECT_EQ(AlertCount(*session), session->action().Alerts(session->userID()))
          << step.what << ", " << session->userID();
    }
    EXPECT_EQ(AlertCount(orig), step.origCount) << step.what;
  }
  (void)Add(orig, {{"Subject", "Overdue for both"}, {"Assignee", "asg"}, {"DateDue", "3/2/2024"}});
  (void)Add(orig, {{"Subject", "Overdue for orig"}, {"DateDue", "3/2/2024"}});
  EXPECT_EQ(AlertCount(asg), 1);
  // The same open database serving another person next, as a server's kept databases do.
  std::string origToken;
  (void)Session::SignIn(options, "orig", "password1", origToken);
  Session origThere = Session::Resume(options, origToken, std::move(asg).TakeAction());
  EXPECT_EQ(AlertCount(origThere), 2);
  Session asgAgain = Session::Resume(options, asgToken, std::move(origThere).TakeAction());
  EXPECT_EQ(AlertCount(asgAgain), 1);
}

// A list's total is kept between changes of the data as the alert count is: after every change
// (the library's, another connection's raw SQL, the day turning, another person on the same
// open database, another filter) the next request counts what a fresh count of the list says.
TEST_P(AppTest, AKeptListCountFollowsEveryChangeTheDayThePersonAndTheFilter) {
  const auto clock = std::make_shared<SettableClock>(vb::Date::FromParts(2024, 3, 15, 12, 0, 0));
  OpenOptions options = options_;
  options.clock = clock;
  std::string origToken, asgToken;
  (void)Session::SignIn(options, "orig", "password1", origToken);
  (void)Session::SignIn(options, "asg", "password1", asgToken);
  const std::string* readerToken = &origToken;
  std::optional<Session> reader = Session::Resume(options, origToken);
  const std::vector<std::pair<std::string, ListRequest>> lists = {
      {"mine", {}},
      {"overdue", With<ListRequest>([](auto& r) { r.filter.status = "overdue"; })},
      {"due within a day", With<ListRequest>([](auto& r) { r.filter.dueWithin = 1; })},
      {"alerts", With<ListRequest>([](auto& r) { r.attention = true; })}};
  // One request of a server on its kept database: each list counted twice, so that the second
  // count is the kept one, and listed, which counts afresh.
  const auto check = [&](const std::string& what, std::vector<int32_t> expected) {
    reader = Session::Resume(options, *readerToken, std::move(*reader).TakeAction());
    for (size_t i = 0; i < lists.size(); ++i) {
      const auto& [name, request] = lists[i];
      int32_t rows = 0;
      for (const auto listed = List(*reader, request); !listed->IsEOF(); listed->MoveNext()) ++rows;
      (void)ListCount(*reader, request);
      EXPECT_EQ(ListCount(*reader, request), rows)
          << what << ", " << reader->userID() << ", " << name;
      EXPECT_EQ(rows, expected[i]) << what << ", " << reader->userID() << ", " << name;
    }
  };
  Session writer = Session::SignIn(options, "orig", "password1");
  const int32_t a =
      Add(writer, {{"Subject", "Due tomorrow"}, {"Assignee", "asg"}, {"DateDue", "3/16/2024"}});
  check("one action due tomorrow", {1, 0, 1, 0});
  (void)Add(writer, {{"Subject", "Due later"}, {"Assignee", "asg"}, {"DateDue", "4/16/2024"}});
  check("a second action added", {2, 0, 1, 0});
  clock->now = vb::Date::FromParts(2024, 3, 17, 0, 0, 1);
  check("the day after the first is due", {2, 1, 1, 1});
  Close(writer, a);
  check("the first closed", {1, 0, 0, 0});
  const auto other = Connect();
  (void)other->Execute(
      "insert into actions (ActionNumber, Subject, OriginatorID, DateDue) "
      "values (900, 'Raw', 'orig', #3/1/2024#)");
  check("a row inserted by another connection", {2, 1, 1, 1});
  (void)other->Execute("delete from actions where ActionNumber = 900");
  check("that row deleted by it", {1, 0, 0, 0});
  readerToken = &asgToken;
  check("the assignee on the same open database", {1, 0, 0, 1});
  (void)Add(writer, {{"Subject", "Orig's own"}, {"DateDue", "3/1/2024"}});
  check("an action of the originator's alone", {1, 1, 1, 1});
  readerToken = &origToken;
  check("the originator again", {2, 1, 1, 1});
}

// A request on a kept database takes the data as of its start for what is kept: another
// connection's change is counted by the next request, the session's own change at once; the
// next request after a refused one counts afresh, and the command, which keeps no database,
// holds nothing.
TEST_P(AppTest, ARequestCountsAsOfItsStartAndItsOwnChangesAtOnce) {
  std::string token;
  (void)Session::SignIn(options_, "orig", "password1", token);
  const auto other = Connect();
  const auto insert = [&](int32_t number) {
    (void)other->Execute(fmt::format(
        "insert into actions (ActionNumber, Subject, OriginatorID) values ({}, 'Raw', 'orig')",
        number));
  };
  std::optional<Session> request = Session::Resume(options_, token, nullptr);
  EXPECT_EQ(ListCount(*request, {}), 0);
  insert(900);
  EXPECT_EQ(ListCount(*request, {}), 0) << "as of the request's start";
  (void)Add(*request, {{"Subject", "Own"}});
  EXPECT_EQ(ListCount(*request, {}), 2) << "its own change, and with it the other's";
  insert(910);
  request = Session::Resume(options_, token, std::move(*request).TakeAction());
  EXPECT_EQ(ListCount(*request, {}), 3) << "the next request";
  insert(920);
  EXPECT_THROW((void)Session::Resume(options_, "unknown", std::move(*request).TakeAction()),
               vb::ComError);
  request = Session::Resume(options_, token, nullptr);
  EXPECT_EQ(ListCount(*request, {}), 4) << "after a refused request";
  Session command = Session::Resume(options_, token);
  EXPECT_EQ(ListCount(command, {}), 4);
  insert(930);
  EXPECT_EQ(ListCount(command, {}), 5) << "the command holds nothing";
}

// The saved queries and the people a request offers, an action's row and its watchers are kept
// between changes of the data: another person sharing a query, adding a user or watching, a raw
// change through another connection, shows from the next request on; the request's own change
// at once.
TEST_P(AppTest, WhatARequestKeepsFollowsChangesMadeElsewhere) {
  std::string token;
  (void)Session::SignIn(options_, "orig", "password1", token);
  std::optional<Session> request = Session::Resume(options_, token, nullptr);
  const auto next = [&] {
    request = Session::Resume(options_, token, std::move(*request).TakeAction());
  };
  const auto names = [&] {
    std::string text;
    for (auto list = QueryList(*request); !list->IsEOF(); list->MoveNext()) {
      text += vb::TextOf((*list)["Name"].Value()) + ";";
    }
    return text;
  };
  const int32_t leads = QueryAdd(As(kLead), {"Lead's", Filter([](auto& f) { f.mine = true; })});
  next();
  EXPECT_EQ(names(), "");
  QueryShare(As(kLead), leads, true);
  next();
  EXPECT_EQ(names(), "Lead's;");
  (void)QueryAdd(*request, {"Own", Filter([](auto& f) { f.mine = true; })});
  EXPECT_EQ(names(), "Lead's;Own;") << "its own change, at once";
  (void)Connect()->Execute("update ActionQueries set Name = 'Renamed' where Name = 'Own'");
  next();
  EXPECT_EQ(names(), "Lead's;Renamed;");
  const int32_t action = NewAction();
  const auto mentioned = [&] {
    std::string text;
    for (const Mention& person : PeopleToMention(*request, action)) text += person.userID + ";";
    return text;
  };
  EXPECT_EQ(mentioned(), "asg;by;lead;orig;viewer;");
  UserAdd(As(kLead), {"new", "Newcomer", "password1", "", {}});
  next();
  EXPECT_EQ(mentioned(), "asg;by;lead;new;orig;viewer;");
  const auto subject = [&] { return vb::TextOf((*Show(*request, action))["Subject"].Value()); };
  EXPECT_EQ(subject(), "Fix the pump");
  (void)Connect()->Execute(
      fmt::format("update actions set Subject = 'Raw' where ActionID = {}", action));
  next();
  EXPECT_EQ(subject(), "Raw");
  (void)Edit(*request, action, {{"Subject", "Own"}});
  EXPECT_EQ(subject(), "Own") << "its own change, at once";
  EXPECT_EQ(ViewOf(*request, action).subject, "Own");
  const auto watchers = [&] {
    std::string text;
    for (const Watcher& watcher : WatchersOf(*request, action)) text += watcher.userID + ";";
    return text;
  };
  EXPECT_EQ(watchers(), "");
  Watch(As(kAsg), action);
  next();
  EXPECT_EQ(watchers(), "asg;");
  EXPECT_FALSE(IsWatching(*request, action));
  Watch(*request, action);
  EXPECT_TRUE(IsWatching(*request, action)) << "its own change, at once";
  EXPECT_EQ(watchers(), "asg;orig;");
  (void)Connect()->Execute(fmt::format("delete from actions where ActionID = {}", action));
  next();
  EXPECT_EQ(ErrorOf([&] { (void)Show(*request, action); })->number(), kNotFound);
}

// Within a LabelMemo each label is read from the database once; a label changed on its thread is
// read again. Outside one the labels are kept between changes of the data: read again after a
// change, here another connection's.
TEST_P(AppTest, ALabelMemoReadsEachLabelOnceUntilALabelChanges) {
  auto& lead = As(kLead);
  auto& connection = *lead.action().DataServer()->Connection();
  const auto reads = [&](const std::function<std::string()>& read) {
    const size_t before = connection.Trace().size();
    const std::string label = read();
    return std::make_pair(label, connection.Trace().size() - before);
  };
  const auto assignee = [&] { return LabelOf(lead, "Assignee"); };
  {
    const LabelMemo memo(lead);
    EXPECT_EQ(reads(assignee).first, "Assignee");
    EXPECT_EQ(reads(assignee), std::make_pair(std::string("Assignee"), size_t{0}));
    LabelSet(lead, "Assignee", "Owner");
    EXPECT_EQ(reads(assignee).first, "Owner");
    EXPECT_EQ(LabelOf(As(kOrig), "Assignee"), "Owner");
  }
  EXPECT_EQ(reads(assignee), std::make_pair(std::string("Owner"), size_t{0}));
  (void)Connect()->Execute(
      "update ActionConfig set ValueText = 'Holder' where ConfigKey = 'Label.Assignee'");
  EXPECT_EQ(reads(assignee).first, "Holder");
}

// A calendar secret opens its person's feed, which holds his or her open actions with a due
// date and nothing else; a renewed or ended secret opens nothing, and only its hash is stored.
TEST_P(AppTest, ACalendarSecretOpensItsPersonsFeedUntilRenewed) {
  (void)Add(As(kOrig), {{"Subject", "Due, soon"}, {"Assignee", "asg"}, {"DateDue", "12/24/2026"}});
  (void)Add(As(kOrig), {{"Subject", "By's"}, {"Assignee", "by"}, {"DateDue", "12/25/2026"}});
  EXPECT_FALSE(HasFeedSecret(As(kAsg), Feed::Calendar));
  const std::string secret = RenewFeedSecret(As(kAsg), Feed::Calendar);
  EXPECT_EQ(secret.size(), 64u);
  EXPECT_TRUE(HasFeedSecret(As(kAsg), Feed::Calendar));
  auto stored = Connect()->OpenRecordset(
      "select ValueText from ActionProfiles where ProfileKey = 'CalendarSecret'", 0, 2, 1);
  EXPECT_NE(vb::TextOf((*stored)["ValueText"].Value()), secret) << "only the hash is kept";

  Session feed = Session::OfFeed(options_, Feed::Calendar, secret, nullptr);
  EXPECT_EQ(feed.userID(), "asg");
  const std::string text = CalendarFeed(feed);
  EXPECT_NE(text.find("SUMMARY:No. 1: Due\\, soon"), std::string::npos) << text;
  EXPECT_NE(text.find("DTSTART;VALUE=DATE:20261224"), std::string::npos);
  EXPECT_EQ(text.find("By's"), std::string::npos);

  const std::string renewed = RenewFeedSecret(As(kAsg), Feed::Calendar);
  const auto open = [&](const std::string& given) {
    return ErrorOf([&] { (void)Session::OfFeed(options_, Feed::Calendar, given, nullptr); });
  };
  EXPECT_EQ(open(secret)->number(), kNotFound);
  EXPECT_EQ(Session::OfFeed(options_, Feed::Calendar, renewed, nullptr).userID(), "asg");
  EXPECT_EQ(open(std::string(64, '0'))->number(), kNotFound);
  EXPECT_EQ(open("")->number(), kNotFound);
  EndFeedSecret(As(kAsg), Feed::Calendar);
  EXPECT_EQ(open(renewed)->number(), kNotFound);
  EXPECT_FALSE(HasFeedSecret(As(kAsg), Feed::Calendar));
}

KV_INSTANTIATE_ENGINES(AppTest);

}  // namespace
}  // namespace app
