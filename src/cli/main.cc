// kvaction: the command-line client of the kvAction library.
#include <iostream>

#include "cli/Cli.h"
#include "vb/ComError.h"

int main(int argc, char** argv) {
  CLI::App app{"kvaction: an action-item tracking database on the command line"};
  app.require_subcommand(1);
  // The shared options may also follow the command: `kvaction init --admin a --password-stdin`.
  app.fallthrough();
  cli::Options options;
  app.add_option("--db", options.db, "Embedded database file (default: actions.kvdb)");
  app.add_option("--connection", options.connection,
                 "Connection string, e.g. Provider=PostgreSQL;Host=...;Database=...");
  app.add_option("--user", options.user, "User name to log in as");
  app.add_flag("--password-stdin", options.passwordStdin,
               "Read the password from the first line of standard input");
  app.add_flag("--json", options.json, "Print results as JSON");
  app.add_option("--locale", options.locale, "Short date form: en-US (M/d/yyyy) or en-GB")
      ->check(CLI::IsMember({"en-US", "en-GB"}));

  cli::RegisterSetupCommands(app, options);
  cli::RegisterQueryCommands(app, options);
  cli::RegisterAlertCommands(app, options);
  cli::RegisterRecordCommands(app, options);
  cli::RegisterRightsCommands(app, options);
  cli::RegisterAttachmentCommands(app, options);
  cli::RegisterUserMaintenanceCommands(app, options);

  try {
    app.parse(argc, argv);
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
