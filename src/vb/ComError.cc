#include "vb/ComError.h"

#include <utility>

namespace vb {

ComError::ComError(int32_t number, std::string source, std::string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {}

ComError ComError::Runtime(RuntimeError number) {
  return ComError(number, std::string(kRuntimeSource), std::string(RuntimeText(number)));
}

std::string_view ComError::RuntimeText(int32_t number) {
  switch (number) {
    case kInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case kOverflow:
      return "Overflow";
    case kSubscriptOutOfRange:
      return "Subscript out of range";
    case kTypeMismatch:
      return "Type mismatch";
    case kObjectNotSet:
      return "Object variable or With block variable not set";
    case kInvalidUseOfNull:
      return "Invalid use of Null";
    case kDuplicateKey:
      return "This key is already associated with an element of this collection";
    default:
      return "";
  }
}

ComError ComError::WithSourcePrefix(std::string_view prefix) const {
  return ComError(number_, std::string(prefix) + source_, description_);
}

}  // namespace vb
