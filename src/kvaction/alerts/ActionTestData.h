#pragma once
// Test base for the list, alert and notice operations: an action database on each engine with
// three users (admin, bob, carol), actions stored exactly as a test describes them, and Action
// objects logged in at a pinned moment in either SQL dialect.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kvaction/Action.h"
#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "vb/Variant.h"

namespace kvaction::testing {

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

class ActionTest : public kvdata::ActionDatabaseTest {
 protected:
  void SetUp() override;

  /// A new Action on the test database, logged in as userID, at the moment now (default: the
  /// fixture's pinned moment), with en-US dates. Server: the connection string names the
  /// server provider in lower case, "sqloledb".
  [[nodiscard]] std::unique_ptr<Action> LoggedIn(std::string_view userID,
                                                 Dialect dialect = Dialect::Desktop,
                                                 const vb::Date* now = nullptr) const;
  /// Stores an action (names of the people from the directory); returns its ActionID.
  int32_t Store(const ActionRow& row) const;
  /// Saves a query owned by admin with criteria given as column name and value; returns its ID.
  int32_t SaveQuery(const std::vector<std::pair<std::string, vb::Variant>>& criteria) const;

  /// The ActionNumbers of rs from its current row on, in their order.
  [[nodiscard]] static std::vector<int32_t> Numbers(ado::Recordset& rs);
  /// The last statement action's connection received (before translation).
  [[nodiscard]] static std::string LastStatement(const Action& action);

  std::shared_ptr<kvdata::DataConnection> connection_;
};

/// A date at midnight.
[[nodiscard]] vb::Variant Day(int year, int month, int day);

}  // namespace kvaction::testing
