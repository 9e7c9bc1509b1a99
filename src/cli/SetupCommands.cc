// The commands that set an action database up and look into it: init, upgrade, info, settings
// and sql. The rules (a first password, SuperUser only settings) live in app/.
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Admin.h"
#include "app/Session.h"
#include "cli/Cli.h"
#include "vb/Convert.h"

namespace cli {
namespace {

void RegisterInit(CLI::App& app, Options& options) {
  struct Args {
    std::string file;
    std::string admin;
    std::string name;
    std::string email;
  };
  auto args = std::make_shared<Args>();
  auto* init = app.add_subcommand(
      "init",
      "Create an empty action database, its first user (a SuperUser, password of at least 8 "
      "characters: prompted, or the first line of standard input with --password-stdin) and the "
      "default workgroup new users join");
  init->add_option("FILE", args->file, "Database file to create (default: --db or actions.kvdb)");
  init->add_option("--admin", args->admin, "ID of the first user")->required();
  init->add_option("--name", args->name, "Display name of the first user (default: the ID)");
  init->add_option("--email", args->email,
                   "E-mail address of the first user: the notices they send come from it");
  init->callback([args, &options] {
    if (!args->file.empty()) options.db = args->file, options.connection.clear();
    ApplyDefaults(options);
    RequireLocal(options, "init");
    const std::string password = ReadPassword(options, "Password for " + args->admin + ": ");
    app::CreateDatabase(
        OpenOptionsOf(options),
        {args->admin, args->name.empty() ? args->admin : args->name, password, args->email});
    std::cout << "Created the action database with the SuperUser " << args->admin << ".\n";
  });
}

void RegisterUpgrade(CLI::App& app, Options& options) {
  auto* upgrade = app.add_subcommand(
      "upgrade", "Add to an older action database what this release needs (safe to repeat)");
  upgrade->callback([&options] {
    ApplyDefaults(options);
    RequireLocal(options, "upgrade");
    const std::vector<std::string> changes = app::Upgrade(OpenOptionsOf(options));
    if (options.json) {
      std::cout << nlohmann::json(changes).dump(2) << '\n';
      return;
    }
    if (changes.empty()) std::cout << "The database is up to date.\n";
    for (const std::string& change : changes) std::cout << change << '\n';
  });
}

void RegisterInfo(CLI::App& app, Options& options) {
  auto* info = app.add_subcommand("info", "Show the library version and who is signed in");
  OnSession(*info, options, [&options](app::Session& session) {
    kvaction::Action& action = session.action();
    const nlohmann::ordered_json lines = {
        {"Version", action.Version()},
        {"RequiredDatabaseVersion", action.RequiredDatabaseVersion()},
        {"UserID", session.userID()},
        {"Alerts", action.Alerts()},
    };
    if (options.json) {
      std::cout << lines.dump(2) << '\n';
      return;
    }
    for (const auto& [name, value] : lines.items()) {
      std::cout << name << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
                << '\n';
    }
  });
}

void RegisterSettings(CLI::App& app, Options& options) {
  struct Args {
    std::string key;
    std::string value;
  };
  auto args = std::make_shared<Args>();
  CLI::App* settings = AddGroup(app, "settings", "Database-wide settings (SuperUser only)");

  auto* list = settings->add_subcommand("list", "Print every known setting and its value");
  OnSession(*list, options, [&options](app::Session& session) {
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    for (const std::string& key : app::SettingKeys()) {
      all[key] = JsonValue(app::SettingGet(session, key));
    }
    if (options.json) {
      std::cout << all.dump(2) << '\n';
      return;
    }
    for (const std::string& key : app::SettingKeys()) {
      std::cout << key << ": "
                << Escaped(FieldText(app::SettingGet(session, key), session.locale())) << '\n';
    }
  });

  auto* get = settings->add_subcommand("get", "Print the value stored under KEY");
  get->add_option("KEY", args->key, "Settings key, e.g. SMTPHost, AutoEmail")->required();
  OnSession(*get, options, [args, &options](app::Session& session) {
    const vb::Variant value = app::SettingGet(session, args->key);
    if (options.json) {
      std::cout << nlohmann::json{{args->key, JsonValue(value)}}.dump() << '\n';
    } else {
      std::cout << FieldText(value, session.locale()) << '\n';
    }
  });

  auto* set = settings->add_subcommand("set", "Store VALUE under KEY (empty removes it)");
  set->add_option("KEY", args->key, "Settings key")->required();
  set->add_option("VALUE", args->value, "New value")->required();
  OnSession(*set, options, [args](app::Session& session) {
    app::SettingSet(session, args->key, args->value);
    std::cout << "Set " << args->key << ".\n";
  });
}

void RegisterSql(CLI::App& app, Options& options) {
  auto statement = std::make_shared<std::string>();
  auto csv = std::make_shared<bool>(false);
  auto* sql = app.add_subcommand(
      "sql",
      "Run one SQL statement as it is (SuperUser only; an administrator's tool that bypasses "
      "every rule and records no history)");
  sql->add_option("STATEMENT", *statement, "The statement, e.g. \"select * from actions\"")
      ->required();
  sql->add_flag("--csv", *csv, "Print CSV instead of a table");
  OnSession(
      *sql, options,
      [statement, csv, &options](app::Session& session) {
        const ado::RecordsetPtr rs = app::Sql(session, *statement);
        // A statement that returns no rows (an update, say) leaves nothing to print.
        if (!rs || rs->State() == ado::adStateClosed || rs->Fields().Count() == 0) {
          std::cout << "Done.\n";
          return;
        }
        const Format format = *csv ? Format::kCsv : FormatOf(options);
        PrintRecordset(std::cout, *rs, format, session.locale());
      },
      /*localOnly=*/true);
}

}  // namespace

void RegisterSetupCommands(CLI::App& app, Options& options) {
  RegisterInit(app, options);
  RegisterUpgrade(app, options);
  RegisterInfo(app, options);
  RegisterSettings(app, options);
  RegisterSql(app, options);
  RegisterUserCommands(app, options);
}

}  // namespace cli
