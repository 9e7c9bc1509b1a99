// The command line as a whole: the shared options, every command group, help, and how a failure
// reaches the user and the exit status.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/Errors.h"
#include "cli/Cli.h"
#include "cli/Fields.h"
#include "vb/ComError.h"

namespace cli {
namespace {

/// The shared options that take a value, so that the command word can be found after them.
bool TakesValue(std::string_view option) {
  return option == "--db" || option == "--connection" || option == "--user" ||
         option == "--locale" || option == "--server" || option == "--cacert";
}

/// The positions of the words of args that are not options (nor option values).
std::vector<std::size_t> Words(const std::vector<std::string>& args) {
  std::vector<std::size_t> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg.starts_with("-")) {
      if (TakesValue(arg)) ++i;
      continue;
    }
    words.push_back(i);
  }
  return words;
}

/// The edit distance of a and b (insertions, deletions, substitutions, adjacent swaps).
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  std::iota(d[0].begin(), d[0].end(), 0);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

/// The subcommand of parent closest to word, when one is close enough to be a likely typo.
std::string Suggestion(const CLI::App& parent, std::string_view word) {
  std::string best;
  std::size_t bestDistance = 3;  // more than two edits away is not a typo
  for (const CLI::App* sub : parent.get_subcommands({})) {
    const std::size_t distance = Distance(word, sub->get_name());
    if (distance < bestDistance) best = sub->get_name(), bestDistance = distance;
  }
  return best;
}

/// Walks the words of a command path ("user", "add") down from app; returns the command reached
/// and the first word that names no subcommand (empty when all did).
std::pair<CLI::App*, std::string> Resolve(CLI::App& app, const std::vector<std::string>& path) {
  CLI::App* command = &app;
  for (const std::string& word : path) {
    if (command->get_subcommands({}).empty()) break;  // the rest are the command's arguments
    CLI::App* sub = nullptr;
    for (CLI::App* candidate : command->get_subcommands({})) {
      if (candidate->get_name() == word) sub = candidate;
    }
    if (sub == nullptr) return {command, word};
    command = sub;
  }
  return {command, {}};
}

std::string CommandPath(const CLI::App& app, const CLI::App& command) {
  std::string path;
  for (const CLI::App* c = &command; c != nullptr && c != &app; c = c->get_parent()) {
    path = c->get_name() + (path.empty() ? "" : " " + path);
  }
  return path;
}

/// The message and exit status of a word that names no command.
int UnknownCommand(const CLI::App& app, const CLI::App& parent, const std::string& word) {
  const std::string where = CommandPath(app, parent);
  std::cerr << "kvaction: '" << word << "' is not a "
            << (where.empty() ? "command" : "subcommand of '" + where + "'") << '.';
  if (const std::string near = Suggestion(parent, word); !near.empty()) {
    std::cerr << " Did you mean '" << (where.empty() ? "" : where + " ") << near << "'?";
  }
  std::cerr << "\nRun 'kvaction help" << (where.empty() ? "" : " " + where) << "' for the list.\n";
  return kExitUsage;
}

/// `kvaction help [COMMAND…]`: the help of the command named.
int Help(CLI::App& app, const std::vector<std::string>& path) {
  const auto [command, unknown] = Resolve(app, path);
  if (!unknown.empty()) return UnknownCommand(app, *command, unknown);
  std::cout << command->help();
  return kExitOk;
}

void PrintError(const vb::ComError& e) {
  // The command's own messages need no number: they already say what to do.
  if (e.source() == kSource) {
    std::cerr << "kvaction: " << e.description() << '\n';
    return;
  }
  // An input error of app/ names its field by an ID; the person typed an option.
  const std::string description =
      e.number() == app::kInvalidInput ? InOptionNames(e.description()) : e.description();
  std::cerr << "kvaction: " << ErrorNumberText(e.number()) << ' ' << e.source() << ": "
            << description << '\n';
}

}  // namespace

std::string ErrorNumberText(int32_t number) {
  // Object errors and HRESULTs are negative as 32-bit numbers and documented in hex; the host
  // runtime's own numbers (5, 13, 91 …) are small and documented in decimal.
  if (number < 0 || number > 0xFFFF) return fmt::format("0x{:08X}", static_cast<uint32_t>(number));
  return std::to_string(number);
}

void AddCommands(CLI::App& app, Options& options) {
  app.description("kvaction: an action-item tracking database on the command line");
  app.require_subcommand(1);
  // The shared options may also follow the command: `kvaction init --admin a --password-stdin`.
  app.fallthrough();
  app.set_version_flag("--version", std::string("kvaction ") + KV_VERSION);
  // Every command inherits this footer; the overview adds the environment below.
  const std::string footer =
      "Run 'kvaction help COMMAND' for a command's options. Exit status: 0 done, 1 refused or "
      "failed, 2 the command line is wrong.";
  app.footer(footer);
  app.add_option("--db", options.db,
                 "Embedded database file (default: $KVACTION_DB, else actions.kvdb)");
  app.add_option("--connection", options.connection,
                 "Connection string, e.g. Provider=PostgreSQL;Host=...;Database=... "
                 "(default: $KVACTION_CONNECTION)");
  app.add_option("--server", options.server,
                 "Work through a kvaction server's API, e.g. https://actions.example.org "
                 "(default: $KVACTION_SERVER); only the server holds the database's keys");
  app.add_option("--cacert", options.cacert,
                 "Certificate authorities (PEM file) to trust for --server, instead of the "
                 "system's");
  app.add_flag("--insecure-http", options.insecureHttp,
               "Allow an http:// server that is not on this machine (passwords and tokens travel "
               "unencrypted)");
  app.add_option("--user", options.user,
                 "User name to log in as (default: $KVACTION_USER, else the signed-in one)");
  app.add_flag("--password-stdin", options.passwordStdin,
               "Read the password from the first line of standard input");
  app.add_flag("--json", options.json, "Print results as JSON");
  app.add_flag("--no-mail", options.noMail, "Changes send no notices (bulk work)");
  app.add_option("--locale", options.locale, "Short date form: en-US (M/d/yyyy) or en-GB")
      ->check(CLI::IsMember({"en-US", "en-GB"}));

  RegisterSessionCommands(app, options);
  RegisterSetupCommands(app, options);
  RegisterQueryCommands(app, options);
  RegisterListCommands(app, options);
  RegisterAlertCommands(app, options);
  RegisterRecordCommands(app, options);
  RegisterRightsCommands(app, options);
  RegisterAttachmentCommands(app, options);
  RegisterBackupCommands(app, options);
  RegisterTransferCommands(app, options);
  RegisterServeCommand(app, options);
  RegisterMailCommands(app, options);
  RegisterWatchCommands(app, options);
  RegisterHookCommands(app, options);
  RegisterCommentCommands(app, options);
  RegisterActivityCommands(app, options);
  app.add_subcommand("help", "Describe a command: kvaction help [COMMAND [SUBCOMMAND]]")
      ->allow_extras();
  app.footer(
      "Environment: KVACTION_DB, KVACTION_CONNECTION, KVACTION_SERVER and KVACTION_USER stand "
      "in for --db, --connection, --server and --user when these are not given; then "
      "config.toml in $XDG_CONFIG_HOME/kvaction or ~/.config/kvaction (keys db, connection, "
      "server, cacert, user, locale).\n" +
      footer);
}

CLI::App* AddGroup(CLI::App& app, std::string name, std::string description) {
  CLI::App* group = app.add_subcommand(std::move(name), std::move(description));
  group->require_subcommand(1);
  return group;
}

int Execute(CLI::App& app, std::vector<std::string> args) {
  try {
    if (!args.empty()) {
      app.name(std::filesystem::path(args.front()).filename().string());  // the usage line
      args.erase(args.begin());
    }
    const std::vector<std::size_t> words = Words(args);
    std::vector<std::string> path;
    for (const std::size_t i : words) path.push_back(args[i]);
    if (!path.empty() && path.front() == "help") {
      return Help(app, std::vector<std::string>(path.begin() + 1, path.end()));
    }
    if (const auto [parent, unknown] = Resolve(app, path); !unknown.empty()) {
      return UnknownCommand(app, *parent, unknown);
    }
    // CLI11 takes the arguments last first.
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::cerr << "kvaction: " << e.what() << "\nRun 'kvaction help' for usage.\n";
    return kExitUsage;
  } catch (const ExitStatus& e) {
    return e.status;
  } catch (const UsageError& e) {
    std::cerr << "kvaction: " << e.what() << '\n';
    return kExitUsage;
  } catch (const vb::ComError& e) {
    PrintError(e);
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "kvaction: " << e.what() << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace cli
