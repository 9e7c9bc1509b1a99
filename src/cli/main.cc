// kvaction: the command-line client of the kvAction library.
#include <iostream>

#include "cli/Cli.h"
#include "vb/ComError.h"

int main(int argc, char** argv) {
  CLI::App app{"kvaction: an action-item tracking database on the command line"};
  app.require_subcommand(1);
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const vb::ComError& e) {
    std::cerr << "kvaction: error " << e.number() << " (" << e.source() << "): "
              << e.description() << '\n';
    return 1;
  }
  return 0;
}
