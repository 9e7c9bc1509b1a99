#include "kvdata/schema/Schema.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/RightSet.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/StoredValue.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/engine/EngineError.h"
#include "vb/Convert.h"
#include "vb/NeverDestroyed.h"

namespace kvdata::schema {
namespace {

using engine::ColumnKind;

struct ColumnDef {
  std::string_view name;
  ColumnKind kind;
  int32_t size = 0;
  std::string_view constraint = {};  // e.g. "NOT NULL"
};

struct TableDef {
  std::string_view name;
  std::vector<ColumnDef> columns;
};

struct IndexDef {
  std::string_view name;
  std::string_view table;
  std::vector<std::string_view> columns;
  bool unique = false;
  std::string_view where = {};  // a partial index: the rows it holds
  // Set for the indexes one engine only gets.
  std::optional<sql::Target> only = {};
  // Set for the indexes an older database may lack: the upgrade adds them and names them with
  // their purpose.
  std::string_view purpose = {};
};

constexpr std::string_view kNotNull = "NOT NULL";
constexpr int32_t kIdSize = 50;
constexpr int32_t kNameSize = 100;

const std::vector<TableDef>& Tables() {
  static const vb::NeverDestroyed<std::vector<TableDef>> tables(std::vector<TableDef>{
      {"actions",
       {{"ActionID", ColumnKind::AutoKey},
        {"ActionNumber", ColumnKind::Integer, 0, kNotNull},
        {"Subject", ColumnKind::Text, 255},
        {"Originator", ColumnKind::Text, kNameSize},
        {"OriginatorID", ColumnKind::Text, kIdSize},
        {"Assignee", ColumnKind::Text, kNameSize},
        {"AssigneeID", ColumnKind::Text, kIdSize},
        {"DateOpened", ColumnKind::Date},
        {"DateDue", ColumnKind::Date},
        {"DateCompleted", ColumnKind::Date},
        {"DateClosed", ColumnKind::Date},
        {"DateRejected", ColumnKind::Date},
        {"Reviewed", ColumnKind::SmallInt},
        {"Alert", ColumnKind::Boolean},
        {"Flags", ColumnKind::Integer},
        {"ActionType", ColumnKind::SmallInt},
        {"Category", ColumnKind::Text, kIdSize},
        {"Priority", ColumnKind::Text, kIdSize},
        {"Reference", ColumnKind::Text, 255},
        {"ReferenceID", ColumnKind::Text, kIdSize},
        {"Description", ColumnKind::LongText},
        {"Result", ColumnKind::LongText},
        // Result notes appended when an action's status is set; kept apart from Result.
        {"Results", ColumnKind::LongText}}},
      {"ActionConfig",
       {{"ConfigID", ColumnKind::AutoKey},
        {"ConfigKey", ColumnKind::Text, kNameSize, kNotNull},
        {"ValueType", ColumnKind::SmallInt, 0, kNotNull},
        {"ValueText", ColumnKind::LongText}}},
      {"ActionGroups",
       {{"GroupID", ColumnKind::AutoKey},
        {"GroupName", ColumnKind::Text, kNameSize, kNotNull},
        {"RightList", ColumnKind::LongText}}},
      {"ActionQueries",
       {{"QueryID", ColumnKind::AutoKey},
        {"UserID", ColumnKind::Text, kIdSize},
        {"Name", ColumnKind::Text, kNameSize},
        {"AssignedTo", ColumnKind::SmallInt},
        {"ApplyStatus", ColumnKind::Boolean},
        {"Status", ColumnKind::SmallInt},
        {"DueDays", ColumnKind::SmallInt},
        {"Assignee", ColumnKind::Text, kNameSize},
        {"Originator", ColumnKind::Text, kNameSize},
        {"Category", ColumnKind::Text, kIdSize},
        {"Priority", ColumnKind::Text, kIdSize},
        {"Subject", ColumnKind::Text, 255},
        {"Description", ColumnKind::Text, 255},
        {"Result", ColumnKind::Text, 255},
        {"DateOpened", ColumnKind::Date},
        {"DateOpenedUpper", ColumnKind::Date},
        {"DateDue", ColumnKind::Date},
        {"DateDueUpper", ColumnKind::Date},
        {"DateCompleted", ColumnKind::Date},
        {"DateCompletedUpper", ColumnKind::Date},
        {"DateClosed", ColumnKind::Date},
        {"DateClosedUpper", ColumnKind::Date},
        // Whether users other than the owner may use the query.
        {"Shared", ColumnKind::Boolean}}},
      {"ActionKeywords",
       {{"KeywordID", ColumnKind::AutoKey},
        {"FieldName", ColumnKind::Text, kIdSize, kNotNull},
        {"Keyword", ColumnKind::Text, kNameSize, kNotNull}}},
      {"ActionReports",
       {{"ReportID", ColumnKind::AutoKey},
        {"Name", ColumnKind::Text, kNameSize, kNotNull},
        {"UserID", ColumnKind::Text, kIdSize},
        {"Definition", ColumnKind::LongText}}},
      {"ActionProfiles",
       {{"ProfileID", ColumnKind::AutoKey},
        {"UserID", ColumnKind::Text, kIdSize, kNotNull},
        {"ProfileKey", ColumnKind::Text, kNameSize, kNotNull},
        {"ValueType", ColumnKind::SmallInt, 0, kNotNull},
        {"ValueText", ColumnKind::LongText}}},
      {"ActionAttachments",
       {{"AttachmentID", ColumnKind::AutoKey},
        {"ActionID", ColumnKind::Integer, 0, kNotNull},
        {"Description", ColumnKind::Text, 255},
        {"URL", ColumnKind::Text, 2000},
        {"AttachmentType", ColumnKind::SmallInt},
        {"EncodeType", ColumnKind::Text, 20},
        {"StoredName", ColumnKind::Text, kNameSize},
        {"Created", ColumnKind::Date}}},
      {"ActionEvents",
       {{"EventID", ColumnKind::AutoKey},
        {"EventCode", ColumnKind::Integer, 0, kNotNull},
        {"ActionID", ColumnKind::Integer},
        {"EventText", ColumnKind::LongText},
        {"UserID", ColumnKind::Text, kIdSize},
        {"EventTime", ColumnKind::Date, 0, kNotNull}}},
      // Signed-in sessions: the hash of each token, never the token itself.
      {"ActionSessions",
       {{"TokenHash", ColumnKind::Text, 64, "NOT NULL PRIMARY KEY"},
        {"UserID", ColumnKind::Text, kIdSize, kNotNull},
        {"Created", ColumnKind::Date, 0, kNotNull},
        {"Expires", ColumnKind::Date, 0, kNotNull}}},
      // Mail waiting for delivery, written in the transaction of the change it reports, and
      // what became of each delivery attempt.
      {"ActionOutbox",
       {{"MailID", ColumnKind::AutoKey},
        {"MessageID", ColumnKind::Text, 255, kNotNull},
        {"ActionID", ColumnKind::Integer},
        {"CreatedBy", ColumnKind::Text, kIdSize},
        {"FromName", ColumnKind::Text, kNameSize},
        {"FromAddress", ColumnKind::Text, 255},
        {"Recipients", ColumnKind::LongText, 0, kNotNull},
        {"Subject", ColumnKind::LongText},
        {"Body", ColumnKind::LongText},
        {"Created", ColumnKind::Date, 0, kNotNull},
        {"Attempts", ColumnKind::Integer, 0, kNotNull},
        {"NextAttempt", ColumnKind::Date, 0, kNotNull},
        {"Sent", ColumnKind::Date},
        {"GaveUp", ColumnKind::Date},
        {"LastError", ColumnKind::LongText},
        // The HTML alternative of Body (null: plain text only).
        {"HtmlBody", ColumnKind::LongText},
        // Where replies go: the reply address with the recipient's token (null: the sender).
        {"ReplyTo", ColumnKind::Text, 255}}},
      // The reminders sent: one row per user and day.
      {"ActionReminders",
       {{"ReminderID", ColumnKind::AutoKey},
        {"UserID", ColumnKind::Text, kIdSize, kNotNull},
        {"Day", ColumnKind::Date, 0, kNotNull},
        {"MailID", ColumnKind::Integer},
        {"Lines", ColumnKind::Integer}}},
      // Who follows an action (ActionID set) or every action of a workgroup's members as its
      // lead (GroupID set): their notices of change go to them as to the parties.
      {"ActionWatchers",
       {{"WatchID", ColumnKind::AutoKey},
        {"ActionID", ColumnKind::Integer},
        {"GroupID", ColumnKind::Integer},
        {"UserID", ColumnKind::Text, kIdSize, kNotNull},
        {"Created", ColumnKind::Date, 0, kNotNull}}},
      // Webhooks: the URLs other programs registered for events of actions, with the secret
      // each delivery is signed with and the comma-separated events it takes.
      {"ActionHooks",
       {{"HookID", ColumnKind::AutoKey},
        {"URL", ColumnKind::Text, 2000, kNotNull},
        {"Secret", ColumnKind::Text, 255, kNotNull},
        {"Events", ColumnKind::Text, 255, kNotNull},
        {"Active", ColumnKind::Boolean},
        {"CreatedBy", ColumnKind::Text, kIdSize},
        {"Created", ColumnKind::Date, 0, kNotNull}}},
      // One row per event and hook, written in the transaction of the change it reports, and
      // what the receiver answered to the last attempt.
      {"ActionHookDeliveries",
       {{"DeliveryID", ColumnKind::AutoKey},
        {"DeliveryKey", ColumnKind::Text, 64, kNotNull},
        {"HookID", ColumnKind::Integer, 0, kNotNull},
        {"Event", ColumnKind::Text, 20, kNotNull},
        {"ActionID", ColumnKind::Integer},
        {"CreatedBy", ColumnKind::Text, kIdSize},
        {"Payload", ColumnKind::LongText, 0, kNotNull},
        {"Created", ColumnKind::Date, 0, kNotNull},
        {"Attempts", ColumnKind::Integer, 0, kNotNull},
        {"NextAttempt", ColumnKind::Date, 0, kNotNull},
        {"Delivered", ColumnKind::Date},
        {"GaveUp", ColumnKind::Date},
        {"Status", ColumnKind::Integer},
        {"Answer", ColumnKind::LongText},
        {"LastError", ColumnKind::LongText}}},
      // The criteria of a saved query that ActionQueries has no column for: text in any column
      // a person reads, and the reference. One row per query that has either.
      {"ActionQueryFilters",
       {{"FilterID", ColumnKind::AutoKey},
        {"QueryID", ColumnKind::Integer, 0, kNotNull},
        {"Grep", ColumnKind::Text, 255},
        {"Reference", ColumnKind::Text, kIdSize}}},
      {"Users",
       {{"UserID", ColumnKind::Text, kIdSize, "NOT NULL PRIMARY KEY"},
        {"UserName", ColumnKind::Text, kNameSize},
        {"Email", ColumnKind::Text, 255},
        {"PasswordHash", ColumnKind::Text, 255},
        {"GroupID", ColumnKind::Integer},
        {"Created", ColumnKind::Date}}},
  });
  return tables.Get();
}

// The open actions only, by assignee and by originator, in number order: the default list reads
// its first page of each in order and stops (its cost does not grow with the table or with the
// person's open actions), and the alert count and the list's total read the person's open
// actions and nothing else. SQLite also matches "DateClosed IS NULL" in the assignee and
// originator indexes as it would an equality.
constexpr std::string_view kOpen = "\"DateClosed\" IS NULL";

// Indexes an older release made that a wider one here now serves; the upgrade drops them.
constexpr std::array<std::string_view, 2> kSuperseded = {"ix_actions_open_assignee",
                                                         "ix_actions_open_originator"};

// Every column the alert count reads, after the person, on SQLite: the count finds and tests
// each of the person's open actions in the index alone instead of reading its row from the
// table. SQLite chooses them only with the statistics the upgrade gathers.
const std::vector<std::string_view> kAlertColumns = {"DateClosed", "DateDue", "Alert", "Reviewed",
                                                     "ActionNumber"};

std::vector<std::string_view> AlertIndexColumns(std::string_view person) {
  std::vector<std::string_view> columns = {person};
  columns.insert(columns.end(), kAlertColumns.begin(), kAlertColumns.end());
  return columns;
}

// The alert count and the lists read open actions by assignee or originator, overdue actions
// by due date, and an external record's actions by reference.
const std::vector<IndexDef>& Indexes() {
  static const vb::NeverDestroyed<std::vector<IndexDef>> indexes(std::vector<IndexDef>{
      {"ix_actions_number", "actions", {"ActionNumber"}, true},
      {"ix_actions_assignee", "actions", {"AssigneeID", "DateClosed"}},
      {"ix_actions_originator", "actions", {"OriginatorID", "DateClosed"}},
      {"ix_actions_due", "actions", {"DateClosed", "DateDue"}},
      {"ix_actions_reference", "actions", {"Reference", "ReferenceID"}},
      {"ix_actions_open_assignee_number",
       "actions",
       {"AssigneeID", "ActionNumber"},
       false,
       kOpen,
       {},
       "open actions by AssigneeID in number order"},
      {"ix_actions_open_originator_number",
       "actions",
       {"OriginatorID", "ActionNumber"},
       false,
       kOpen,
       {},
       "open actions by OriginatorID in number order"},
      {"ix_actions_alert_assignee",
       "actions",
       AlertIndexColumns("AssigneeID"),
       false,
       {},
       sql::Target::SQLite,
       "the alert count's columns by AssigneeID"},
      {"ix_actions_alert_originator",
       "actions",
       AlertIndexColumns("OriginatorID"),
       false,
       {},
       sql::Target::SQLite,
       "the alert count's columns by OriginatorID"},
      {"ix_config_key", "ActionConfig", {"ConfigKey"}, true},
      {"ix_queries_user", "ActionQueries", {"UserID"}},
      {"ix_keywords_field", "ActionKeywords", {"FieldName", "Keyword"}},
      {"ix_profiles_user", "ActionProfiles", {"UserID", "ProfileKey"}, true},
      {"ix_attachments_action", "ActionAttachments", {"ActionID"}},
      {"ix_events_action", "ActionEvents", {"ActionID", "EventID"}},
      {"ix_sessions_user", "ActionSessions", {"UserID"}},
      {"ix_outbox_due", "ActionOutbox", {"Sent", "GaveUp", "NextAttempt"}},
      {"ix_reminders_day", "ActionReminders", {"UserID", "Day"}, true},
      {"ix_watchers_action", "ActionWatchers", {"ActionID", "UserID"}},
      {"ix_watchers_group", "ActionWatchers", {"GroupID", "UserID"}},
      {"ix_hook_deliveries_due", "ActionHookDeliveries", {"Delivered", "GaveUp", "NextAttempt"}},
      {"ix_query_filters_query", "ActionQueryFilters", {"QueryID"}, true},
  });
  return indexes.Get();
}

// The columns the list's text filter looks in, in the order of the text index.
constexpr std::array<std::string_view, 12> kSearchColumns = {
    "Subject",   "Description", "Result",   "Results",    "Category",   "Priority",
    "Reference", "ReferenceID", "Assignee", "AssigneeID", "Originator", "OriginatorID"};

constexpr std::string_view kSearchTable = "ActionSearch";     // SQLite's trigram table
constexpr std::string_view kSearchIndex = "ix_actions_text";  // PostgreSQL's trigram index

// The columns, each quoted, with prefix before each (new., old.).
std::string SearchColumnList(std::string_view prefix = {}) {
  std::vector<std::string> names;
  for (const auto column : kSearchColumns) {
    names.push_back(std::string(prefix) + engine::QuoteName(column));
  }
  return fmt::format("{}", fmt::join(names, ", "));
}

// SQLite: a trigram table over the actions' text, its content read from the actions table
// itself, and triggers that keep it in step with every insert, change and delete, whoever
// writes: the library, the command, the pages or any other client of the file.
std::vector<std::string> SqliteSearchStatements() {
  const std::string table = engine::QuoteName(kSearchTable);
  const std::string actions = engine::QuoteName("actions");
  const std::string columns = SearchColumnList();
  const std::string add = fmt::format("INSERT INTO {} (rowid, {}) VALUES (new.\"ActionID\", {});",
                                      table, columns, SearchColumnList("new."));
  const std::string remove =
      fmt::format("INSERT INTO {0} ({0}, rowid, {1}) VALUES ('delete', old.\"ActionID\", {2});",
                  table, columns, SearchColumnList("old."));
  return {
      fmt::format(
          "CREATE VIRTUAL TABLE IF NOT EXISTS {} USING fts5({}, content={}, content_rowid={}, "
          "tokenize='trigram')",
          table, columns, engine::QuoteName("actions"), engine::QuoteName("ActionID")),
      fmt::format("CREATE TRIGGER IF NOT EXISTS {} AFTER INSERT ON {} BEGIN {} END",
                  engine::QuoteName("ActionSearch_insert"), actions, add),
      fmt::format("CREATE TRIGGER IF NOT EXISTS {} AFTER DELETE ON {} BEGIN {} END",
                  engine::QuoteName("ActionSearch_delete"), actions, remove),
      // Only a change to a searched column touches the index.
      fmt::format("CREATE TRIGGER IF NOT EXISTS {} AFTER UPDATE OF {} ON {} BEGIN {} {} END",
                  engine::QuoteName("ActionSearch_update"), columns, actions, remove, add),
  };
}

// PostgreSQL: whether trigram operators are there for this database, made when they are not and
// the role may make them. A role that may not leaves the database as it was: a failed attempt
// is undone to its savepoint, so the rest of the transaction goes on.
bool TrigramsAvailable(engine::Engine& engine) {
  if (!engine.Execute("SELECT 1 FROM pg_extension WHERE extname = 'pg_trgm'").rows.empty()) {
    return true;
  }
  engine.Execute("SAVEPOINT kv_trigrams");
  try {
    engine.Execute("CREATE EXTENSION IF NOT EXISTS pg_trgm");
    engine.Execute("RELEASE SAVEPOINT kv_trigrams");
    return true;
  } catch (const engine::EngineError&) {
    engine.Execute("ROLLBACK TO SAVEPOINT kv_trigrams");
    engine.Execute("RELEASE SAVEPOINT kv_trigrams");
    return false;
  }
}

// PostgreSQL: one GIN index of the trigrams of every searched column; the planner reads it for
// each column's "CAST(column AS text) ILIKE '%text%'" and joins the matches (a bitmap "or"). The
// columns are case-insensitive text (citext), whose own ILIKE no trigram index serves: the index
// and the search both read them as plain text, which ILIKE compares without regard to case.
std::string PgSearchIndex() {
  std::vector<std::string> columns;
  for (const auto column : kSearchColumns) {
    columns.push_back(fmt::format("(CAST({} AS text)) gin_trgm_ops", engine::QuoteName(column)));
  }
  return fmt::format("CREATE INDEX {} ON {} USING gin ({})", engine::QuoteName(kSearchIndex),
                     engine::QuoteName("actions"), fmt::join(columns, ", "));
}

// Labels of the field names whose display form is not the name itself.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kDefaultLabels = {{
    {"ActionNumber", "Action Number"},
    {"DateOpened", "Date Opened"},
    {"DateDue", "Due Date"},
    {"DateCompleted", "Date Completed"},
    {"DateClosed", "Date Closed"},
    {"DateRejected", "Date Rejected"},
    {"ActionType", "Action Type"},
    {"ReferenceID", "Reference ID"},
}};

std::string CreateTable(engine::Engine& engine, const TableDef& table) {
  std::vector<std::string> columns;
  for (const auto& column : table.columns) {
    auto text = engine::QuoteName(column.name) + " " + engine.ColumnType(column.kind, column.size);
    if (!column.constraint.empty()) text += fmt::format(" {}", column.constraint);
    columns.push_back(std::move(text));
  }
  return fmt::format("CREATE TABLE {} ({})", engine::QuoteName(table.name),
                     fmt::join(columns, ", "));
}

std::string CreateIndex(const IndexDef& index) {
  std::vector<std::string> columns;
  for (const auto column : index.columns) columns.push_back(engine::QuoteName(column));
  std::string text = fmt::format("CREATE {}INDEX {} ON {} ({})", index.unique ? "UNIQUE " : "",
                                 engine::QuoteName(index.name), engine::QuoteName(index.table),
                                 fmt::join(columns, ", "));
  if (!index.where.empty()) text += fmt::format(" WHERE {}", index.where);
  return text;
}

// Whether the engine gets the index.
bool Wanted(const engine::Engine& engine, const IndexDef& index) {
  return !index.only || *index.only == engine.Target();
}

// Whether the database holds an index of that name.
bool IndexExists(engine::Engine& engine, std::string_view name) {
  const std::string_view probe =
      engine.Target() == sql::Target::SQLite
          ? "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?"
          : "SELECT 1 FROM pg_indexes WHERE schemaname = current_schema() AND indexname = ?";
  const std::vector<vb::Variant> values = {vb::Variant(name)};
  return !engine.Execute(probe, values).rows.empty();
}

bool HasSearchIndex(engine::Engine& engine) {
  return engine.Target() == sql::Target::SQLite ? engine.TableExists(kSearchTable)
                                                : IndexExists(engine, kSearchIndex);
}

// Creates the text index where the engine allows it, filled from the rows there are. Returns
// false when PostgreSQL offers no trigram operators to this role: the text filter then scans.
bool CreateSearchIndex(engine::Engine& engine) {
  if (engine.Target() == sql::Target::SQLite) {
    for (const auto& statement : SqliteSearchStatements()) engine.Execute(statement);
    const std::string table = engine::QuoteName(kSearchTable);
    engine.Execute(fmt::format("INSERT INTO {0} ({0}) VALUES ('rebuild')", table));
    return true;
  }
  if (!TrigramsAvailable(engine)) return false;
  engine.Execute(PgSearchIndex());
  return true;
}

void Insert(engine::Engine& engine, std::string_view table,
            std::initializer_list<std::string_view> columns, std::vector<vb::Variant> values) {
  std::vector<std::string> names;
  for (const auto column : columns) names.push_back(engine::QuoteName(column));
  std::vector<std::string_view> marks(names.size(), "?");
  engine.Execute(fmt::format("INSERT INTO {} ({}) VALUES ({})", engine::QuoteName(table),
                             fmt::join(names, ", "), fmt::join(marks, ", ")),
                 values);
}

void InsertSetting(engine::Engine& engine, std::string_view key, const vb::Variant& value) {
  const auto stored = ToStored(value);
  Insert(engine, "ActionConfig", {"ConfigKey", "ValueType", "ValueText"},
         {key, stored.type, stored.text ? vb::Variant(*stored.text) : vb::Variant(vb::Null)});
}

void RefuseExisting(engine::Engine& engine, const std::string& database) {
  for (const auto& table : Tables()) {
    if (engine.TableExists(table.name)) {
      throw vb::ComError(
          kDatabaseExists, std::string(kServerSource),
          fmt::format("The database {} already holds the table \"{}\": an action database is "
                      "created only in an empty database.",
                      database, table.name));
    }
  }
}

// The tables and columns an older database may lack, with the index of each table.
const TableDef& TableNamed(std::string_view name) {
  for (const auto& table : Tables()) {
    if (table.name == name) return table;
  }
  throw std::logic_error("unknown table");
}

bool HasColumn(const std::vector<engine::CatalogTable>& catalog, std::string_view table,
               std::string_view column) {
  for (const auto& entry : catalog) {
    if (vb::CompareText(entry.name, table) != 0) continue;
    for (const auto& known : entry.columns) {
      if (vb::CompareText(known.name, column) == 0) return true;
    }
  }
  return false;
}

// SQLite keeps no statistics of its own: without them it takes every index on the actions'
// person columns for as unselective as the due date's and reads the alert count through the
// due dates of all open actions. ANALYZE counts them, in a few seconds at a million actions.
void RefreshStatistics(engine::Engine& engine) {
  if (engine.Target() == sql::Target::SQLite) engine.Execute("ANALYZE");
}

}  // namespace

std::vector<std::string> UpgradeActionDatabase(DataConnection& connection) {
  auto& engine = connection.Engine();
  std::vector<std::string> changes;
  DataConnection::Transaction transaction(connection);
  constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kNewTables = {{
      {"ActionSessions", "signed-in sessions"},
      {"ActionOutbox", "mail waiting for delivery"},
      {"ActionReminders", "reminders sent"},
      {"ActionWatchers", "who watches which actions"},
      {"ActionHooks", "webhooks"},
      {"ActionHookDeliveries", "webhook deliveries"},
      {"ActionQueryFilters", "saved queries' text and reference filters"},
  }};
  for (const auto& [name, purpose] : kNewTables) {
    if (engine.TableExists(name)) continue;
    engine.Execute(CreateTable(engine, TableNamed(name)));
    for (const auto& index : Indexes()) {
      if (index.table == name) engine.Execute(CreateIndex(index));
    }
    changes.push_back(fmt::format("Added the table {} ({}).", name, purpose));
  }
  if (!HasColumn(engine.ReadCatalog(), "ActionOutbox", "HtmlBody")) {
    engine.Execute(fmt::format("ALTER TABLE {} ADD COLUMN {} {}", engine::QuoteName("ActionOutbox"),
                               engine::QuoteName("HtmlBody"),
                               engine.ColumnType(ColumnKind::LongText)));
    changes.emplace_back("Added the column ActionOutbox.HtmlBody (mail with an HTML part).");
  }
  if (!HasColumn(engine.ReadCatalog(), "ActionOutbox", "ReplyTo")) {
    engine.Execute(fmt::format("ALTER TABLE {} ADD COLUMN {} {}", engine::QuoteName("ActionOutbox"),
                               engine::QuoteName("ReplyTo"),
                               engine.ColumnType(ColumnKind::Text, 255)));
    changes.emplace_back("Added the column ActionOutbox.ReplyTo (replies to notices by mail).");
  }
  if (!HasColumn(engine.ReadCatalog(), "ActionQueries", "Shared")) {
    engine.Execute(fmt::format("ALTER TABLE {} ADD COLUMN {} {}",
                               engine::QuoteName("ActionQueries"), engine::QuoteName("Shared"),
                               engine.ColumnType(ColumnKind::Boolean)));
    changes.emplace_back("Added the column ActionQueries.Shared (queries shared with everyone).");
  }
  for (const auto& index : Indexes()) {
    if (index.purpose.empty() || !Wanted(engine, index) || IndexExists(engine, index.name)) {
      continue;
    }
    engine.Execute(CreateIndex(index));
    changes.push_back(fmt::format("Added the index {} ({}).", index.name, index.purpose));
  }
  if (!HasSearchIndex(engine)) {
    changes.push_back(
        CreateSearchIndex(engine)
            ? std::string("Added the text search index (the list's text filter reads it).")
            : std::string("The text search index was not added: this role may not create the "
                          "extension pg_trgm; the list's text filter reads the whole table until "
                          "an administrator runs CREATE EXTENSION pg_trgm and upgrade again."));
  }
  for (const auto name : kSuperseded) {
    if (!IndexExists(engine, name)) continue;
    engine.Execute("DROP INDEX " + engine::QuoteName(name));
    changes.push_back(fmt::format("Dropped the index {} (a wider one serves its reads).", name));
  }
  RefreshStatistics(engine);
  transaction.Commit();
  return changes;
}

void CreateActionDatabase(DataConnection& connection, const FirstUser& user) {
  if (user.userID.empty()) {
    throw vb::ComError(kBadArgument, std::string(kServerSource),
                       "A new action database needs the ID of its first user.");
  }
  auto& engine = connection.Engine();
  RefuseExisting(engine, connection.DatabaseName());
  const auto hash = HashPassword(user.password, user.cost);
  DataConnection::Transaction transaction(connection);
  for (const auto& table : Tables()) engine.Execute(CreateTable(engine, table));
  for (const auto& index : Indexes()) {
    if (Wanted(engine, index)) engine.Execute(CreateIndex(index));
  }
  // Without trigram operators the text filter scans, as documented; the database is whole.
  (void)CreateSearchIndex(engine);
  Insert(engine, "ActionGroups", {"GroupID", "GroupName", "RightList"},
         {kSuperUserGroup, "SuperUser", RightSet::Every().ToString()});
  for (const auto& [name, label] : kDefaultLabels) InsertSetting(engine, LabelKey(name), label);
  InsertSetting(engine, "Version", kVersion);
  Insert(engine, "Users", {"UserID", "UserName", "PasswordHash", "GroupID", "Created"},
         {user.userID, user.userName, hash, kSuperUserGroup, connection.Clock().Now()});
  transaction.Commit();
}

bool HasSearchIndex(DataConnection& connection) { return HasSearchIndex(connection.Engine()); }

std::vector<std::string> ActionsColumns() {
  std::vector<std::string> names;
  for (const ColumnDef& column : Tables().front().columns) names.emplace_back(column.name);
  return names;
}

bool IsActionsColumn(std::string_view name) {
  const TableDef& actions = Tables().front();
  return std::any_of(actions.columns.begin(), actions.columns.end(), [&](const ColumnDef& column) {
    return vb::LCase(column.name) == vb::LCase(name);
  });
}

}  // namespace kvdata::schema
