#pragma once
// The `kvaction` command: shared options, the logged-in session, and output of record sets.
// Each command group lives in its own file and registers itself with Register*Commands.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ado/Recordset.h"
#include "kvaction/Action.h"

namespace cli {

/// Options every command shares.
struct Options {
  std::string db;          ///< --db FILE: the embedded database file
  std::string connection;  ///< --connection CS: any connection string (wins over --db)
  std::string user;        ///< --user NAME
  bool passwordStdin = false;
  bool json = false;
  std::string locale = "en-US";
  /// Where today comes from; nothing means the system clock (tests pin one).
  std::shared_ptr<const vb::Clock> clock;
};

/// The default embedded database file, in the current directory.
inline constexpr const char* kDefaultDatabase = "actions.kvdb";

/// The connection string the options name.
[[nodiscard]] std::string ConnectionString(const Options& options);
/// Reads the password: the first line of standard input with --password-stdin, else a prompt
/// without echo on a terminal.
[[nodiscard]] std::string ReadPassword(const Options& options, const std::string& prompt);

/// An Action opened on the database the options name, with the user logged in.
class Session {
 public:
  explicit Session(const Options& options, bool login = true);
  [[nodiscard]] kvaction::Action& action() { return action_; }
  [[nodiscard]] const Options& options() const { return options_; }

 private:
  const Options& options_;
  kvaction::Action action_;
};

/// Prints a record set from its current row to its end: a table, or JSON with --json.
void PrintRecordset(std::ostream& out, ado::Recordset& rs, const Options& options);
/// The text form of a field value for output (dates in the session's short date form).
[[nodiscard]] std::string FieldText(const vb::Variant& value, const vb::Locale& locale);

/// A command's body: runs after parsing; any vb::ComError it raises is reported by main.
using Handler = std::function<void()>;

void RegisterSetupCommands(CLI::App& app, Options& options);
void RegisterQueryCommands(CLI::App& app, Options& options);
void RegisterAlertCommands(CLI::App& app, Options& options);
void RegisterRecordCommands(CLI::App& app, Options& options);
void RegisterRightsCommands(CLI::App& app, Options& options);
void RegisterAttachmentCommands(CLI::App& app, Options& options);
/// Adds rename and delete to the user command group (register after RegisterSetupCommands).
void RegisterUserMaintenanceCommands(CLI::App& app, Options& options);

/// The ActionID of an action named on the command line by its number (by its ID with byID).
/// Raises when there is no such action.
[[nodiscard]] int32_t ActionIDOf(kvaction::Action& action, const std::string& target, bool byID);

// The library answers rights questions but does not enforce them; the commands do. Each check
// raises kvaction::kRefused (source "kvaction") with a sentence naming what was refused.
/// Refuses unless the logged-in user holds right (HasAccess).
void RequireRight(kvaction::Action& action, kvaction::ActionRights right);
/// Refuses unless the logged-in user's editing rights of the action allow changing each of the
/// actions-table columns named (a column no editing right covers is refused).
void RequireEditRights(kvaction::Action& action, int32_t actionID,
                       const std::vector<std::string>& columns);
/// Refuses unless the logged-in user may delete the action (PermitDeleteAction).
void RequireDeletePermission(kvaction::Action& action, int32_t actionID);

}  // namespace cli
