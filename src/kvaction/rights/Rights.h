#pragma once
// The rights model: the catalogue of workgroup rights, the per-action editing rights, the delete
// permission, the guard of the SuperUser workgroup and the rule of visible fields.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kvaction/Enums.h"
#include "vb/Collection.h"
#include "vb/ComError.h"
#include "vb/Locale.h"

namespace kvaction {

/// One right of the catalogue: its number, its key (the number in decimal) and the description
/// clients show when maintaining a workgroup.
struct CatalogueRight {
  ActionRights right;
  std::string_view key;
  std::string_view description;
};

/// The 28 catalogued rights in the order WorkgroupRights lists them.
[[nodiscard]] const std::array<CatalogueRight, 28>& RightsCatalogue();

/// A fresh collection of the catalogue's descriptions under their keys, in catalogue order.
[[nodiscard]] vb::CollectionPtr WorkgroupRightsCollection();

/// What is known about the logged-in user. holds(n) is the access test of right n; a test that
/// fails counts as not holding the right.
struct UserFacts {
  bool super = false;  ///< holds arSuperUser
  std::string userID;
  int32_t groupID = 0;
  std::function<bool(int16_t right)> holds;
};

/// Whether the user may delete an action originated by originatorID: a super user always; with
/// arDeleteAction the actions he or she originated, with arApplyToOthers as well any action.
[[nodiscard]] bool PermitDelete(const UserFacts& user, std::string_view originatorID);

/// The action as the client shows it, its columns as text.
struct ActionFacts {
  std::string_view dateClosed;
  std::string_view dateCompleted;
  std::string_view assigneeID;
  std::string_view originatorID;
  std::string_view referenceID;
};

/// The editing rights of one action, in the order of the record editingRights returns.
/// closeAction is never decided here: the record carries the field without a value.
struct EditingRights {
  bool editActionTaken = false;
  bool editDateOpened = false;
  bool editDateDue = false;
  std::optional<bool> closeAction;
  bool editDescription = false;
  bool editPriority = false;
  bool editAssignee = false;
  bool editOriginator = false;
  bool editCategory = false;
  bool deleteAction = false;
  bool spellChecker = false;
  bool addActions = false;
  bool editReference = false;
  bool editActionNumber = false;
  bool editApprovalRequired = false;
  bool setStatus = false;
  bool editSubject = false;

  /// The field names of the record, in order.
  static constexpr std::array<std::string_view, 17> kFieldNames = {
      "EditActionTaken", "EditDateOpened",   "EditDateDue",          "CloseAction",
      "EditDescription", "EditPriority",     "EditAssignee",         "EditOriginator",
      "EditCategory",    "DeleteAction",     "SpellChecker",         "AddActions",
      "EditReference",   "EditActionNumber", "EditApprovalRequired", "SetStatus",
      "EditSubject"};
  /// The values in the order of kFieldNames.
  [[nodiscard]] std::array<std::optional<bool>, 17> InOrder() const;
};

/// The editing rights of user on action. contextReferenceID is the reference the client works in
/// (the Action object's ReferenceID); permitDelete is PermitDeleteAction's answer for the action.
/// Date texts count when they are valid dates in locale.
[[nodiscard]] EditingRights DecideEditingRights(const UserFacts& user, const ActionFacts& action,
                                                std::string_view contextReferenceID,
                                                bool permitDelete, const vb::Locale& locale);

/// The refusal of moving a user from workgroup current to target, or nullopt when the move may
/// go ahead (or is no move at all): only a super user may move someone into or out of the
/// SuperUser workgroup (-1). The error is kRefused with source "Action.SetWorkgroup".
[[nodiscard]] std::optional<vb::ComError> WorkgroupChangeRefusal(bool super, int32_t current,
                                                                 int32_t target);

/// Whether a column of the actions table is shown as data: not the ID columns (any name ending in
/// "id", in any letter case) nor the bookkeeping columns Flags, DateRejected, Alert, Reviewed and
/// ActionType.
[[nodiscard]] bool IsVisibleField(std::string_view name);

/// The key of a visible field: its 0-based position with at least two digits ("00", "07", "100").
[[nodiscard]] std::string VisibleFieldKey(int16_t position);

}  // namespace kvaction
