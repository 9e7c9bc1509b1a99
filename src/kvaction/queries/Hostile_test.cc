// Values the library puts into statements stay data, on both engines and in both dialects: for
// every channel a hostile value returns exactly what an honest value that matches nothing
// returns, and a legitimate value holding the delimiter finds the actions that hold it.
#include <gtest/gtest.h>

#include <functional>

#include "kvaction/action/ActionTest.h"
#include "kvdata/testing/Fixture.h"

namespace kvaction {
namespace {

/// What a channel answered: the numbers or the count it returned, or the error it raised.
using Outcome = std::string;

constexpr std::array kHostile = {
    "x' or '1'='1",
    "x' union select UserID,PasswordHash,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1 from Users "
    "where '1'='1",
    "x' or ActionID in (select ActionID from actions) or 'a'='b",
    "x'; delete from actions; select '",
    "x' or 1=1 --",
    "x' or length(pg_read_file('/etc/passwd')) > 0 or 'a'='b",
    "zz%\" or Subject like \"",
    "x\" or \"1\"=\"1",
    "x\" union select * from Users where \"1\"=\"1",
    "\\' or 1=1 --",
};

class HostileValues : public PeopleTest {
 protected:
  void SetUp() override {
    PeopleTest::SetUp();
    if (HasFatalFailure()) return;
    Store({.number = 1,
           .subject = "say \"hi\"",
           .assigneeID = "bob",
           .originatorID = "carol",
           .dateDue = Day(2024, 3, 20),
           .category = "Carol's",
           .reference = "Ref",
           .referenceID = "O'Brien-7",
           .description = "say \"hi\" twice"});
    Store({.number = 2,
           .subject = "other",
           .assigneeID = "carol",
           .originatorID = "bob",
           .dateDue = Day(2024, 3, 1),
           .reference = "Carol's list",
           .referenceID = "R1"});
  }

  /// The ActionNumbers of a list, each followed by a blank.
  [[nodiscard]] static Outcome List(const RecordsetPtr& rs) {
    std::string out;
    for (const int32_t n : Numbers(*rs)) out += std::to_string(n) + " ";
    return out;
  }
  /// Everything user maintenance could touch, as one text.
  [[nodiscard]] static Outcome Bookkeeping(Action& action) {
    return kvdata::testing::TablesText(*action.DataServer()->Connection(),
                                       {"actions", "Users", "ActionQueries", "ActionProfiles"});
  }
};

/// What a saved-query channel answers for a value the query store refused to keep.
constexpr std::string_view kNotStored = "not stored";

using Channel = std::function<Outcome(Action&, const std::string&)>;

TEST_P(HostileValues, EveryChannelTreatsItsValueAsData) {
  struct Case {
    const char* channel;
    const char* user;
    Channel run;
    std::string legitimate;  // a value holding the delimiter, and what it finds
    Outcome legitimateFinds;
  };
  const int32_t all = SaveQuery({});
  using V = const std::string&;
  // A saved query with the value in one field (beside fixed criteria).
  const auto savedField = [this](const Columns& criteria, const char* field) -> Channel {
    return [this, criteria, field](Action& a, V v) {
      Columns query = criteria;
      query.emplace_back(field, v);
      int32_t id = 0;
      try {
        id = SaveQuery(query);
      } catch (const vb::ComError&) {
        return std::string(kNotStored);  // longer than the field holds: refused, never run
      }
      return List(a.QueriedRecordset(id, "ActionNumber"));
    };
  };
  const auto refused = [](const std::function<void()>& run, Action& a) {
    (void)ErrorOf(run);
    return Bookkeeping(a);
  };
  const std::vector<Case> cases = {
      {"reference ID", "admin", [](Action& a, V v) { return List(a.ReferenceRecordset("Ref", v)); },
       "O'Brien-7", "1 "},
      {"reference", "admin", [](Action& a, V v) { return List(a.ReferenceRecordset(v, "")); },
       "Carol's list", "2 "},
      {"list reference", "admin",
       [&](Action& a, V v) {
         a.ReferenceID(v);
         return List(a.QueriedRecordset(all, "ActionNumber"));
       },
       "O'Brien-7", "1 "},
      {"saved subject, own actions", "bob", savedField({{"AssignedTo", int16_t{1}}}, "Subject"),
       "say \"hi\"", "1 "},
      {"saved description", "admin", savedField({}, "Description"), "say \"hi\"", "1 "},
      {"saved category", "admin", savedField({}, "Category"), "Carol's", "1 "},
      {"saved assignee fragment", "admin", savedField({{"AssignedTo", int16_t{2}}}, "Assignee"),
       "O'Brien", "2 "},
      {"saved due date bound", "admin", savedField({}, "DateDue"), "", ""},
      {"alert count reference", "bob",
       [](Action& a, V v) { return std::to_string(a.Alerts("", v, 0)); }, "R1", "1"},
      {"alert count user", "admin",
       [](Action& a, V v) { return std::to_string(a.Alerts(v, "", 1)); }, "bob", "1"},
      {"user rename", "admin",
       [&](Action& a, V v) { return refused([&] { a.ChangeUserName(v, "Mallory"); }, a); }, "", ""},
      {"user removal", "admin",
       [&](Action& a, V v) { return refused([&] { a.DeleteUserData(v); }, a); }, "", ""},
  };
  for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
    for (const Case& c : cases) {
      const auto action = LoggedIn(c.user, dialect);
      const auto answer = [&](const std::string& value) -> Outcome {
        try {
          return c.run(*action, value);
        } catch (const vb::ComError& e) {
          return "error " + std::to_string(e.number());
        }
      };
      const Outcome honest = answer("nomatch");
      for (const std::string hostile : kHostile) {
        const Outcome outcome = answer(hostile);
        if (outcome != kNotStored) {
          EXPECT_EQ(outcome, honest) << c.channel << ": " << hostile;
        }
      }
      if (!c.legitimate.empty()) {
        EXPECT_EQ(answer(c.legitimate), c.legitimateFinds) << c.channel;
      }
    }
  }
}

TEST_P(HostileValues, SortClauseListsColumnsOnly) {
  const auto action = LoggedIn("admin");
  const int32_t all = SaveQuery({});
  for (const char* accepted :
       {"ActionNumber", " actionnumber DESC , [Subject] asc", "[Subject]\tdesc", ""}) {
    EXPECT_EQ(Numbers(*action->QueriedRecordset(all, accepted)).size(), 2U) << accepted;
  }
  for (const char* refused :
       {"(select 1)", "ActionNumber; delete from actions", "length(Subject)", "1",
        "ActionNumber desc desc", "Users.PasswordHash", "ActionNumber,", "Subject collate x",
        "[Subject", "[Subject]desc", "(select PasswordHash from Users limit 1)"}) {
    const vb::ComError error = ErrorOf([&] { (void)action->QueriedRecordset(all, refused); });
    EXPECT_EQ(error.number(), 5) << refused;
    EXPECT_NE(error.description().find("columns of the actions table"), std::string::npos);
  }
}

KV_INSTANTIATE_ENGINES(HostileValues);

}  // namespace
}  // namespace kvaction
