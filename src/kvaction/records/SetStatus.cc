// Completing and closing an action and adding a note on what was done, on the caller's record
// set when it holds the action (so the caller's view shows the change at once), else on a record
// set of its own. No history is written.
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// A clone of rs on the action's row, sharing rs's rows; nothing when rs does not hold it. rs's
// own current row does not move.
RecordsetPtr RowInCallersSet(ado::Recordset& rs, int32_t nActionID) {
  RecordsetPtr clone = rs.Clone(ado::adLockUnspecified);
  clone->Find("ActionID = " + std::to_string(nActionID), 0, ado::adSearchForward,
              ado::adBookmarkFirst);
  if (clone->IsEOF()) return nullptr;
  return clone;
}

// A day stamped only where none is stored yet.
void StampIfEmpty(ado::Recordset& row, std::string_view column, const vb::Date& today) {
  ado::Field field = row[column];
  if (field.Value().IsNull()) field.Value(today);
}

// The note goes on a line of its own after the notes already there.
void AppendNote(ado::Recordset& row, std::string_view note) {
  ado::Field field = row["Results"];
  std::string notes = vb::TextOf(field.Value());
  if (!notes.empty()) notes += kCrLf;
  notes += note;
  field.Value(notes);
}

}  // namespace

// An nActionID that names no action returns without change.
void Action::setStatus(int32_t nActionID, RecordsetPtr* rs, bool bComplete, bool bClose,
                       std::string_view cResults, int16_t /*nReviewed: accepted, not used*/) {
  if (nActionID == 0) return;
  RecordsetPtr row;
  if (rs != nullptr && *rs) row = RowInCallersSet(**rs, nActionID);
  kvdata::DataConnection::Transaction transaction(*vb::Require(state_->dataServer)->Connection());
  if (!row) row = DataRecord(nActionID);
  if (!row || row->IsEOF()) return;

  const vb::Date today = state_->clock->Today();
  if (bComplete) StampIfEmpty(*row, "DateCompleted", today);
  if (bClose) StampIfEmpty(*row, "DateClosed", today);
  if (!cResults.empty()) AppendNote(*row, cResults);
  row->Update();
  transaction.Commit();
}

}  // namespace kvaction
