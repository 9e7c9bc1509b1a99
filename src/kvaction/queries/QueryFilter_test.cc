#include "kvaction/queries/QueryFilter.h"

#include <map>
#include <set>

#include <gtest/gtest.h>

#include "ado/Errors.h"
#include "kvaction/Enums.h"
#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace kvaction {
namespace {

using kvdata::sql::Dialect;
using vb::Null;
using vb::Variant;

constexpr const char* kFields[] = {
    "AssignedTo",    "ApplyStatus",        "Status",          "DueDays",        "Assignee",
    "Originator",    "Category",           "Priority",        "Subject",        "Description",
    "Result",        "DateOpened",         "DateOpenedUpper", "DateDue",        "DateDueUpper",
    "DateCompleted", "DateCompletedUpper", "DateClosed",      "DateClosedUpper"};

/// A saved query's definition: one row holding values (Null elsewhere), without the fields named
/// in missing.
ado::RecordsetPtr Definition(const std::map<std::string, Variant>& values,
                             const std::set<std::string>& missing = {}) {
  auto rs = ado::Recordset::Create();
  for (const char* name : kFields) {
    if (!missing.contains(name)) rs->Fields().Append(name, ado::adVariant);
  }
  rs->Open();
  rs->AddNew();
  for (const auto& [name, value] : values) rs->Fields().Item(name).Value(value);
  rs->Update();
  rs->MoveFirst();
  return rs;
}

// Today is 10 March 2025.
const vb::FixedClock kClock(vb::Date::FromParts(2025, 3, 10, 16, 45));

std::string Condition(const ado::RecordsetPtr& definition, Dialect dialect,
                      const vb::Locale& locale = vb::Locale::EnUS()) {
  return QueryCondition(definition, "kim", {dialect, kClock, locale});
}

std::string Jet(const std::map<std::string, Variant>& values) {
  return Condition(Definition(values), Dialect::Desktop);
}
std::string Server(const std::map<std::string, Variant>& values) {
  return Condition(Definition(values), Dialect::Server);
}

TEST(QueryCondition, WithoutDefinitionListsTheUsersOpenActionsAnEmptyOneEverything) {
  const std::string open = "(AssigneeID='kim' or OriginatorID='kim') and dateClosed is Null";
  EXPECT_EQ(Condition(nullptr, Dialect::Desktop), open);
  auto empty = ado::Recordset::Create();
  empty->Fields().Append("AssignedTo", ado::adSmallInt);
  empty->Open();
  EXPECT_EQ(Condition(empty, Dialect::Server), open);
  // A definition without criteria gives no condition, and is closed.
  const auto definition = Definition({{"ApplyStatus", false}, {"Status", int16_t{2}}});
  EXPECT_EQ(Condition(definition, Dialect::Desktop), "");
  EXPECT_EQ(definition->State(), ado::adStateClosed);
}

TEST(QueryCondition, PersonCriterion) {
  EXPECT_EQ(Jet({{"AssignedTo", int16_t{1}}, {"Assignee", "Lee"}}),
            "(OriginatorID='kim' or AssigneeID='kim')");
  EXPECT_EQ(Jet({{"AssignedTo", int16_t{0}}, {"Assignee", "Lee"}, {"Originator", "Kim"}}), "");
  EXPECT_EQ(Jet({{"AssignedTo", int16_t{2}}, {"Assignee", "NULL"}}), "Assignee is null");
  EXPECT_EQ(Server({{"AssignedTo", int16_t{2}}, {"Assignee", "O'Ne"}, {"Originator", "null"}}),
            "Assignee like '%O''Ne%' and Originator is null");
}

// Person, then the text fields, then the dates (below), then the status, whatever the order given.
TEST(QueryCondition, FieldCriteriaComeInTheirFixedOrderInBothDialects) {
  const std::map<std::string, Variant> values = {
      {"Status", int16_t{0}},  {"ApplyStatus", true},     {"Category", ""},
      {"Priority", "High"},    {"Subject", "pump"},       {"Description", "seal"},
      {"Result", "it's done"}, {"AssignedTo", int16_t{1}}};
  const std::string expected =
      "(OriginatorID='kim' or AssigneeID='kim') and Category = '' and Priority = 'High' and "
      "Subject like \"%pump%\" and Description like \"%seal%\" and "
      "Result like \"%it's done%\" and dateclosed is null";
  EXPECT_EQ(Jet(values), expected);
  EXPECT_EQ(Server(values), expected);
}

TEST(QueryCondition, DateBoundsInTableOrder) {
  const std::map<std::string, Variant> bounds = {
      {"DateClosedUpper", "4/8/2025"},     {"DateOpened", "1/1/2025"},
      {"DateOpenedUpper", "1/31/2025"},    {"DateDue", "2/1/2025"},
      {"DateDueUpper", "2/28/2025"},       {"DateCompleted", "3/1/2025"},
      {"DateCompletedUpper", "3/31/2025"}, {"DateClosed", "4/1/2025"}};
  EXPECT_EQ(Jet(bounds),
            "DateOpened >= DateValue('1/1/2025') and DateOpened <= DateValue('1/31/2025') and "
            "DateDue >= DateValue('2/1/2025') and DateDue <= DateValue('2/28/2025') and "
            "DateCompleted >= DateValue('3/1/2025') and DateCompleted <= DateValue('3/31/2025') "
            "and DateClosed >= DateValue('4/1/2025') and DateClosed <= DateValue('4/8/2025')");
  EXPECT_EQ(Server(bounds),
            "DateOpened >= '1/1/2025' and DateOpened <= '1/31/2025' and "
            "DateDue >= '2/1/2025' and DateDue <= '2/28/2025' and "
            "DateCompleted >= '3/1/2025' and DateCompleted <= '3/31/2025' and "
            "DateClosed >= '4/1/2025' and DateClosed <= '4/8/2025'");
  EXPECT_EQ(Jet({{"DateDueUpper", "2/28/2025"}}), "DateDue <= DateValue('2/28/2025')");
}

TEST(QueryCondition, DateValuesTakeTheLocalesShortForm) {
  const auto definition = Definition({{"DateDue", vb::Date::FromParts(2025, 1, 5)},
                                      {"ApplyStatus", true},
                                      {"Status", int16_t{3}},
                                      {"DueDays", int16_t{7}}});
  EXPECT_EQ(Condition(definition, Dialect::Server, vb::Locale::EnGB()),
            "DateDue >= '05/01/2025' and dateclosed is null and (not datedue is null) and "
            "dateDue <= '17/03/2025'");
}

TEST(StatusCriterion, ByCodeAndDialect) {
  const struct {
    int16_t status;
    const char* jet;
    const char* server;
  } cases[] = {
      {0, "dateclosed is null", "dateclosed is null"},
      {1, "(not dateclosed is null)", "(not dateclosed is null)"},
      {2, "dateclosed is null and dateDue < date()", "dateclosed is null and dateDue < getdate()"},
      {3, "dateclosed is null and (not datedue is null) and dateDue <= dateadd(\"d\",0,date())",
       "dateclosed is null and (not datedue is null) and dateDue <= '3/10/2025'"},
      {4, "isnull(dateClosed) and not isnull(dateCompleted)",
       "dateClosed is null and not dateCompleted is null"},
      {5, "", ""}};
  for (const auto& c : cases) {
    const std::map<std::string, Variant> values = {{"ApplyStatus", true}, {"Status", c.status}};
    EXPECT_EQ(Jet(values), c.jet) << c.status;
    EXPECT_EQ(Server(values), c.server) << c.status;
  }
}

TEST(StatusCriterion, DueDaysAreRoundedHalfToEven) {
  const auto within = [](const Variant& dueDays) {
    return Jet({{"ApplyStatus", true}, {"Status", int16_t{3}}, {"DueDays", dueDays}});
  };
  EXPECT_TRUE(within(int16_t{7}).ends_with("dateadd(\"d\",7,date())"));
  EXPECT_TRUE(within(int16_t{-2}).ends_with("dateadd(\"d\",-2,date())"));
  EXPECT_TRUE(within("2.5").ends_with("dateadd(\"d\",2,date())"));
  EXPECT_TRUE(within("3.5").ends_with("dateadd(\"d\",4,date())"));
  EXPECT_TRUE(within("soon").ends_with("dateadd(\"d\",0,date())"));
  EXPECT_EQ(Server({{"ApplyStatus", true}, {"Status", int16_t{3}}, {"DueDays", int16_t{-2}}}),
            "dateclosed is null and (not datedue is null) and dateDue <= '3/8/2025'");
  EXPECT_EQ(vb::testing::ErrorOf([&] { (void)within("40000"); }).number(), vb::kOverflow);
}

TEST(QueryCondition, SwitchesAreReadTolerantly) {
  // A missing AssignedTo, a Status that is not a number: no person criterion, status 0.
  const auto definition =
      Definition({{"ApplyStatus", true}, {"Status", "open"}, {"Category", "HR"}}, {"AssignedTo"});
  EXPECT_EQ(Condition(definition, Dialect::Desktop), "Category = 'HR' and dateclosed is null");
  EXPECT_EQ(Jet({{"ApplyStatus", "perhaps"}, {"Status", int16_t{1}}}), "");
}

TEST(QueryCondition, MissingCriterionFieldFailsAndLeavesTheDefinitionOpen) {
  const auto definition = Definition({}, {"Result"});
  EXPECT_EQ(vb::testing::ErrorOf([&] { (void)Condition(definition, Dialect::Desktop); }).number(),
            ado::kItemNotFound);
  EXPECT_EQ(definition->State(), ado::adStateOpen);
}

TEST(QueriedStatement, NarrowsByReferenceAndSorts) {
  EXPECT_EQ(QueriedStatement("", "", qmApplyReferenceID, ""), "Select * from actions ");
  EXPECT_EQ(QueriedStatement("a = 1", "", qmApplyReferenceID, ""),
            "Select * from actions  where a = 1");
  EXPECT_EQ(QueriedStatement("a = 1", "R1", qmApplyReferenceID, "DateDue desc"),
            "Select * from actions  where a = 1 and ReferenceID='R1' order by DateDue desc");
  EXPECT_EQ(QueriedStatement("a = 1", "R1", qmIncludeVelActions, ""),
            "Select * from actions  where a = 1 and (ReferenceID='R1' or ReferenceID is Null)");
  EXPECT_EQ(QueriedStatement("a = 1", "R1", qmIncludeAllActions, ""),
            "Select * from actions  where a = 1");
  EXPECT_EQ(QueriedStatement("", "R1", 7, ""), "Select * from actions  where ReferenceID='R1'");
}

}  // namespace
}  // namespace kvaction
