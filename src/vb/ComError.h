#pragma once
// The one exception type that reaches clients: a COM error triple of number, source and
// description, with the host runtime's and ADO's well-known errors as named constructors.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vb {

/// The object-error base: library-defined errors are raised as kObjectError + offset.
inline constexpr int32_t kObjectError = static_cast<int32_t>(0x80040000);

/// Host runtime error numbers that the library raises.
enum RuntimeError : int32_t {
  kInvalidProcedureCall = 5,  // "Invalid procedure call or argument"
  kOverflow = 6,              // "Overflow"
  kSubscriptOutOfRange = 9,   // "Subscript out of range"
  kTypeMismatch = 13,         // "Type mismatch"
  kObjectNotSet = 91,         // "Object variable or With block variable not set"
  kInvalidUseOfNull = 94,     // "Invalid use of Null"
  kDuplicateKey = 457,        // "This key is already associated with an element of this collection"
};

/// Source given to host runtime errors (the host names the project that raised them).
inline constexpr std::string_view kRuntimeSource = "kvAction";

class ComError : public std::exception {
 public:
  ComError(int32_t number, std::string source, std::string description);

  /// A host runtime error with its standard description (see RuntimeError).
  [[nodiscard]] static ComError Runtime(RuntimeError number);
  /// The standard description of a host runtime error number ("" when unknown).
  [[nodiscard]] static std::string_view RuntimeText(int32_t number);

  [[nodiscard]] int32_t number() const noexcept { return number_; }
  [[nodiscard]] const std::string& source() const noexcept { return source_; }
  [[nodiscard]] const std::string& description() const noexcept { return description_; }
  [[nodiscard]] const char* what() const noexcept override { return description_.c_str(); }

  /// The same error with its source replaced by prefix + the old source.
  [[nodiscard]] ComError WithSourcePrefix(std::string_view prefix) const;

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

/// Raises 91 when an object reference is nothing; returns the reference otherwise.
template <class Ptr>
const Ptr& Require(const Ptr& object) {
  if (!object) throw ComError::Runtime(kObjectNotSet);
  return object;
}

}  // namespace vb
