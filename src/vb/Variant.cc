#include "vb/Variant.h"

namespace vb {

VbVarType Variant::VarType() const {
  // Indexed like Storage's alternatives.
  static constexpr VbVarType kCodes[] = {vbEmpty, vbNull,   vbBoolean, vbInteger,
                                         vbLong,  vbDouble, vbDate,    vbString};
  static_assert(std::size(kCodes) == std::variant_size_v<Storage>);
  return kCodes[v_.index()];
}

bool Variant::IsNumeric() const {
  return std::holds_alternative<int16_t>(v_) || std::holds_alternative<int32_t>(v_) ||
         std::holds_alternative<double>(v_);
}

}  // namespace vb
