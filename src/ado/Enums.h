#pragma once
// The ADO enumerations the library uses, with ADO's numeric values.
#include <cstdint>

namespace ado {

enum CursorTypeEnum : int32_t {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3,
};

enum CursorLocationEnum : int32_t {
  adUseNone = 1,
  adUseServer = 2,
  adUseClient = 3,
};

enum LockTypeEnum : int32_t {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4,
};

enum DataTypeEnum : int32_t {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adBoolean = 11,
  adVariant = 12,
  adTinyInt = 16,
  adBigInt = 20,
  adChar = 129,
  adWChar = 130,
  adDBDate = 133,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
};

enum FieldAttributeEnum : int32_t {
  adFldUnspecified = -1,
  adFldMayDefer = 0x2,
  adFldUpdatable = 0x4,
  adFldUnknownUpdatable = 0x8,
  adFldFixed = 0x10,
  adFldIsNullable = 0x20,
  adFldMayBeNull = 0x40,
  adFldLong = 0x80,
  adFldRowID = 0x100,
  adFldRowVersion = 0x200,
  adFldCacheDeferred = 0x1000,
  adFldKeyColumn = 0x8000,
};

enum AffectEnum : int32_t { adAffectCurrent = 1, adAffectGroup = 2, adAffectAll = 3 };
enum SearchDirectionEnum : int32_t { adSearchBackward = -1, adSearchForward = 1 };
enum BookmarkEnum : int32_t { adBookmarkCurrent = 0, adBookmarkFirst = 1, adBookmarkLast = 2 };
enum ObjectStateEnum : int32_t { adStateClosed = 0, adStateOpen = 1 };
enum EditModeEnum : int32_t { adEditNone = 0, adEditInProgress = 1, adEditAdd = 2 };
enum CommandTypeEnum : int32_t { adCmdUnspecified = -1, adCmdText = 1 };

}  // namespace ado
