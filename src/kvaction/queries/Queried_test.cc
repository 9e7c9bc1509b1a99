// QueriedRecordset on both engines and in both dialects: the statement received (before
// translation) and the rows the engine returned, at the pinned moment 15 Mar 2024 09:30:05.
#include <gtest/gtest.h>

#include "kvaction/Action.h"
#include "kvaction/alerts/ActionTestData.h"
#include "vb/ComError.h"

namespace kvaction::testing {
namespace {

using Criteria = std::vector<std::pair<std::string, vb::Variant>>;
using Rows = std::vector<int32_t>;

class QueriedTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    Store({.number = 1,
           .subject = "Fix the roof",
           .assigneeID = "bob",
           .originatorID = "admin",
           .dateOpened = Day(2024, 3, 1),
           .dateDue = Day(2024, 3, 14),
           .category = "Safety",
           .priority = "High"});
    Store({.number = 2,
           .subject = "Budget 50% spent",
           .assigneeID = "admin",
           .originatorID = "carol",
           .dateOpened = Day(2024, 3, 10),
           .dateDue = Day(2024, 3, 15)});
    Store({.number = 3,
           .subject = "Room 501 paint",
           .assigneeID = "carol",
           .originatorID = "bob",
           .dateOpened = Day(2024, 3, 12),
           .dateDue = Day(2024, 3, 17),
           .referenceID = "R1"});
    Store({.number = 4,
           .subject = "Call O'Brien",
           .originatorID = "carol",
           .dateOpened = Day(2024, 3, 13),
           .dateDue = Day(2024, 3, 18),
           .dateCompleted = Day(2024, 3, 13)});
    Store({.number = 5,
           .subject = "Closed one",
           .assigneeID = "admin",
           .originatorID = "bob",
           .dateOpened = Day(2024, 3, 5),
           .dateDue = Day(2024, 3, 10),
           .dateCompleted = Day(2024, 3, 11),
           .dateClosed = Day(2024, 3, 12),
           .referenceID = "R2"});
    Store({.number = 6,
           .subject = "No due date",
           .assigneeID = "bob",
           .originatorID = "bob",
           .dateOpened = Day(2024, 3, 14),
           .referenceID = "R1"});
  }

  /// What admin's list of a saved query holds, sorted by number, and the statement it ran.
  struct Listing {
    Rows numbers;
    std::string statement;
  };
  Listing List(Dialect dialect, int32_t queryID) const {
    const auto action = LoggedIn("admin", dialect);
    const auto rs = action->QueriedRecordset(queryID, "ActionNumber");
    return {Numbers(*rs), LastStatement(*action)};
  }

  /// Checks the condition and the rows of a saved query in one dialect.
  void ExpectQuery(Dialect dialect, const Criteria& criteria, const std::string& condition,
                   const Rows& rows) const {
    const Listing listing = List(dialect, SaveQuery(criteria));
    const char* name = dialect == Dialect::Server ? "server dialect" : "desktop dialect";
    EXPECT_EQ(listing.statement,
              "Select * from actions  where " + condition + " order by ActionNumber")
        << name;
    EXPECT_EQ(listing.numbers, rows) << name << ": " << condition;
  }
  /// The same condition and rows in both dialects.
  void ExpectQuery(const Criteria& criteria, const std::string& condition, const Rows& rows) const {
    for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
      ExpectQuery(dialect, criteria, condition, rows);
    }
  }
};

using QueriedRecordset = QueriedTest;
using QueryCriteria = QueriedTest;

const vb::Variant kTrue(true);

TEST_P(QueriedRecordset, WithoutSavedQueryListsTheUsersOpenActions) {
  const std::string open =
      "Select * from actions  where (AssigneeID='admin' or OriginatorID='admin') and dateClosed "
      "is Null order by ActionNumber";
  for (const int32_t queryID : {0, -1, 999}) {
    for (const Dialect dialect : {Dialect::Desktop, Dialect::Server}) {
      const Listing listing = List(dialect, queryID);
      EXPECT_EQ(listing.statement, open) << queryID;
      EXPECT_EQ(listing.numbers, (Rows{1, 2})) << queryID;
    }
  }
}

TEST_P(QueriedRecordset, SavedQueryWithoutCriteriaSelectsEveryAction) {
  const int32_t all = SaveQuery({});
  const auto action = LoggedIn("admin");
  const auto rs = action->QueriedRecordset(all);
  EXPECT_EQ(LastStatement(*action), "Select * from actions ");
  EXPECT_EQ(rs->RecordCount(), 6);
}

TEST_P(QueriedRecordset, HandsTheCursorOptionsOn) {
  const auto action = LoggedIn("admin");
  const auto keyset = action->QueriedRecordset(0);
  EXPECT_EQ(keyset->CursorType(), ado::adOpenKeyset);
  EXPECT_EQ(keyset->CursorLocation(), ado::adUseServer);
  EXPECT_EQ(keyset->LockType(), ado::adLockOptimistic);
  const auto snapshot = action->QueriedRecordset(0, "", 3, 3, 1);
  EXPECT_EQ(snapshot->CursorType(), ado::adOpenStatic);
  EXPECT_EQ(snapshot->CursorLocation(), ado::adUseClient);
  EXPECT_EQ(snapshot->LockType(), ado::adLockReadOnly);
}

TEST_P(QueriedRecordset, ModifierDecidesHowTheReferenceNarrows) {
  const int32_t all = SaveQuery({});
  const auto action = LoggedIn("admin");
  const auto list = [&](int32_t modifier) {
    action->QueryModifier(modifier);
    const auto rs = action->QueriedRecordset(all, "ActionNumber");
    return std::make_pair(Numbers(*rs), LastStatement(*action));
  };
  EXPECT_EQ(list(qmApplyReferenceID).first, (Rows{1, 2, 3, 4, 5, 6}))
      << "no ReferenceID, no narrowing";

  action->ReferenceID("R1");
  EXPECT_EQ(action->ReferenceID(), "R1");
  const std::string only = "Select * from actions  where ReferenceID='R1' order by ActionNumber";
  EXPECT_EQ(list(qmApplyReferenceID), std::make_pair(Rows{3, 6}, only));
  EXPECT_EQ(list(7), std::make_pair(Rows{3, 6}, only)) << "unknown modifiers apply it";
  EXPECT_EQ(list(qmIncludeVelActions),
            std::make_pair(Rows{1, 2, 3, 4, 6},
                           std::string("Select * from actions  where (ReferenceID='R1' or "
                                       "ReferenceID is Null) order by ActionNumber")));
  EXPECT_EQ(list(qmIncludeAllActions),
            std::make_pair(Rows{1, 2, 3, 4, 5, 6},
                           std::string("Select * from actions  order by ActionNumber")));
}

TEST_P(QueriedRecordset, ReferenceComesAfterTheDefaultCondition) {
  const auto action = LoggedIn("admin");
  action->ReferenceID("R2");
  action->QueryModifier(qmIncludeVelActions);
  const auto rs = action->QueriedRecordset(0, "ActionNumber desc");
  EXPECT_EQ(LastStatement(*action),
            "Select * from actions  where (AssigneeID='admin' or OriginatorID='admin') and "
            "dateClosed is Null and (ReferenceID='R2' or ReferenceID is Null) order by "
            "ActionNumber desc");
  EXPECT_EQ(Numbers(*rs), (Rows{2, 1}));
}

TEST_P(QueriedRecordset, ModifierOutside16BitsOverflowsAndKeepsTheOldOne) {
  const auto action = LoggedIn("admin");
  action->ReferenceID("R1");
  action->QueryModifier(qmIncludeAllActions);
  try {
    action->QueryModifier(40000);
    ADD_FAILURE() << "40000 was stored";
  } catch (const vb::ComError& e) {
    EXPECT_EQ(e.number(), vb::kOverflow);
  }
  (void)action->QueriedRecordset(SaveQuery({}));
  EXPECT_EQ(LastStatement(*action), "Select * from actions ");
}

TEST_P(QueryCriteria, PersonByOwnershipNameFragmentOrNull) {
  ExpectQuery({{"AssignedTo", int16_t{1}}, {"Assignee", "bob"}},
              "(OriginatorID='admin' or AssigneeID='admin')", {1, 2, 5});
  ExpectQuery({{"AssignedTo", int16_t{2}}, {"Assignee", "NULL"}}, "Assignee is null", {4});
  ExpectQuery({{"AssignedTo", int16_t{2}}, {"Assignee", "uil"}}, "Assignee like '%uil%'", {1, 6});
  ExpectQuery({{"AssignedTo", int16_t{2}}, {"Originator", "o'b"}}, "Originator like '%o''b%'",
              {2, 4});
  ExpectQuery({{"AssignedTo", int16_t{0}}, {"Assignee", "bob"}, {"Category", "Safety"}},
              "Category = 'Safety'", {1});
}

TEST_P(QueryCriteria, TextFragmentsKeepQuotesAndPercentSigns) {
  ExpectQuery({{"Subject", "50%"}}, "Subject like \"%50%%\"", {2, 3});
  ExpectQuery({{"Subject", "o'brien"}}, "Subject like \"%o'brien%\"", {4});
  ExpectQuery({{"Category", "safety"}, {"Priority", "HIGH"}},
              "Category = 'safety' and Priority = 'HIGH'", {1});
}

TEST_P(QueryCriteria, DateBoundsIncludeTheBoundDay) {
  const Criteria due = {{"DateDue", Day(2024, 3, 14)}, {"DateDueUpper", Day(2024, 3, 17)}};
  ExpectQuery(Dialect::Desktop, due,
              "DateDue >= DateValue('3/14/2024') and DateDue <= DateValue('3/17/2024')", {1, 2, 3});
  ExpectQuery(Dialect::Server, due, "DateDue >= '3/14/2024' and DateDue <= '3/17/2024'", {1, 2, 3});
  ExpectQuery(Dialect::Desktop, {{"DateOpenedUpper", Day(2024, 3, 12)}},
              "DateOpened <= DateValue('3/12/2024')", {1, 2, 3, 5});
  ExpectQuery(Dialect::Server, {{"DateCompleted", Day(2024, 3, 13)}},
              "DateCompleted >= '3/13/2024'", {4});
  ExpectQuery(Dialect::Desktop, {{"DateClosedUpper", Day(2024, 3, 12)}},
              "DateClosed <= DateValue('3/12/2024')", {5});
}

TEST_P(QueryCriteria, StatusCodesInEachDialect) {
  const auto status = [](int16_t code, vb::Variant dueDays = vb::Variant(vb::Null)) {
    return Criteria{{"ApplyStatus", kTrue}, {"Status", code}, {"DueDays", std::move(dueDays)}};
  };
  ExpectQuery(status(0), "dateclosed is null", {1, 2, 3, 4, 6});
  ExpectQuery(status(1), "(not dateclosed is null)", {5});
  // Due today at midnight: overdue for the server once its clock passed midnight, for the
  // desktop database only from tomorrow.
  ExpectQuery(Dialect::Desktop, status(2), "dateclosed is null and dateDue < date()", {1});
  ExpectQuery(Dialect::Server, status(2), "dateclosed is null and dateDue < getdate()", {1, 2});
  const std::string within = "dateclosed is null and (not datedue is null) and dateDue <= ";
  ExpectQuery(Dialect::Desktop, status(3, int16_t{2}), within + "dateadd(\"d\",2,date())",
              {1, 2, 3});
  ExpectQuery(Dialect::Server, status(3, int16_t{2}), within + "'3/17/2024'", {1, 2, 3});
  ExpectQuery(Dialect::Desktop, status(3, int16_t{-1}), within + "dateadd(\"d\",-1,date())", {1});
  ExpectQuery(Dialect::Server, status(3), within + "'3/15/2024'", {1, 2});
  ExpectQuery(Dialect::Desktop, status(4), "isnull(dateClosed) and not isnull(dateCompleted)", {4});
  ExpectQuery(Dialect::Server, status(4), "dateClosed is null and not dateCompleted is null", {4});
}

TEST_P(QueryCriteria, CombinedCriteriaComeInTheirOrder) {
  const Criteria criteria = {{"AssignedTo", int16_t{2}},   {"Assignee", "bob"},
                             {"Category", "Safety"},       {"Subject", "roof"},
                             {"DateDue", Day(2024, 3, 1)}, {"ApplyStatus", kTrue},
                             {"Status", int16_t{2}}};
  ExpectQuery(Dialect::Desktop, criteria,
              "Assignee like '%bob%' and Category = 'Safety' and Subject like \"%roof%\" and "
              "DateDue >= DateValue('3/1/2024') and dateclosed is null and dateDue < date()",
              {1});
  ExpectQuery(Dialect::Server, criteria,
              "Assignee like '%bob%' and Category = 'Safety' and Subject like \"%roof%\" and "
              "DateDue >= '3/1/2024' and dateclosed is null and dateDue < getdate()",
              {1});
}

KV_INSTANTIATE_ENGINES(QueriedRecordset);
KV_INSTANTIATE_ENGINES(QueryCriteria);

}  // namespace
}  // namespace kvaction::testing
