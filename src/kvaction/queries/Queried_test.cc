// QueriedRecordset on both engines and in both dialects: the rows each engine returns for a saved
// query at the pinned moment 15 Mar 2024 09:30:05 (the condition texts are pinned beside the
// filter).
#include <gtest/gtest.h>

#include "kvaction/Action.h"
#include "kvaction/action/ActionTest.h"

namespace kvaction {
namespace {

using Criteria = std::vector<std::pair<std::string, vb::Variant>>;
using Rows = std::vector<int32_t>;

class QueriedRecordset : public PeopleTest {
 protected:
  void SetUp() override {
    PeopleTest::SetUp();
    // Days are days of March 2024 (0: none).
    const struct {
      int32_t number;
      const char *subject, *assignee, *originator;
      int opened, due, completed, closed;
      const char* referenceID;
      const char *category = "", *priority = "";
    } rows[] = {{1, "Fix the roof", "bob", "admin", 1, 14, 0, 0, "", "Safety", "High"},
                {2, "Budget 50% spent", "admin", "carol", 10, 15, 0, 0, ""},
                {3, "Room 501 paint", "carol", "bob", 12, 17, 0, 0, "R1"},
                {4, "Call O'Brien", "", "carol", 13, 18, 13, 0, ""},
                {5, "Closed one", "admin", "bob", 5, 10, 11, 12, "R2"},
                {6, "No due date", "bob", "bob", 14, 0, 0, 0, "R1"}};
    const auto march = [](int day) { return day == 0 ? vb::Variant() : Day(2024, 3, day); };
    for (const auto& r : rows) {
      Store({.number = r.number,
             .subject = r.subject,
             .assigneeID = r.assignee,
             .originatorID = r.originator,
             .dateOpened = march(r.opened),
             .dateDue = march(r.due),
             .dateCompleted = march(r.completed),
             .dateClosed = march(r.closed),
             .category = r.category,
             .priority = r.priority,
             .referenceID = r.referenceID});
    }
  }
  /// The numbers admin's list of a saved query holds, sorted by number.
  [[nodiscard]] Rows List(Action& action, int32_t queryID) const {
    return Numbers(*action.QueriedRecordset(queryID, "ActionNumber"));
  }
};

TEST_P(QueriedRecordset, WithoutSavedQueryListsTheUsersOpenActions) {
  for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
    const auto action = LoggedIn("admin", dialect);
    for (const int32_t queryID : {0, -1, 999}) {
      EXPECT_EQ(List(*action, queryID), (Rows{1, 2})) << queryID;
      EXPECT_EQ(LastStatement(*action),
                "Select * from actions  where (AssigneeID='admin' or OriginatorID='admin') and "
                "dateClosed is Null order by ActionNumber");
    }
  }
}

TEST_P(QueriedRecordset, ModifierDecidesHowTheReferenceNarrows) {
  const int32_t all = SaveQuery({});
  const auto action = LoggedIn("admin");
  EXPECT_EQ(List(*action, all), (Rows{1, 2, 3, 4, 5, 6})) << "no ReferenceID, no narrowing";
  EXPECT_EQ(action->QueriedRecordset(all, "", 3, 3, 1)->LockType(), ado::adLockReadOnly);
  action->ReferenceID("R1");
  EXPECT_EQ(List(*action, all), (Rows{3, 6}));
  action->QueryModifier(qmIncludeVelActions);
  EXPECT_EQ(List(*action, all), (Rows{1, 2, 3, 4, 6}));

  // A modifier outside 16 bits overflows and the old one stays; the sort order is the caller's.
  EXPECT_EQ(ErrorOf([&] { action->QueryModifier(40000); }).number(), vb::kOverflow);
  (void)action->QueriedRecordset(all, "ActionNumber desc");
  EXPECT_EQ(LastStatement(*action),
            "Select * from actions  where (ReferenceID='R1' or ReferenceID is Null) order by "
            "ActionNumber desc");
}

// The rows a saved query selects on each engine, in one dialect or both.
struct QueryCase {
  std::vector<Dialect> dialects;
  Criteria criteria;
  Rows rows;
};

TEST_P(QueriedRecordset, CriteriaSelectTheSameRowsOnEachEngine) {
  const std::vector<Dialect> both = {Dialect::Desktop, Dialect::Server};
  const std::vector<Dialect> desktop = {Dialect::Desktop};
  const std::vector<Dialect> server = {Dialect::Server};
  const auto status = [](int16_t code, vb::Variant dueDays = vb::Variant(vb::Null)) {
    return Criteria{
        {"ApplyStatus", vb::Variant(true)}, {"Status", code}, {"DueDays", std::move(dueDays)}};
  };
  const std::vector<QueryCase> cases = {
      {both, {{"AssignedTo", int16_t{1}}, {"Assignee", "bob"}}, {1, 2, 5}},
      {both, {{"AssignedTo", int16_t{2}}, {"Assignee", "NULL"}}, {4}},
      {both, {{"AssignedTo", int16_t{2}}, {"Originator", "o'b"}}, {2, 4}},
      {both, {{"AssignedTo", int16_t{0}}, {"Assignee", "bob"}, {"Category", "Safety"}}, {1}},
      {both, {{"DateDue", Day(2024, 3, 14)}, {"DateDueUpper", Day(2024, 3, 17)}}, {1, 2, 3}},
      {server, {{"DateCompleted", Day(2024, 3, 13)}}, {4}},
      {both, status(0), {1, 2, 3, 4, 6}},
      {both, status(1), {5}},
      // Due today at midnight: overdue for the server once its clock passed midnight, for the
      // desktop database only from tomorrow.
      {desktop, status(2), {1}},
      {server, status(2), {1, 2}},
      {both, status(3, int16_t{2}), {1, 2, 3}},
      {server, status(3), {1, 2}},
      {both, status(4), {4}},
  };
  for (const QueryCase& c : cases) {
    const int32_t queryID = SaveQuery(c.criteria);
    for (const Dialect dialect : c.dialects) {
      EXPECT_EQ(List(*LoggedIn("admin", dialect), queryID), c.rows)
          << "query " << queryID << (dialect == Dialect::Server ? " server" : " desktop");
    }
  }
}

KV_INSTANTIATE_ENGINES(QueriedRecordset);

}  // namespace
}  // namespace kvaction
