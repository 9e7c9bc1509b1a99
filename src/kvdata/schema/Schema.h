#pragma once
// Creating an empty action database, schema version 1.003, on either engine.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "kvdata/Password.h"

namespace kvdata {
class DataConnection;
}

namespace kvdata::schema {

/// The schema version this release creates and requires (settings key "Version").
inline constexpr std::string_view kVersion = "1.003";

/// The tables that mark a database as an action database, in the order they are checked.
inline constexpr std::array<std::string_view, 8> kActionTables = {
    "ActionConfig",  "ActionGroups",   "ActionQueries",     "ActionKeywords",
    "ActionReports", "ActionProfiles", "ActionAttachments", "ActionEvents"};

/// The first user of a new database: a member of the SuperUser workgroup.
struct FirstUser {
  std::string userID;
  std::string userName;
  std::string password;
  PasswordCost cost = PasswordCost::Interactive;
};

/// Creates, in one transaction, the table actions, the eight action tables, the table Users,
/// the SuperUser workgroup (-1, every right), the default display labels, the version, the
/// first user and the text search index (on PostgreSQL where pg_trgm can be had). Raises
/// kDatabaseExists (naming the table found) when the database already holds any of these
/// tables, kBadArgument when the first user has no ID; nothing is changed then, nor when a
/// statement fails.
void CreateActionDatabase(DataConnection& connection, const FirstUser& user);

/// Whether name (any letter case) is a column of the table actions.
[[nodiscard]] bool IsActionsColumn(std::string_view name);
/// The columns of the table actions, in table order.
[[nodiscard]] std::vector<std::string> ActionsColumns();

/// Whether the database holds the index of the actions' text the list's text filter reads: on
/// SQLite the trigram table ActionSearch (kept by triggers on actions), on PostgreSQL the GIN
/// trigram index ix_actions_text (which needs the extension pg_trgm).
[[nodiscard]] bool HasSearchIndex(DataConnection& connection);

/// Adds, in one transaction, what a database created by an earlier release lacks: the table
/// ActionSessions and the column ActionQueries.Shared, on PostgreSQL the indexes of open
/// actions by assignee and by originator, on SQLite those holding the alert count's columns,
/// and the text search index filled from the rows there are (on PostgreSQL only where the role
/// may create the extension pg_trgm: otherwise the sentence says it was not added and nothing
/// fails). On SQLite it also refreshes the planner's statistics (ANALYZE), which is not reported as
/// a change. Returns one sentence per change; nothing when the database is up to date.
std::vector<std::string> UpgradeActionDatabase(DataConnection& connection);

}  // namespace kvdata::schema
