// Direct access to the open database: any statement as a record set or as a command, one action
// by ID, the actions of an external reference, and saving the settings store.
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/queries/ListGuards.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "vb/ComError.h"

namespace kvaction {

RecordsetPtr Action::Recordset(std::string_view cSQL, int32_t CursorType, int32_t CursorLocation,
                               int32_t LockType) {
  return vb::Require(state_->dataServer)
      ->Connection()
      ->OpenRecordset(cSQL, CursorType, CursorLocation, LockType);
}

void Action::Execute(std::string_view cSQL) {
  int32_t recordsAffected = 0;
  (void)vb::Require(state_->dataServer)->Connection()->Execute(cSQL, &recordsAffected, 1);
}

RecordsetPtr Action::DataRecord(int32_t nID) {
  // One text for every key, as far as the engine sees it.
  return vb::Require(state_->dataServer)
      ->Connection()
      ->OpenKeyedRecordset("select * from actions where ActionID =", nID);
}

// An explicit reference ID wins over the object's; with neither, every action of the reference.
RecordsetPtr Action::ReferenceRecordset(std::string_view cReference, std::string_view cRefID) {
  std::string statement =
      "select * from actions where reference = " + kvdata::DataUtility::SqlText(cReference);
  const std::string_view refID = cRefID.empty() ? std::string_view(state_->referenceID) : cRefID;
  if (!refID.empty()) statement += " and referenceID=" + kvdata::DataUtility::SqlText(refID);
  return OpenActionsList(*vb::Require(vb::Require(state_->dataServer)->Connection()), statement,
                         ado::adOpenKeyset, ado::adUseServer, ado::adLockOptimistic);
}

void Action::save() { vb::Require(vb::Require(state_->dataServer)->Settings())->Save(); }

}  // namespace kvaction
