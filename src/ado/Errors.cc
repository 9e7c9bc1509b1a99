#include "ado/Errors.h"

#include <string>

namespace ado {
namespace {

const char* TextOf(AdoError number) {
  switch (number) {
    case kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. Requested "
             "operation requires a current record.";
    case kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    case kObjectClosed:
      return "Operation is not allowed when the object is closed.";
    case kReadOnly:
      return "Current Recordset does not support updating. This may be a limitation of the "
             "provider, or of the selected locktype.";
    case kObjectOpen:
      return "Operation is not allowed when the object is open.";
    case kBadArguments:
      return "Arguments are of the wrong type, are out of acceptable range, or are in conflict "
             "with one another.";
    case kRowNotLocated:
      return "Row cannot be located for updating. Some values may have been changed since it "
             "was last read.";
    case kMultipleStep:
      return "Multiple-step operation generated errors. Check each status value.";
    case kAlreadyInCollection:
      return "Object is already in collection. Cannot append.";
    case kConnectionUnusable:
      return "The connection cannot be used to perform this operation. It is either closed or "
             "invalid in this context.";
  }
  return "";  // a number cast from outside the enumeration
}

}  // namespace

vb::ComError Error(AdoError number, const char* source) {
  return vb::ComError(number, source, TextOf(number));
}

}  // namespace ado
