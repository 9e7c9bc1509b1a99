#include "kvaction/rights/Rights.h"

#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace kvaction {
namespace {

// The catalogue's order is the order every list of rights shows.
TEST(WorkgroupRights, CatalogueKeysAndTextsInOrder) {
  const vb::CollectionPtr rights = WorkgroupRightsCollection();
  ASSERT_EQ(rights->Count(), 28);
  std::string keys;
  for (int32_t i = 0; i < 28; ++i) {
    const CatalogueRight& entry = RightsCatalogue()[static_cast<std::size_t>(i)];
    EXPECT_EQ(entry.key, std::to_string(entry.right));
    EXPECT_EQ(rights->KeyAt(i + 1), entry.key);
    EXPECT_EQ(rights->Item(i + 1), vb::Variant(entry.description));
    keys += std::string(entry.key) + " ";
  }
  EXPECT_EQ(keys,
            "41 42 74 75 77 70 43 50 51 52 68 53 73 82 81 54 55 56 57 58 59 60 61 62 63 64 65 66 ");
  EXPECT_EQ(rights->Item(1), vb::Variant("Add users and edit user information"));
  EXPECT_EQ(rights->Item(28), vb::Variant("Apply rights to other's actions"));
  EXPECT_EQ(rights->Item("68"), vb::Variant("Create queries including other's actions"));
  for (const char* absent : {"255", "67", "69"}) EXPECT_FALSE(rights->Contains(absent));
}

/// A user "kim" of workgroup 3 holding the given rights.
UserFacts Kim(std::set<int16_t> held, bool super = false, int32_t group = 3) {
  return {super, "kim", group, [held = std::move(held)](int16_t n) { return held.contains(n); }};
}

TEST(PermitDelete, OriginatedActionsWithRight65AnyWith66OrAsSuperUser) {
  const struct {
    UserFacts user;
    const char* originatorID;
    bool permitted;
  } cases[] = {{Kim({}), "kim", false},      {Kim({66}), "lee", false},   {Kim({65}), "kim", true},
               {Kim({65}), "lee", false},    {Kim({65}), "", false},      {Kim({65}), "Kim", false},
               {Kim({65, 66}), "lee", true}, {Kim({}, true), "lee", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(PermitDelete(c.user, c.originatorID), c.permitted) << c.originatorID;
  }
}

// The 17 fields as T, F or - (not set), in record order: ActionTaken DateOpened DateDue
// CloseAction Description Priority Assignee Originator Category DeleteAction SpellChecker
// AddActions Reference ActionNumber ApprovalRequired SetStatus Subject.
std::string Flags(const EditingRights& rights) {
  std::string flags;
  for (const std::optional<bool>& value : rights.InOrder()) {
    flags += value ? (*value ? 'T' : 'F') : '-';
  }
  return flags;
}

enum class State { kOpen, kCompleted, kClosed };

// Rights of a clerk: every editing right except 58 (originator), 73 (action number), 50 (add),
// 60 (reference), 65 and 66.
const std::set<int16_t> kClerk = {54, 55, 57, 59, 61, 62, 63, 64, 81};

TEST(EditingRights, FollowWhoTheUserIsAndTheActionsState) {
  const struct {
    const char* who;
    UserFacts user;
    const char* assigneeID;
    const char* originatorID;
    State state;
    const char* flags;
  } cases[] = {
      {"super open", Kim({}, true), "lee", "lee", State::kOpen, "TTT-TTTTTTTTFTTTT"},
      {"super closed", Kim({}, true), "lee", "lee", State::kClosed, "TTT-TTTTTTTTFTTTT"},
      {"originator open", Kim(kClerk), "lee", "kim", State::kOpen, "TTT-TTTFTFTFFFTTT"},
      {"originator completed", Kim(kClerk), "lee", "kim", State::kCompleted, "TTT-TTTFTFTFFFTTT"},
      {"originator closed", Kim(kClerk), "lee", "kim", State::kClosed, "FFF-FFFFFFFFFFFTF"},
      {"originator, 58 73 50 65", Kim({50, 58, 65, 73}), "lee", "kim", State::kOpen,
       "TTT-TTTTTTTTFTTTT"},
      {"assignee open", Kim(kClerk), "kim", "lee", State::kOpen, "TTT-TTTFTFTFFFFTT"},
      {"assignee completed", Kim(kClerk), "kim", "lee", State::kCompleted, "FFF-FFFFFFFFFFFTF"},
      {"assignee completed, 73", Kim({73}), "kim", "lee", State::kCompleted, "FFF-FFFFFFFFFTFFF"},
      {"assignee closed, 73", Kim({73, 81}), "kim", "lee", State::kClosed, "FFF-FFFFFFFFFFFTF"},
      {"bystander", Kim(kClerk), "lee", "lee", State::kOpen, "FFF-FFFFFFFFFFFFF"},
      {"bystander, 66", Kim({66, 64}), "lee", "lee", State::kOpen, "TFF-FFFFFFTFFFFFF"},
      {"bystander, 50 65 66", Kim({50, 65, 66}), "lee", "lee", State::kOpen, "FFF-FFFFFTTTFFFFF"},
      {"originator, group 0", Kim(kClerk, false, 0), "lee", "kim", State::kOpen,
       "FFF-FFFFFFFFFFFFF"},
      {"originator and assignee, group 0", Kim(kClerk, false, 0), "kim", "kim", State::kOpen,
       "TTT-TTTFTFFFFFFTT"}};
  for (const auto& k : cases) {
    ActionFacts action{"", "", k.assigneeID, k.originatorID, ""};
    if (k.state != State::kOpen) action.dateCompleted = "3/1/2025";
    if (k.state == State::kClosed) action.dateClosed = "3/2/2025";
    const bool permit = PermitDelete(k.user, k.originatorID);
    EXPECT_EQ(Flags(DecideEditingRights(k.user, action, "", permit, vb::Locale::EnUS())), k.flags)
        << k.who;
  }
}

TEST(EditingRights, ReferenceNeedsTheSameNonEmptyReferenceAndRight60) {
  const auto reference = [](std::string_view actionRef, std::string_view contextRef,
                            std::set<int16_t> held) {
    const ActionFacts action{"", "", "lee", "lee", actionRef};
    return DecideEditingRights(Kim(std::move(held)), action, contextRef, false, vb::Locale::EnUS())
        .editReference;
  };
  EXPECT_TRUE(reference("R1", "R1", {60}));
  EXPECT_FALSE(reference("R1", "R1", {}));
  EXPECT_FALSE(reference("R1", "R2", {60}));
  EXPECT_FALSE(reference("", "", {60}));
}

TEST(EditingRights, FailingAccessTestGrantsNothing) {
  UserFacts user = Kim({});
  user.holds = [](int16_t n) -> bool {
    if (n == arEditActionTaken) throw vb::ComError(5, "kvDataServer.UserProfile", "broken");
    return true;
  };
  const ActionFacts action{"", "", "kim", "lee", ""};
  const EditingRights rights = DecideEditingRights(user, action, "", false, vb::Locale::EnUS());
  EXPECT_FALSE(rights.editActionTaken);
  EXPECT_TRUE(rights.editSubject);
}

TEST(WorkgroupChangeRefusal, OnlyASuperUserMovesIntoOrOutOfSuperUsers) {
  const auto refusal = WorkgroupChangeRefusal(false, 3, -1);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->number(), -2147220504);
  EXPECT_EQ(refusal->source(), "Action.SetWorkgroup");
  EXPECT_EQ(refusal->description(),
            "Unable to change workgroup: Only a SuperUser can assign SuperUser privileges");
  EXPECT_EQ(WorkgroupChangeRefusal(false, -1, 3)->description(),
            "Unable to change workgroup: Only a SuperUser can revoke SuperUser privileges");
  EXPECT_FALSE(WorkgroupChangeRefusal(false, 3, 4));
  EXPECT_FALSE(WorkgroupChangeRefusal(false, -1, -1));
  EXPECT_FALSE(WorkgroupChangeRefusal(true, 3, -1));
  EXPECT_FALSE(WorkgroupChangeRefusal(true, -1, 3));
}

TEST(VisibleFields, LeaveOutIDAndBookkeepingColumns) {
  const std::vector<std::string_view> columns = {
      "ActionID", "ActionNumber", "Subject", "OriginatorID", "Originator",
      "Flags",    "DateRejected", "Alert",   "Reviewed",     "ActionType",
      "DateDue",  "Paid",         "REVIEWED"};
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (IsVisibleField(columns[i])) {
      kept.push_back(VisibleFieldKey(static_cast<int16_t>(i)) + "=" + std::string(columns[i]));
    }
  }
  EXPECT_EQ(kept, (std::vector<std::string>{"01=ActionNumber", "02=Subject", "04=Originator",
                                            "10=DateDue"}));
  EXPECT_EQ(VisibleFieldKey(0), "00");
  EXPECT_EQ(VisibleFieldKey(100), "100");
}

}  // namespace
}  // namespace kvaction
