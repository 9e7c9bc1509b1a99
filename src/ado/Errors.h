#pragma once
// ADO's errors, with its numbers, sources and texts.
#include <cstdint>

#include "vb/ComError.h"

namespace ado {

enum AdoError : int32_t {
  /// "Either BOF or EOF is True, or the current record has been deleted. Requested operation
  /// requires a current record."
  kNoCurrentRecord = static_cast<int32_t>(0x800A0BCD),
  /// "Item cannot be found in the collection corresponding to the requested name or ordinal."
  kItemNotFound = static_cast<int32_t>(0x800A0CC1),
  /// "Operation is not allowed when the object is closed."
  kObjectClosed = static_cast<int32_t>(0x800A0E78),
  /// "Current Recordset does not support updating. This may be a limitation of the provider, or
  /// of the selected locktype."
  kReadOnly = static_cast<int32_t>(0x800A0CB3),
  /// "Operation is not allowed when the object is open."
  kObjectOpen = static_cast<int32_t>(0x800A0E79),
  /// "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one
  /// another."
  kBadArguments = static_cast<int32_t>(0x800A0BB9),
  /// "Row cannot be located for updating. Some values may have been changed since it was last
  /// read."
  kRowNotLocated = static_cast<int32_t>(0x80040E38),
  /// "Multiple-step operation generated errors. Check each status value."
  kMultipleStep = static_cast<int32_t>(0x80040E21),
  /// "Object is already in collection. Cannot append."
  kAlreadyInCollection = static_cast<int32_t>(0x800A0D27),
  /// "The connection cannot be used to perform this operation. It is either closed or invalid in
  /// this context."
  kConnectionUnusable = static_cast<int32_t>(0x800A0E7D),
};

/// The error with ADO's text; source "ADODB.Recordset" unless given ("ADODB.Field" and
/// "ADODB.Fields" for the field objects' own errors).
[[nodiscard]] vb::ComError Error(AdoError number, const char* source = "ADODB.Recordset");

}  // namespace ado
