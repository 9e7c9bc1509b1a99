// The command line as a whole: the shared options, every command group, and how a failure
// reaches the user.
#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "vb/ComError.h"

namespace cli {

void AddCommands(CLI::App& app, Options& options) {
  app.description("kvaction: an action-item tracking database on the command line");
  app.require_subcommand(1);
  // The shared options may also follow the command: `kvaction init --admin a --password-stdin`.
  app.fallthrough();
  app.add_option("--db", options.db, "Embedded database file (default: actions.kvdb)");
  app.add_option("--connection", options.connection,
                 "Connection string, e.g. Provider=PostgreSQL;Host=...;Database=...");
  app.add_option("--user", options.user, "User name to log in as");
  app.add_flag("--password-stdin", options.passwordStdin,
               "Read the password from the first line of standard input");
  app.add_flag("--json", options.json, "Print results as JSON");
  app.add_option("--locale", options.locale, "Short date form: en-US (M/d/yyyy) or en-GB")
      ->check(CLI::IsMember({"en-US", "en-GB"}));

  RegisterSetupCommands(app, options);
  RegisterQueryCommands(app, options);
  RegisterAlertCommands(app, options);
  RegisterRecordCommands(app, options);
  RegisterRightsCommands(app, options);
  RegisterAttachmentCommands(app, options);
  RegisterUserMaintenanceCommands(app, options);
  RegisterBackupCommands(app, options);
}

CLI::App* AddGroup(CLI::App& app, std::string name, std::string description) {
  CLI::App* group = app.add_subcommand(std::move(name), std::move(description));
  group->require_subcommand(1);
  return group;
}

int Execute(CLI::App& app, std::vector<std::string> args) {
  try {
    if (!args.empty()) {
      app.name(args.front());  // for the usage line
      args.erase(args.begin());
    }
    // CLI11 takes the arguments last first.
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const vb::ComError& e) {
    std::cerr << "kvaction: error " << e.number() << " (" << e.source() << "): " << e.description()
              << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "kvaction: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace cli
