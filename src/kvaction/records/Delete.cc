// Deleting actions: one by ID, the current row of the caller's record set, or every action of a
// list, each with a "Record Deleted" event, in one transaction. When a deletion fails, the ones
// before it stay done.
#include <memory>
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/records/RecordWrites.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/EventLog.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

constexpr std::string_view kDeletedText = "Record Deleted";

// Deletes one action and records the deletion, also for an ID that names no action. Through rs
// when rs holds the row (so the caller's view loses it at once): from then on failures are
// passed over. Otherwise with a statement, whose failures reach the caller. Returns whether a
// row was removed.
bool DeleteActionRow(kvdata::DataServer& server, int32_t nActionID, const RecordsetPtr& rs) {
  kvdata::DataConnection& connection = *server.Connection();
  if (rs) {
    rs->Find("ActionID=" + std::to_string(nActionID), 0, ado::adSearchForward,
             ado::adBookmarkFirst);
    if (!rs->IsEOF()) {
      vb::ErrorTrap trap;
      const bool removed =
          RunTrappedStep(connection, trap, [&] { rs->Delete(ado::adAffectCurrent); });
      RunTrappedStep(connection, trap,
                     [&] { server.Events()->AddEvent(evRecordDeleted, nActionID, kDeletedText); });
      return removed;
    }
  }
  int32_t recordsAffected = 0;
  UndoAloneOnFailure(connection, [&] {
    recordsAffected = connection.ExecuteKeyed("Delete from actions where actionID=", nActionID);
  });
  UndoAloneOnFailure(connection,
                     [&] { server.Events()->AddEvent(evRecordDeleted, nActionID, kDeletedText); });
  return recordsAffected > 0;
}

// The action a call names by rs alone: the ActionID of its current row, 0 without one.
int32_t CurrentActionID(ado::Recordset& rs) {
  if (rs.IsEOF() || rs.IsBOF()) return 0;
  return vb::CLng(rs["ActionID"].Value());
}

}  // namespace

// Returns true when at least one action was deleted.
bool Action::delete_(int32_t nActionID, RecordsetPtr* rs, RecordsetPtr* rsActionID) {
  const RecordsetPtr client = rs != nullptr ? *rs : nullptr;
  const RecordsetPtr list = rsActionID != nullptr ? *rsActionID : nullptr;
  int32_t single = nActionID;
  if (single == 0 && !list && client) single = CurrentActionID(*client);

  kvdata::DataServer& server = *vb::Require(state_->dataServer);
  bool deleted = false;
  WriteKeepingWhatWasDone(*server.Connection(), [&] {
    if (single > 0) deleted = DeleteActionRow(server, single, client);
    if (list) {
      list->MoveFirst();
      while (!list->IsEOF()) {
        deleted |= DeleteActionRow(server, vb::CLng((*list)["ActionID"].Value()), client);
        list->MoveNext();
      }
    }
  });
  return deleted;
}

}  // namespace kvaction
