// Renaming and deleting users: keeps the copies the action database holds of a user (the names in
// the actions, the saved queries, the per-user profile rows) in step with the user directory.
#include <array>
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/QueryStore.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

// Runs a text command, as the record services do (records-affected count starting at 0).
void RunText(const DataServerPtr& server, const std::string& sql) {
  int32_t recordsAffected = 0;
  (void)vb::Require(vb::Require(server)->Connection())->Execute(sql, &recordsAffected, 1);
}

}  // namespace

void Action::ChangeUserName(std::string_view cUserID, std::string_view cNewName) {
  vb::Require(state_->user)->RenameUser(cUserID, cNewName);
  // The actions only carry copies of the name: a copy that cannot be rewritten does not undo
  // the rename, and the other copy is still rewritten.
  using kvdata::DataUtility;
  const std::string name = DataUtility::SqlText(cNewName);
  const std::string id = DataUtility::SqlText(cUserID);
  const std::array statements = {
      "Update actions set originator = " + name + " where originatorID = " + id,
      "Update actions set assignee = " + name + " where assigneeID = " + id};
  vb::ErrorTrap trap;
  for (const std::string& sql : statements) {
    trap.Run([&] { RunText(state_->dataServer, sql); });
  }
}

void Action::DeleteUser(std::string_view cUserID, RecordsetPtr* rsUsers) {
  vb::Require(vb::Require(state_->dataServer)->Queries())->RemoveUserQueries(cUserID);
  // The ID goes in as a complete literal, so an apostrophe in it can neither break the
  // statement nor widen it to other users' rows.
  RunText(state_->dataServer,
          "delete from ActionProfiles where userID = " + kvdata::DataUtility::SqlText(cUserID));
  vb::Require(state_->user)->RemoveUser(cUserID, rsUsers);
}

void Action::DeleteUserData(std::string_view cUserID) { DeleteUser(cUserID); }

}  // namespace kvaction
