#pragma once
// The `kvaction` command: shared options, the logged-in session, the actions a command names,
// and output of record sets. Each command group lives in its own file and registers itself with
// Register*Commands; AddCommands puts them all together.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "ado/Enums.h"
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

/// Adds the shared options and every command to app; parsing fills options.
void AddCommands(CLI::App& app, Options& options);
/// Parses args (as main receives them: the program's name first) and runs the command they choose.
/// A failure is reported on standard error as "kvaction: error NUMBER (SOURCE): DESCRIPTION";
/// returns the exit status (0 on success).
[[nodiscard]] int Execute(CLI::App& app, std::vector<std::string> args);

/// Adds a command group to app: a command that needs one of its own subcommands.
[[nodiscard]] CLI::App* AddGroup(CLI::App& app, std::string name, std::string description);

/// The source of the errors the commands raise themselves.
inline constexpr const char* kSource = "kvaction";
/// Raises error 5 from kSource with description: a command that cannot do what it was asked.
[[noreturn]] void Fail(std::string description);
/// Raises the error for an action that is not there: "No action has the ID 7." (with byID), or
/// "No action has the number 7.".
[[noreturn]] void NoSuchAction(int32_t value, bool byID);

/// The connection string the options name.
[[nodiscard]] std::string ConnectionString(const Options& options);
/// The short date form --locale names.
[[nodiscard]] const vb::Locale& LocaleOf(const Options& options);
/// Reads the password: the first line of standard input with --password-stdin, else a prompt
/// without echo on a terminal.
[[nodiscard]] std::string ReadPassword(const Options& options, const std::string& prompt);

/// An Action opened on the database the options name, with the user logged in.
class Session {
 public:
  explicit Session(const Options& options);
  [[nodiscard]] kvaction::Action& action() { return action_; }

 private:
  kvaction::Action action_;
};

/// A command's body: runs after parsing on a logged-in session.
using ActionBody = std::function<void(kvaction::Action& action)>;
/// A command's body on the one action the command line names.
using TargetBody = std::function<void(kvaction::Action& action, int32_t actionID)>;

/// Makes body the command's callback, run in a Session on the options' database. Any
/// vb::ComError it raises reaches Execute.
void OnAction(CLI::App& command, const Options& options, ActionBody body);
/// Adds the argument N (an action number, or its ActionID with --id) to command and makes body its
/// callback, given the ActionID named; raises when N names no action.
void OnTarget(CLI::App& command, const Options& options, TargetBody body);

/// Actions named on the command line by number, or by ActionID with --id.
struct ActionTargets {
  std::vector<std::string> numbers;
  bool byID = false;
  /// Adds N (one or, with many, several) and --id to command, filling this.
  void AddTo(CLI::App& command, bool many);
  /// The ActionIDs named, in their order; raises when one names no action.
  [[nodiscard]] std::vector<int32_t> IDsIn(kvaction::Action& action) const;
};

/// The stored row of an action (DataRecord); raises when there is no action with the ID.
[[nodiscard]] ado::RecordsetPtr ActionRecord(kvaction::Action& action, int32_t actionID);
/// The number users know an action by, as text.
[[nodiscard]] std::string ActionNumberText(kvaction::Action& action, int32_t actionID);

/// Prints a record set from its current row to its end: a table, or JSON with --json.
void PrintRecordset(std::ostream& out, ado::Recordset& rs, const Options& options);
/// The text form of a field value for output (dates in the session's short date form).
[[nodiscard]] std::string FieldText(const vb::Variant& value, const vb::Locale& locale);
/// An empty, open in-memory record set of the columns named (nullable, updatable), to fill
/// with AddNew.
[[nodiscard]] ado::RecordsetPtr Table(
    const std::vector<std::pair<std::string, ado::DataTypeEnum>>& columns);

void RegisterSetupCommands(CLI::App& app, Options& options);
void RegisterQueryCommands(CLI::App& app, Options& options);
void RegisterAlertCommands(CLI::App& app, Options& options);
void RegisterRecordCommands(CLI::App& app, Options& options);
void RegisterRightsCommands(CLI::App& app, Options& options);
void RegisterAttachmentCommands(CLI::App& app, Options& options);
/// Adds rename and delete to the user command group (register after RegisterSetupCommands).
void RegisterUserMaintenanceCommands(CLI::App& app, Options& options);
void RegisterBackupCommands(CLI::App& app, Options& options);

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
