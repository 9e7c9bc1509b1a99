#include "kvaction/rights/Rights.h"

#include <fmt/format.h>

#include "kvdata/DataUtility.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

constexpr std::array<CatalogueRight, 28> kCatalogue = {{
    {arAddEditUsers, "41", "Add users and edit user information"},
    {arDeleteUsers, "42", "Delete users"},
    {arCreateUserQueries, "74", "Create or Edit User List Queries"},
    {arAssignUserQueries, "75", "Make public User List Queries"},
    {arAddUserKeywords, "77", "Add keywords in User Detail Form"},
    {arChangePassword, "70", "Change own password"},
    {arChangeWorkgroups, "43", "Workgroup maintenance"},
    {arAddActions, "50", "Add Actions"},
    {arAddKeywords, "51", "Add keywords in Action Detail Form"},
    {arCreateQueries, "52", "Create Action queries"},
    {arQueryOthers, "68", "Create queries including other's actions"},
    {arAssignQueries, "53", "Make queries available to other users"},
    {arChangeActionNum, "73", "Change Action Numbers"},
    {arViewHistory, "82", "View Change History"},
    {arSetStatus, "81", "Set Action Status"},
    {arEditDateOpened, "54", "Edit date opened"},
    {arEditDateDue, "55", "Edit due date"},
    {arCloseAction, "56", "Completely close assigned action"},
    {arEditTitle, "57", "Edit action title"},
    {arEditOriginator, "58", "Change the originator"},
    {arEditAssignee, "59", "Change the assignee"},
    {arEditReference, "60", "Edit reference number"},
    {arEditCategory, "61", "Edit category field"},
    {arEditDescription, "62", "Edit action description"},
    {arEditPriority, "63", "Change priority"},
    {arEditActionTaken, "64", "Edit action taken"},
    {arDeleteAction, "65", "Delete originated actions"},
    {arApplyToOthers, "66", "Apply rights to other's actions"},
}};

/// The access test of one right; a test that fails answers false, so a broken profile never
/// grants a permission.
bool Holds(const UserFacts& user, ActionRights right) {
  bool held = false;
  vb::ErrorTrap trap;
  trap.Assign(held, [&] { return user.holds(static_cast<int16_t>(right)); });
  return held;
}

/// Who the user is to the action, and the action's state.
struct Standing {
  bool originator = false;
  bool assignee = false;
  bool open = false;
  bool editable = false;
};

Standing StandingOf(const UserFacts& user, const ActionFacts& action, const vb::Locale& locale) {
  Standing standing;
  standing.originator = user.userID == action.originatorID && user.groupID != 0;
  standing.assignee = user.userID == action.assigneeID;
  if (Holds(user, arApplyToOthers) && !user.super) standing.assignee = true;
  const bool closed = vb::IsDate(vb::Variant(action.dateClosed), locale);
  const bool completed = vb::IsDate(vb::Variant(action.dateCompleted), locale);
  standing.open = !closed;
  standing.editable = !closed && !completed;
  return standing;
}

/// The originator or a super user edits everything of an open action, a super user even of a
/// closed one; only the originator and the action number follow their rights.
void GrantOwner(const UserFacts& user, const Standing& standing, EditingRights& rights) {
  const bool all = user.super || standing.open;
  rights.editActionTaken = all;
  rights.editDateOpened = all;
  rights.editDateDue = all;
  rights.editDescription = all;
  rights.editPriority = all;
  rights.editAssignee = all;
  rights.editCategory = all;
  rights.spellChecker = all;
  rights.editApprovalRequired = all;
  rights.editSubject = all;
  rights.editOriginator = user.super || (Holds(user, arEditOriginator) && standing.open);
  rights.editActionNumber = user.super || (Holds(user, arChangeActionNum) && standing.open);
  rights.setStatus = true;
}

/// The assignee edits what his or her rights allow while the action is neither closed nor
/// completed; the action number looks at Closed alone, the status at neither date.
void GrantAssignee(const UserFacts& user, const Standing& standing, EditingRights& rights) {
  const auto whileEditable = [&](ActionRights right) {
    return Holds(user, right) && standing.editable;
  };
  rights.editActionTaken = whileEditable(arEditActionTaken);
  rights.editDateOpened = whileEditable(arEditDateOpened);
  rights.editDateDue = whileEditable(arEditDateDue);
  rights.editDescription = whileEditable(arEditDescription);
  rights.editPriority = whileEditable(arEditPriority);
  rights.editAssignee = whileEditable(arEditAssignee);
  rights.editOriginator = whileEditable(arEditOriginator);
  rights.editCategory = whileEditable(arEditCategory);
  rights.spellChecker = user.groupID != 0 && standing.editable;
  rights.editActionNumber = Holds(user, arChangeActionNum) && standing.open;
  rights.setStatus = Holds(user, arSetStatus);
  rights.editSubject = whileEditable(arEditTitle);
}

}  // namespace

const std::array<CatalogueRight, 28>& RightsCatalogue() { return kCatalogue; }

vb::CollectionPtr WorkgroupRightsCollection() {
  auto collection = std::make_shared<vb::Collection>();
  for (const CatalogueRight& entry : kCatalogue) {
    kvdata::DataUtility::AddToCollection(collection, entry.key, vb::Variant(entry.description));
  }
  return collection;
}

bool PermitDelete(const UserFacts& user, std::string_view originatorID) {
  const bool others = Holds(user, arApplyToOthers);
  const bool deleteOriginated = Holds(user, arDeleteAction);
  return user.super || (deleteOriginated && (user.userID == originatorID || others));
}

std::array<std::optional<bool>, 17> EditingRights::InOrder() const {
  return {editActionTaken, editDateOpened, editDateDue,    closeAction,      editDescription,
          editPriority,    editAssignee,   editOriginator, editCategory,     deleteAction,
          spellChecker,    addActions,     editReference,  editActionNumber, editApprovalRequired,
          setStatus,       editSubject};
}

EditingRights DecideEditingRights(const UserFacts& user, const ActionFacts& action,
                                  std::string_view contextReferenceID, bool permitDelete,
                                  const vb::Locale& locale) {
  const Standing standing = StandingOf(user, action, locale);
  EditingRights rights;
  if (standing.originator || user.super) {
    GrantOwner(user, standing, rights);
  } else if (standing.assignee) {
    GrantAssignee(user, standing, rights);
  }
  rights.deleteAction = permitDelete;
  rights.addActions = Holds(user, arAddActions) || user.super;
  rights.editReference = !action.referenceID.empty() && action.referenceID == contextReferenceID &&
                         Holds(user, arEditReference);
  return rights;
}

std::optional<vb::ComError> WorkgroupChangeRefusal(bool super, int32_t current, int32_t target) {
  constexpr int32_t kSuperUserGroup = -1;
  if (target == current || super) return std::nullopt;
  std::string_view reason;
  if (target == kSuperUserGroup) {
    reason = "Only a SuperUser can assign SuperUser privileges";
  } else if (current == kSuperUserGroup) {
    reason = "Only a SuperUser can revoke SuperUser privileges";
  } else {
    return std::nullopt;
  }
  return vb::ComError(kRefused, "Action.SetWorkgroup",
                      "Unable to change workgroup: " + std::string(reason));
}

bool IsVisibleField(std::string_view name) {
  const std::string lower = vb::LCase(name);
  if (lower.ends_with("id")) return false;
  for (const std::string_view hidden :
       {"flags", "daterejected", "alert", "reviewed", "actiontype"}) {
    if (lower == hidden) return false;
  }
  return true;
}

std::string VisibleFieldKey(int16_t position) { return fmt::format("{:02}", position); }

}  // namespace kvaction
