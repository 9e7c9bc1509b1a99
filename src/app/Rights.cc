#include "app/Rights.h"

#include <fmt/format.h>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "kvaction/rights/Rights.h"

namespace app {

bool Can(Session& session, int32_t right) {
  if (right != kvaction::arSuperUser && RightName(right).empty()) {
    throw Invalid("right", fmt::format("{}", right), "a right number of the catalogue");
  }
  return session.action().HasAccess(static_cast<int16_t>(right));
}

ado::RecordsetPtr EditingRights(Session& session, int32_t actionID) {
  return internal::RightsOf(session, actionID).record;
}

}  // namespace app
