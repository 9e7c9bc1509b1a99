#pragma once
// The `kvaction` command: shared options, the signed-in session, the actions a command names,
// and exit statuses. Each command group lives in its own file and registers itself with
// Register*Commands; AddCommands puts them all together. Every command is a thin translation
// between a person and app/: the rules (rights, input checks, history) live there.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/Outbox.h"
#include "app/Session.h"
#include "cli/Client.h"
#include "cli/Output.h"

namespace cli {

/// Exit statuses: done; refused or failed; the command line is wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// Options every command shares. Empty texts are filled from the environment and config.toml.
struct Options {
  std::string db;          ///< --db FILE: the embedded database file
  std::string connection;  ///< --connection CS: any connection string (wins over --db)
  std::string user;        ///< --user NAME
  bool passwordStdin = false;
  bool json = false;
  std::string locale;  ///< "en-US" (default) or "en-GB"
  /// Where today comes from; nothing means the system clock (tests pin one).
  std::shared_ptr<const vb::Clock> clock;
  /// The folder of config.toml and the token file; empty: ConfigFolder() (tests set one).
  std::string configFolder;
  /// Hashes new passwords at the lowest cost (tests only).
  bool cheapPasswords = false;
  /// --no-mail: changes queue no notices (bulk work).
  bool noMail = false;
  /// --server URL: a `kvaction serve` process to work through instead of a local database.
  std::string server;
  /// --cacert FILE: the certificate authorities to trust for the server (else the system's).
  std::string cacert;
  /// --insecure-http: allows an http:// server that is not on this machine.
  bool insecureHttp = false;
  /// The rows one request of a long list asks a server for; 0: the usual page (tests ask for
  /// small pages, so that short lists cross pages).
  int32_t pageRows = 0;
};

/// The default embedded database file, in the current directory.
inline constexpr const char* kDefaultDatabase = "actions.kvdb";

/// A command line that is wrong in form (an option value that cannot be read): exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
/// Ends a command with status, its own message already printed (a mail server reads 75 as "try
/// again later").
struct ExitStatus {
  int status = kExitFailed;
};

/// Raises the UsageError "OPTION: 'VALUE' is not EXPECTED".
[[noreturn]] void BadValue(std::string_view option, std::string_view value,
                           std::string_view expected);

/// Adds the shared options and every command to app; parsing fills options.
void AddCommands(CLI::App& app, Options& options);
/// Parses args (as main receives them: the program's name first) and runs the command they
/// choose. Failures go to standard error as "kvaction: NUMBER SOURCE: DESCRIPTION"; returns the
/// exit status.
[[nodiscard]] int Execute(CLI::App& app, std::vector<std::string> args);
/// An error number as the documentation lists it: hex for object errors, decimal for the host
/// runtime's small numbers.
[[nodiscard]] std::string ErrorNumberText(int32_t number);

/// Adds a command group to app: a command that needs one of its own subcommands.
[[nodiscard]] CLI::App* AddGroup(CLI::App& app, std::string name, std::string description);

/// The source of the errors the command raises itself (printed without number and source).
inline constexpr const char* kSource = "kvaction";
/// Raises error 5 from kSource with description: a command that cannot do what it was asked.
[[noreturn]] void Fail(std::string description);

/// Fills the options the command line left empty from the environment, then config.toml. A
/// database or server named on the command line wins over every default one; --server with
/// --db or --connection is a UsageError.
void ApplyDefaults(Options& options);
/// The folder of config.toml and the token file.
[[nodiscard]] std::filesystem::path ConfigFolderOf(const Options& options);
/// --user, or raises "Nobody is signed in" saying how to sign in.
[[nodiscard]] std::string RequiredUser(const Options& options);
/// Raises, naming command, when the options choose a server: init, upgrade, backup, restore,
/// sql, serve, mail send and remind's digests work on a database, never through a server; why
/// (if any) says what the server does instead.
void RequireLocal(const Options& options, std::string_view command, std::string_view why = {});
/// The connection string the options name (after ApplyDefaults).
[[nodiscard]] std::string ConnectionString(const Options& options);
/// The short date form --locale names.
[[nodiscard]] const vb::Locale& LocaleOf(const Options& options);
/// How rows print: --json, else table (commands with --csv ask for it themselves).
[[nodiscard]] Format FormatOf(const Options& options);
/// How a session opens the options' database.
[[nodiscard]] app::OpenOptions OpenOptionsOf(const Options& options);
/// Reads the password: the first line of standard input with --password-stdin, else a prompt
/// without echo on a terminal.
[[nodiscard]] std::string ReadPassword(const Options& options, const std::string& prompt);
/// A session on the options' database: resumed from the token of `kvaction login` when one is
/// kept for it (and --user names nobody else; no password is read then), else signed in with
/// --user and a password.
[[nodiscard]] app::Session OpenSession(const Options& options);

/// For a long-running command: opens a session like OpenSession, again at every call, asking
/// for nothing after the first (a kept token is resumed; with --user the password is read once
/// and kept in memory). Raises like OpenSession when no session can be had.
[[nodiscard]] std::function<app::Session()> SessionOpenerOf(const Options& options);
/// A secret kept in a file: its first line, or "" for an empty file name. what names the file
/// in the error ("The password file … cannot be read.").
[[nodiscard]] std::string SecretFrom(const std::string& file, std::string_view what);
/// The SMTP relay's password: SecretFrom(file, "password").
[[nodiscard]] std::string RelayPasswordFrom(const std::string& file);
/// Prints what a round of deliveries (mail or webhooks) did; each problem on standard error.
void PrintDeliveryReport(const app::DeliveryReport& report);

/// A command's body: runs after parsing on a signed-in session.
using SessionBody = std::function<void(app::Session& session)>;
/// Makes body the command's callback, run in a session on the options' database. Such a command
/// works on a local database only: with a server chosen it says so, and why (RequireLocal).
void OnSession(CLI::App& command, Options& options, SessionBody body, std::string why = {});
/// Runs body in a session on the options' database (after ApplyDefaults and RequireLocal), then
/// delivers the person's own notices.
void RunOnSession(const Options& options, const SessionBody& body);

/// A command's body on the client of the options' database or server.
using ClientBody = std::function<void(Client& client)>;
using ClientTargetBody = std::function<void(Client& client, int32_t actionID)>;
/// Makes body the command's callback, run locally or through the options' server alike.
void OnClient(CLI::App& command, Options& options, ClientBody body);
/// Runs body on the options' client (after ApplyDefaults), then lets it finish.
void RunOnClient(const Options& options, const ClientBody& body);
/// Adds the argument N (an action number, or its ActionID with --id) to command and makes body
/// its callback, given the ActionID named, run locally or through the options' server alike.
void OnClientTarget(CLI::App& command, Options& options, ClientTargetBody body);

/// Actions named on the command line by number, or by ActionID with --id.
struct ActionTargets {
  std::vector<int32_t> numbers;
  bool byID = false;
  /// Adds N (one or, with many, several) and --id to command, filling this.
  void AddTo(CLI::App& command, bool many);
  /// The ActionIDs named, in their order; raises when one names no action.
  [[nodiscard]] std::vector<int32_t> IDsIn(Client& client) const;
};

void RegisterSessionCommands(CLI::App& app, Options& options);
void RegisterSetupCommands(CLI::App& app, Options& options);
void RegisterUserCommands(CLI::App& app, Options& options);
void RegisterQueryCommands(CLI::App& app, Options& options);
void RegisterListCommands(CLI::App& app, Options& options);
void RegisterAlertCommands(CLI::App& app, Options& options);
void RegisterRecordCommands(CLI::App& app, Options& options);
void RegisterRightsCommands(CLI::App& app, Options& options);
void RegisterServeCommand(CLI::App& app, Options& options);
void RegisterAttachmentCommands(CLI::App& app, Options& options);
void RegisterBackupCommands(CLI::App& app, Options& options);
void RegisterTransferCommands(CLI::App& app, Options& options);
void RegisterMailCommands(CLI::App& app, Options& options);
void RegisterWatchCommands(CLI::App& app, Options& options);
void RegisterHookCommands(CLI::App& app, Options& options);
/// `comment`, and `mail receive` (after RegisterMailCommands, which makes the group).
void RegisterCommentCommands(CLI::App& app, Options& options);
void RegisterActivityCommands(CLI::App& app, Options& options);
/// Delivers the notices the person's changes queued; a failure is reported, never raised.
void DeliverOwnMail(app::Session& session);

}  // namespace cli
