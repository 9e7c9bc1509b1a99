#pragma once
// The host's Variant: Empty, Null, Boolean, Integer (16-bit), Long (32-bit), Double, Date, String.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "vb/Date.h"

namespace vb {

/// VarType codes, as the host numbers them.
enum VbVarType : int16_t {
  vbEmpty = 0,
  vbNull = 1,
  vbInteger = 2,
  vbLong = 3,
  vbDouble = 5,
  vbDate = 7,
  vbString = 8,
  vbBoolean = 11,
};

/// Tag type of the Null value.
struct NullValue {
  friend constexpr bool operator==(NullValue, NullValue) { return true; }
};
inline constexpr NullValue Null{};

class Variant {
 public:
  using Storage =
      std::variant<std::monostate, NullValue, bool, int16_t, int32_t, double, Date, std::string>;

  Variant() = default;  ///< Empty.
  Variant(NullValue) : v_(NullValue{}) {}
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(double d) : v_(d) {}
  Variant(Date d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::in_place_type<std::string>, s) {}
  Variant(const char* s) : v_(std::in_place_type<std::string>, s) {}

  [[nodiscard]] VbVarType VarType() const;
  [[nodiscard]] bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  [[nodiscard]] bool IsNull() const { return std::holds_alternative<NullValue>(v_); }
  [[nodiscard]] bool IsString() const { return std::holds_alternative<std::string>(v_); }
  [[nodiscard]] bool IsDate() const { return std::holds_alternative<Date>(v_); }
  [[nodiscard]] bool IsBoolean() const { return std::holds_alternative<bool>(v_); }
  /// Integer, Long or Double.
  [[nodiscard]] bool IsNumeric() const;

  /// The stored value; use the conversions (vb/Convert.h) to read it as a given type.
  [[nodiscard]] const Storage& storage() const { return v_; }

  /// Same type and same value (texts compared with letter case); Empty == Empty, Null == Null.
  friend bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }

 private:
  Storage v_;
};

}  // namespace vb
