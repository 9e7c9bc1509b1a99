#pragma once
// The enumerations published with the Action class, with the values clients and stored rows use,
// and the library's own error numbers.
#include <cstdint>

#include "vb/ComError.h"

namespace kvaction {

/// Access rights of a workgroup, as HasAccess tests them. 68 is shared by arQueryOthers and
/// arChangeActionNumber; changing action numbers is tested with arChangeActionNum (73).
enum ActionRights : int32_t {
  arAddEditUsers = 41,
  arDeleteUsers = 42,
  arChangeWorkgroups = 43,
  arAddActions = 50,
  arAddKeywords = 51,
  arCreateQueries = 52,
  arQueryOthers = 68,
  arAssignQueries = 53,
  arEditDateOpened = 54,
  arEditDateDue = 55,
  arCloseAction = 56,
  arEditTitle = 57,
  arEditOriginator = 58,
  arEditAssignee = 59,
  arEditReference = 60,
  arEditCategory = 61,
  arEditDescription = 62,
  arEditPriority = 63,
  arEditActionTaken = 64,
  arDeleteAction = 65,
  arApplyToOthers = 66,
  arChangeActionNumber = 68,
  arChangeActionNum = 73,
  arChangePassword = 70,
  arCreateUserQueries = 74,
  arAssignUserQueries = 75,
  arAddUserKeywords = 77,
  arSetStatus = 81,
  arViewHistory = 82,
  arSuperUser = 255,
};

/// Where an action stands between originator and assignee (the column Reviewed). Below
/// rsOriginatorReview it is the assignee's turn, from it on the originator's.
enum ReviewStatus : int32_t {
  rsAssigneeReview = 0,
  rsAssigneeRejected = 1,
  rsAssigneeClarified = 2,
  rsOriginatorReview = 10,
  rsOriginatorCompleted = 11,
  rsOriginatorClarification = 12,
  rsReOpenedbyOriginator = 40,
  rsReOpenedbyAssignee = 41,
  rsReOpenedbyOther = 42,
  rsClosedbyOriginator = 50,
  rsClosedbyAssignee = 51,
  rsClosedbyOther = 52,
};

/// Whether completing an action needs the originator's approval (the column ActionType).
enum ActionType : int32_t {
  atApprovalRequired = 0,
  atAcknowledgeOnly = 1,
};

/// How queried record sets treat the object's ReferenceID. Other values act as
/// qmApplyReferenceID.
enum EnumQueryModifier : int32_t {
  qmApplyReferenceID = 0,
  qmIncludeVelActions = 1,
  qmIncludeAllActions = 2,
};

/// The picture lists show for an action's state.
enum StatusImageIndex : int32_t {
  siClosed = 0,
  siOpen = 1,
  siOverDue = 2,
  siNotDue = 3,
  siFlagged = 4,
};

/// The codes of the history events written for an action.
enum ActionEventCode : int32_t {
  evRecordCreated = 1,
  evDateOpenedChanged = 2,
  evDateDueChanged = 3,
  evDateClosedChanged = 4,
  evOriginatorChanged = 5,
  evAssigneeChanged = 6,
  evReviewChanged = 7,
  evFieldChanged = 8,
  evRecordDeleted = 9,
};

/// The library's own error numbers, object-error base + offset.
enum ActionError : int32_t {
  /// An operation was refused (workgroup change, attachment path missing).
  kRefused = vb::kObjectError + 1000,
  /// The opened database lacks the action tables.
  kNotActionDatabase = vb::kObjectError + 1003,
  /// The database's schema version is rejected.
  kVersionRejected = vb::kObjectError + 1004,
};

}  // namespace kvaction
