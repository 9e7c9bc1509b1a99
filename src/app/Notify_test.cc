// Notifications on both engines against a loopback relay: mail on change reaches the other
// party and never the actor, failed deliveries are retried once due, an interrupted delivery
// repeats at most once, and reminders go out once per user and day with the lead time and the
// time zone deciding what they list.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Outbox.h"
#include "app/Reminders.h"
#include "app/Watchers.h"
#include "app/testing/SmtpSink.h"
#include "kvdata/testing/Fixture.h"

namespace app {
namespace {

using app::testing::SmtpSink;
using Addresses = std::multiset<std::string>;

UserChanges EmailChange(std::string address) {
  UserChanges changes;
  changes.email = std::move(address);
  return changes;
}

Relay RelayAt(std::string address) {
  Relay relay;
  relay.host = std::move(address);
  return relay;
}

const vb::Date kNow = vb::Date::FromParts(2024, 3, 15, 9, 30, 5);

class NotifyTest : public kvdata::testing::DatabaseTest {
 public:
  void SetUp() override {
    DatabaseTest::SetUp();
    CreateDatabase(At(kNow), {"lead", "Lee Lead", "leadpass1", ""});
    auto lead = SignIn("lead");
    UserEdit(lead, "lead", EmailChange("lead@example.org"));
    for (const char* user : {"orig", "asg"}) {
      UserAdd(
          lead,
          {user, std::string(user) + " Name", "password1", user + std::string("@example.org"), {}});
    }
    UserAdd(lead, {"quiet", "Quiet", "password1", "", {}});
    SettingSet(lead, "AutoEmail", "true");
  }
  OpenOptions At(const vb::Date& now, bool mail = true) const {
    return {ConnectionString(), std::make_shared<vb::FixedClock>(now), vb::Locale::EnUS(),
            kvdata::PasswordCost::Minimum, mail};
  }
  Session SignIn(const std::string& user, const vb::Date& now = kNow, bool mail = true) const {
    return Session::SignIn(At(now, mail), user, user == "lead" ? "leadpass1" : "password1");
  }
  DeliveryReport Send(const SmtpSink& sink, const vb::Date& now = kNow,
                      const AfterHandOver& after = {}) const {
    auto lead = SignIn("lead", now);
    return DeliverDue(lead, RelayAt(sink.Address()), {}, after);
  }
  static Addresses Recipients(const SmtpSink& sink) {
    Addresses all;
    for (const auto& mail : sink.Received())
      all.insert(mail.recipients.begin(), mail.recipients.end());
    return all;
  }
  static vb::Date Minutes(int n) { return vb::Date::FromSerial(kNow.Serial() + n / 1440.0); }
};

TEST_P(NotifyTest, AChangeMailsTheOtherPartyAndNeverTheActor) {
  struct Case {
    std::string name;
    std::string actor;
    bool mail;  // the actor's session sends notices
    std::function<void(Session&, int32_t)> change;
    Addresses to;
  };
  const auto complete = [](Session& s, int32_t id) { Complete(s, id); };
  const auto edit = [](Session& s, int32_t id) { (void)Edit(s, id, {{"Subject", "Pump 2"}}); };
  const auto review = [](Session& s, int32_t id) { Review(s, id, 12); };
  const std::vector<Case> cases = {
      {"assignee completes", "asg", true, complete, {"<orig@example.org>"}},
      {"originator edits", "orig", true, edit, {"<asg@example.org>"}},
      {"a third person reviews", "lead", true, review, {"<asg@example.org>", "<orig@example.org>"}},
      {"bulk work without mail", "lead", false, review, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t id = 0;
    {
      auto orig = SignIn("orig");
      id = Add(orig, {{"Subject", "Fix the pump"}, {"AssigneeID", "asg"}});
    }
    const SmtpSink creation;
    EXPECT_EQ(Send(creation).delivered, 1);
    EXPECT_EQ(Recipients(creation), Addresses{"<asg@example.org>"});
    const SmtpSink sink;
    auto actor = SignIn(c.actor, kNow, c.mail);
    c.change(actor, id);
    (void)Send(sink);
    EXPECT_EQ(Recipients(sink), c.to);
  }
  auto lead = SignIn("lead");
  SettingSet(lead, "AutoEmail", "false");
  auto orig = SignIn("orig");
  (void)Add(orig, {{"Subject", "Quietly"}, {"AssigneeID", "asg"}});
  EXPECT_TRUE(OutboxList(lead).empty());
}

// Watchers and the leads of a party's workgroup hear of a change as the parties do, once each,
// never of their own change, and no more once they have left the directory.
TEST_P(NotifyTest, WatchersHearOfChangesWhileTheyMaySeeTheAction) {
  auto lead = SignIn("lead");
  UserAdd(lead, {"wat", "Wat", "password1", "wat@example.org", {}});
  UserAdd(lead, {"boss", "Boss", "password1", "boss@example.org", {}});
  const int32_t crew = WorkgroupAdd(lead, "Crew", {50, 64, 70, 81});
  UserEdit(lead, "asg", {std::nullopt, std::nullopt, crew});
  auto orig = SignIn("orig");
  const int32_t id = Add(orig, {{"Subject", "Fix the pump"}, {"AssigneeID", "asg"}});
  (void)Send(SmtpSink());
  auto wat = SignIn("wat");
  Watch(wat, id);
  Watch(wat, id);  // once is enough
  struct Case {
    std::string name;
    std::function<void()> before;
    std::string actor;
    Addresses to;
  };
  Watch(lead, id);
  const std::vector<Case> cases = {
      {"watchers hear",
       [] {},
       "orig",
       {"<asg@example.org>", "<wat@example.org>", "<lead@example.org>"}},
      {"but not of their own change",
       [] {},
       "lead",
       {"<asg@example.org>", "<orig@example.org>", "<wat@example.org>"}},
      {"the assignee's workgroup's leads too",
       [&] {
         Unwatch(lead, id);
         SetWorkgroupLeads(lead, crew, {"boss", "wat"});
       },
       "orig",
       {"<asg@example.org>", "<wat@example.org>", "<boss@example.org>"}},
      {"a lead who stops watching the action still hears as a lead",
       [&] { Unwatch(wat, id); },
       "orig",
       {"<asg@example.org>", "<wat@example.org>", "<boss@example.org>"}},
      {"a lead no longer does not",
       [&] { SetWorkgroupLeads(lead, crew, {"boss"}); },
       "orig",
       {"<asg@example.org>", "<boss@example.org>"}},
      {"nor one who left the directory",
       [&] {
         Watch(wat, id);
         UserDelete(lead, "wat", "");
       },
       "orig",
       {"<asg@example.org>", "<boss@example.org>"}},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    const SmtpSink sink;
    auto actor = SignIn(c.actor);
    (void)Edit(actor, id, {{"Subject", fmt::format("Pump {}", ++round)}});
    EXPECT_EQ(Send(sink).delivered, 1);
    EXPECT_EQ(Recipients(sink), c.to);
  }
  std::vector<std::string> watchers;
  for (const Watcher& watcher : WatchersOf(lead, id)) watchers.push_back(WatcherWords(watcher));
  EXPECT_EQ(watchers, std::vector<std::string>{"Boss (boss, lead of Crew)"});
}

TEST_P(NotifyTest, ARefusingRelayGetsTheMailOnceWhenItIsDueAgain) {
  auto orig = SignIn("orig");
  const int32_t id = Add(orig, {{"Subject", "Fix the pump"}, {"AssigneeID", "asg"}});
  app::testing::SinkOptions refusing;
  refusing.refuseSessions = 1;
  const SmtpSink sink(refusing);
  const DeliveryReport refused = Send(sink);
  EXPECT_EQ(refused.deferred, 1);
  ASSERT_EQ(refused.problems.size(), 1U);
  EXPECT_NE(refused.problems[0].find("asg@example.org"), std::string::npos);
  EXPECT_EQ(ActionIDOf(orig, 1), id);  // the change stays
  // Before the back-off has passed nothing is tried; after it the mail goes once.
  EXPECT_EQ(Send(sink, Minutes(0)).delivered, 0);
  EXPECT_EQ(Send(sink, Minutes(1)).delivered, 1);
  EXPECT_EQ(Send(sink, Minutes(30)).delivered, 0);
  EXPECT_EQ(sink.Received().size(), 1U);
  EXPECT_EQ(sink.Sessions(), 2);
}

TEST_P(NotifyTest, AnInterruptedDeliveryRepeatsOnceAndAnOldOneIsGivenUp) {
  auto orig = SignIn("orig");
  (void)Add(orig, {{"Subject", "Fix the pump"}, {"AssigneeID", "asg"}});
  const SmtpSink sink;
  EXPECT_THROW((void)Send(sink, kNow, [](int32_t) { throw std::runtime_error("stopped"); }),
               std::runtime_error);
  for (const int minutes : {0, 1, 2, 60}) (void)Send(sink, Minutes(minutes));
  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 2U);
  EXPECT_EQ(received[0].data, received[1].data);  // same Message-ID: readers drop the repeat
  EXPECT_NE(received[0].data.find("Message-ID: <"), std::string::npos);

  (void)Add(orig, {{"Subject", "Nobody listens"}, {"AssigneeID", "asg"}});
  std::string gone;
  {
    const SmtpSink closed;
    gone = closed.Address();
  }
  auto lead = SignIn("lead", Minutes(49 * 60));
  const DeliveryReport late = DeliverDue(lead, RelayAt(gone));
  EXPECT_EQ(late.gaveUp, 1);
  const auto listed = OutboxList(lead);
  ASSERT_EQ(listed.size(), 1U);
  EXPECT_EQ(listed[0].State(), "failed");
  EXPECT_FALSE(listed[0].lastError.empty());
}

TEST_P(NotifyTest, RemindersFollowLeadTimeTimeZoneAndGoOncePerDay) {
  auto lead = SignIn("lead", kNow, false);
  UserEdit(lead, "lead", EmailChange(""));
  // New actions raise the assignee's alert; only the one flagged here keeps it.
  const auto add = [&](const std::string& subject, const std::string& assignee, int dueIn,
                       bool alert = false) {
    const vb::Date due = kNow.DateOnly().AddDays(dueIn);
    const int32_t id = Add(lead, {{"Subject", subject},
                                  {"AssigneeID", assignee},
                                  {"DateDue", vb::Locale::EnUS().FormatShortDate(due)}});
    lead.action().Alert(id, alert);
  };
  add("late", "asg", -1);
  add("in two days", "asg", 2);
  add("in three days", "asg", 3);
  add("your turn", "asg", 30, true);
  add("in five days", "orig", 5);
  add("in six days", "orig", 6);
  auto asg = SignIn("asg");
  SetAlertDays(asg, 2);
  const RemindReport first = Remind(lead, kNow.DateOnly(), false);
  std::map<std::string, std::vector<std::string>> listed;
  for (const auto& digest : first.digests) {
    for (const auto& line : digest.lines) listed[digest.userID].push_back(line.subject);
  }
  EXPECT_EQ(listed,
            (std::map<std::string, std::vector<std::string>>{
                {"asg", {"late", "in two days", "your turn"}}, {"orig", {"in five days"}}}));
  EXPECT_EQ(Remind(lead, kNow.DateOnly(), false).alreadySent,
            (std::vector<std::string>{"asg", "orig"}));
  SetReminders(asg, false);
  EXPECT_EQ(Remind(lead, kNow.DateOnly().AddDays(1), true).digests.size(), 1U);
  const SmtpSink sink;
  EXPECT_EQ(Send(sink).delivered, 2);

  ::setenv("TZ", "UTC", 1);
  for (const auto& [zone, day] : std::vector<std::pair<std::string, int>>{
           {"", 15}, {"Pacific/Kiritimati", 15}, {"Pacific/Pago_Pago", 14}}) {
    if (!zone.empty()) SettingSet(lead, "TimeZone", zone);
    auto late = SignIn("lead", vb::Date::FromParts(2024, 3, 15, 1, 0, 0));
    EXPECT_EQ(ReminderDay(late), vb::Date::FromParts(2024, 3, day)) << zone;
  }
  EXPECT_THROW(SettingSet(lead, "TimeZone", "Mars/Olympus"), vb::ComError);
}

KV_INSTANTIATE_ENGINES(NotifyTest);

}  // namespace
}  // namespace app
