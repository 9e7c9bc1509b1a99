// Lists of actions: the reference context, the query modifier, and the record set of a saved
// query (or of the user's open actions) in the client's sort order.
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/queries/ListGuards.h"
#include "kvaction/queries/QueryFilter.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/QueryStore.h"
#include "kvdata/UserProfile.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

/// The search condition of a saved query, written in the dialect of the connection the server
/// holds now (the desktop or the server database's). The user's ID is read before the saved
/// query; a number of 0 or less, or one that names no query, gives the user's open actions.
std::string QueryFilter(const kvdata::DataServer& server, int32_t nQueryID, const vb::Clock& clock,
                        const vb::Locale& locale) {
  const kvdata::sql::Dialect dialect = vb::Require(server.Connection())->Dialect();
  const std::string userID = vb::Require(server.Profile())->UserID();
  ado::RecordsetPtr definition;
  if (nQueryID > 0) definition = server.Queries()->QueryRecordset(nQueryID, 1, 2, 3);
  return QueryCondition(definition, userID, {dialect, clock, locale});
}

}  // namespace

std::string Action::ReferenceID() const { return state_->referenceID; }

void Action::ReferenceID(std::string_view cRefID) { state_->referenceID = std::string(cRefID); }

void Action::QueryModifier(int32_t nModifier) {
  state_->queryModifier = vb::CInt(vb::Variant(nModifier));
}

RecordsetPtr Action::QueriedRecordset(int32_t nQueryID, std::string_view cSortClause,
                                      int32_t CursorType, int32_t CursorLocation,
                                      int32_t LockType) {
  const kvdata::DataServer& server = *vb::Require(state_->dataServer);
  CheckSortClause(cSortClause);
  const std::string statement =
      QueriedStatement(QueryFilter(server, nQueryID, *state_->clock, state_->locale),
                       state_->referenceID, state_->queryModifier, cSortClause);
  return OpenActionsList(*vb::Require(server.Connection()), statement, CursorType, CursorLocation,
                         LockType);
}

}  // namespace kvaction
