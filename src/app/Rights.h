#pragma once
// Rights questions as a front end asks them: does the person hold a right, what may he or she
// do to one action.
#include <cstdint>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "app/Session.h"

namespace app {

/// Whether the person holds a right of the catalogue (HasAccess). Raises kInvalidInput for a
/// number that is not a right.
[[nodiscard]] bool Can(Session& session, int32_t right);
/// The editing-rights record of an action for the person (17 boolean fields, CloseAction set by
/// this product's rule: see docs/rights.md).
[[nodiscard]] ado::RecordsetPtr EditingRights(Session& session, int32_t actionID);
/// The description of a right of the catalogue ("" when not a right).
[[nodiscard]] std::string RightName(int32_t right);
/// The highest number the rights catalogue uses, for walking it.
inline constexpr int32_t kHighestRight = 255;

}  // namespace app
