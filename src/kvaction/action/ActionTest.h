#pragma once
// Test base for the Action object: a fresh action database on each engine (first user "admin",
// password "secret", SuperUser), Action objects working on it at the pinned moment, actions
// stored exactly as a test describes them, and the stored rows and history read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvaction/Action.h"
#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Date.h"
#include "vb/Variant.h"
#include "vb/testing/ErrorOf.h"

namespace kvaction {

using ::vb::testing::ErrorOf;
/// Column names and values, in order.
using Columns = std::vector<std::pair<std::string, vb::Variant>>;

/// One history event as stored: code and text.
struct StoredEvent {
  int32_t code;
  std::string text;
  friend bool operator==(const StoredEvent&, const StoredEvent&) = default;
  friend std::ostream& operator<<(std::ostream& out, const StoredEvent& e) {
    return out << e.code << " \"" << e.text << "\"";
  }
};

/// An action as stored; empty texts and Empty dates stay Null.
struct ActionRow {
  int32_t number = 0;
  std::string subject{};
  std::string assigneeID{};
  std::string originatorID{};
  vb::Variant dateOpened{};
  vb::Variant dateDue{};
  vb::Variant dateCompleted{};
  vb::Variant dateClosed{};
  vb::Variant dateRejected{};
  vb::Variant reviewed = int16_t{0};
  bool alert = false;
  std::string category{};
  std::string priority{};
  std::string reference{};
  std::string referenceID{};
  std::string description{};
  std::string result{};
};

/// The dialect an Action's connection string selects.
enum class Dialect { Desktop, Server };

/// A date at midnight.
[[nodiscard]] vb::Variant Day(int year, int month, int day);

class ActionTest : public kvdata::ActionDatabaseTest {
 protected:
  /// A new Action with the pinned clock, not yet opened.
  [[nodiscard]] std::unique_ptr<Action> NewAction() const;
  /// A new Action opened on the test database.
  [[nodiscard]] std::unique_ptr<Action> OpenAction() const;
  /// A new Action opened on the test database with admin logged in.
  [[nodiscard]] std::unique_ptr<Action> AdminAction() const { return LoggedIn("admin"); }
  /// A new Action logged in as userID (password "secret" for admin, else "pw"), at the moment
  /// now (default: the pinned moment). Server: the connection string names the server provider
  /// in lower case, "sqloledb".
  [[nodiscard]] std::unique_ptr<Action> LoggedIn(std::string_view userID,
                                                 Dialect dialect = Dialect::Desktop,
                                                 const vb::Date* now = nullptr) const;
  /// Adds a user to the directory (cheap password hashes); the name defaults to "<ID> Name".
  void AddUser(const std::string& userID, const std::string& password,
               int32_t groupID = kvdata::kSuperUserGroup, std::string userName = {},
               const std::string& email = {}) const;

  /// Stores an action (names of the people from the directory); returns its ActionID.
  int32_t Store(const ActionRow& row) const;
  /// Saves a query owned by admin with criteria given as column name and value; returns its ID.
  int32_t SaveQuery(const Columns& criteria) const;

  /// A record set in memory with the given columns and one row of their values.
  [[nodiscard]] static RecordsetPtr Values(const Columns& columns);
  /// Adds one more row to a record set made by Values.
  static void AddRow(ado::Recordset& rs, const Columns& columns);
  /// The ActionNumbers of rs from its current row on, in their order.
  [[nodiscard]] static std::vector<int32_t> Numbers(ado::Recordset& rs);
  /// The texts of the statements the action's connection received, before translation.
  [[nodiscard]] static std::vector<std::string> Trace(const Action& action);
  [[nodiscard]] static std::string LastStatement(const Action& action);
  /// The fixture's today and a day relative to it.
  [[nodiscard]] static vb::Date Today(int32_t offset = 0);

  // Through action_:
  /// Creates an action with a subject; returns its ID.
  int32_t Create(const std::string& subject) const;
  /// A column of a stored action (Empty when there is no such action).
  [[nodiscard]] vb::Variant Stored(int32_t actionID, std::string_view column) const;
  /// The first value a statement reads, as a number.
  [[nodiscard]] int32_t Count(const std::string& sql) const;
  /// The history of an action, oldest first.
  [[nodiscard]] std::vector<StoredEvent> Events(int32_t actionID) const;

  std::unique_ptr<Action> action_;
};

/// ActionTest with admin logged in as action_.
class AdminTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (!HasFatalFailure()) action_ = AdminAction();
  }
};

/// ActionTest with three people with e-mail addresses: admin "Ada Admin", and bob "Bob
/// Builder" and carol "Carol O'Brien" of the workgroup Staff.
class PeopleTest : public ActionTest {
 protected:
  void SetUp() override;
};

}  // namespace kvaction
