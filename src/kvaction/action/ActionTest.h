#pragma once
// Test base for the Action object: a fresh action database on each engine (first user "admin",
// password "secret", SuperUser), and Action objects working on it at the pinned moment.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kvaction/Action.h"
#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/Password.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace kvaction {

class ActionTest : public kvdata::ActionDatabaseTest {
 protected:
  /// A new Action with the pinned clock, not yet opened.
  [[nodiscard]] std::unique_ptr<Action> NewAction() const {
    auto action = std::make_unique<Action>();
    action->SetClock(pinnedClock_);
    return action;
  }
  /// A new Action opened on the test database.
  [[nodiscard]] std::unique_ptr<Action> OpenAction() const {
    auto action = NewAction();
    action->OpenConnection(ConnectionString());
    return action;
  }
  /// A new Action opened on the test database with admin logged in.
  [[nodiscard]] std::unique_ptr<Action> AdminAction() const {
    auto action = OpenAction();
    action->Login("admin", "secret");
    return action;
  }
  /// Adds a user to the directory (cheap password hashes).
  void AddUser(const std::string& userID, const std::string& password,
               int32_t groupID = kvdata::kSuperUserGroup) const {
    kvuser::User directory(kvdata::PasswordCost::Minimum);
    directory.Connect(ConnectionString());
    directory.AddUser(userID, userID + " Name", password, groupID);
  }
  /// The statements the action's connection received, as one would read them in a log.
  [[nodiscard]] static const std::vector<std::string>& Trace(const Action& action) {
    return action.DataServer()->Connection()->Trace();
  }
};

using ::vb::testing::ErrorOf;

}  // namespace kvaction
