// The commands that set an action database up and look into it: init, user, info, settings, sql.
// Each is a thin client of the library: it opens a session, calls Action members and prints.
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ado/Enums.h"
#include "cli/Cli.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/schema/Schema.h"
#include "kvuser/User.h"
#include "vb/Convert.h"

namespace cli {
namespace {

constexpr const char* kTwoPasswords =
    "With --password-stdin, standard input holds two lines: the password of --user first, "
    "then the new password.";

// --- init ---------------------------------------------------------------------------------

struct InitArgs {
  std::string file;
  std::string admin;
  std::string name;
};

void RegisterInit(CLI::App& app, Options& options) {
  auto args = std::make_shared<InitArgs>();
  auto* init = app.add_subcommand(
      "init",
      "Create an empty action database and its first user, a SuperUser. With --password-stdin "
      "the first line of standard input is that user's password.");
  init->add_option("FILE", args->file, "Database file to create (default: --db or actions.kvdb)");
  init->add_option("--admin", args->admin, "ID of the first user")->required();
  init->add_option("--name", args->name, "Display name of the first user (default: the ID)");
  init->callback([args, &options] {
    if (!args->file.empty()) options.db = args->file;
    const std::string connection = ConnectionString(options);
    const std::string password = ReadPassword(options, "Password for " + args->admin + ": ");
    kvdata::DataServer::CreateDatabase(
        connection, {args->admin, args->name.empty() ? args->admin : args->name, password});
    // The name, not the connection string, which may hold a password.
    std::cout << "Created the action database "
              << kvdata::DataConnection::Open(connection)->DatabaseName() << " with the SuperUser "
              << args->admin << ".\n";
  });
}

// --- user ---------------------------------------------------------------------------------

struct UserArgs {
  std::string id;
  std::string name;
  std::string email;
  int32_t group = kvdata::kSuperUserGroup;
};

void RegisterUser(CLI::App& app, Options& options) {
  auto args = std::make_shared<UserArgs>();
  CLI::App* user = AddGroup(app, "user", "Manage the users of the database (log in with --user)");

  auto* add = user->add_subcommand("add", std::string("Add a user. ") + kTwoPasswords);
  add->add_option("ID", args->id, "User ID (compared exactly)")->required();
  add->add_option("--name", args->name, "Display name (default: the ID)");
  add->add_option("--email", args->email, "E-mail address");
  add->add_option("--group", args->group,
                  "Workgroup ID (default -1, SuperUser: the one workgroup of a new database)");
  OnAction(*add, options, [args, &options](kvaction::Action& action) {
    const std::string password = ReadPassword(options, "Password for " + args->id + ": ");
    action.User()->AddUser(args->id, args->name.empty() ? args->id : args->name, password,
                           args->group, args->email);
    std::cout << "Added the user " << args->id << ".\n";
  });

  auto* list = user->add_subcommand("list", "List the users");
  OnAction(*list, options, [&options](kvaction::Action& action) {
    PrintRecordset(std::cout, *action.User()->UserList(), options);
  });

  auto* passwd =
      user->add_subcommand("passwd", std::string("Replace a user's password. ") + kTwoPasswords);
  passwd->add_option("ID", args->id, "User ID")->required();
  OnAction(*passwd, options, [args, &options](kvaction::Action& action) {
    const std::string password = ReadPassword(options, "New password for " + args->id + ": ");
    action.User()->SetPassword(args->id, password);
    std::cout << "Changed the password of " << args->id << ".\n";
  });
}

// --- info ---------------------------------------------------------------------------------

std::string WorkgroupName(kvaction::Action& action, int32_t groupID) {
  const auto rs = action.Recordset(
      "select GroupName from ActionGroups where GroupID=" + std::to_string(groupID),
      ado::adOpenForwardOnly, ado::adUseServer, ado::adLockReadOnly);
  return rs->IsEOF() ? std::string() : vb::TextOf(rs->Fields().Item("GroupName").Value());
}

void RegisterInfo(CLI::App& app, Options& options) {
  auto* info = app.add_subcommand(
      "info", "Show the database, its version, the logged-in user, the workgroup and the settings");
  OnAction(*info, options, [&options](kvaction::Action& action) {
    const auto profile = action.UserProfile();
    const int32_t groupID = profile->GroupID();
    const std::vector<std::pair<std::string, nlohmann::json>> lines = {
        {"Database", action.DataServer()->Connection()->DatabaseName()},
        {"Database version",
         vb::TextOf(action.DataServer()->Settings()->Value("Version"), action.Locale())},
        {"Library version", action.Version()},
        {"User", profile->UserID()},
        {"User name", profile->UserName()},
        {"Workgroup", std::to_string(groupID) + " " + WorkgroupName(action, groupID)},
        {"SMTPHost", action.SMTPHost()},
        {"SMTPDefault", action.SMTPDefault()},
        {"AutoEmail", action.AutoEmail()},
        {"VersionSensing", action.VersionSensing()},
    };
    if (options.json) {
      nlohmann::json object = nlohmann::json::object();
      for (const auto& [name, value] : lines) object[name] = value;
      std::cout << object.dump(2) << '\n';
      return;
    }
    for (const auto& [name, value] : lines) {
      std::cout << name << ": "
                << (value.is_string() ? value.get<std::string>()
                                      : std::string(value.get<bool>() ? "True" : "False"))
                << '\n';
    }
  });
}

// --- settings -----------------------------------------------------------------------------

struct SettingArgs {
  std::string key;
  std::string value;
};

void RegisterSettings(CLI::App& app, Options& options) {
  auto args = std::make_shared<SettingArgs>();
  CLI::App* settings = AddGroup(app, "settings", "Read or change a database-wide setting");

  auto* get = settings->add_subcommand("get", "Print the value stored under KEY");
  get->add_option("KEY", args->key, "Settings key, e.g. SMTPHost, AutoEmail")->required();
  OnAction(*get, options, [args](kvaction::Action& action) {
    const auto value = action.DataServer()->Settings()->Value(args->key);
    std::cout << vb::TextOf(value, action.Locale()) << '\n';
  });

  auto* set = settings->add_subcommand(
      "set", "Store VALUE under KEY and save (SMTPDefault and AutoEmail take True or False)");
  set->add_option("KEY", args->key, "Settings key")->required();
  set->add_option("VALUE", args->value, "New value (empty removes the setting)")->required();
  OnAction(*set, options, [args](kvaction::Action& action) {
    // The typed settings go through their properties so that they are stored as booleans.
    if (vb::EqualsText(args->key, "SMTPDefault")) {
      action.SMTPDefault(vb::CBool(vb::Variant(args->value)));
    } else if (vb::EqualsText(args->key, "AutoEmail")) {
      action.AutoEmail(vb::CBool(vb::Variant(args->value)));
    } else {
      action.DataServer()->Settings()->Value(
          args->key, args->value.empty() ? vb::Variant() : vb::Variant(args->value));
    }
    action.save();
  });
}

// --- sql ----------------------------------------------------------------------------------

void RegisterSql(CLI::App& app, Options& options) {
  auto statement = std::make_shared<std::string>();
  auto* sql = app.add_subcommand(
      "sql", "Run one statement (either dialect) and print the rows it returns (--json for JSON)");
  sql->add_option("STATEMENT", *statement, "The statement, e.g. \"select * from actions\"")
      ->required();
  OnAction(*sql, options, [statement, &options](kvaction::Action& action) {
    const auto rs =
        action.Recordset(*statement, ado::adOpenForwardOnly, ado::adUseServer, ado::adLockReadOnly);
    // A statement that returns no rows (an update, say) leaves nothing to print.
    if (rs->State() == ado::adStateClosed || rs->Fields().Count() == 0) {
      std::cout << "Done.\n";
      return;
    }
    PrintRecordset(std::cout, *rs, options);
  });
}

}  // namespace

void RegisterSetupCommands(CLI::App& app, Options& options) {
  RegisterInit(app, options);
  RegisterUser(app, options);
  RegisterInfo(app, options);
  RegisterSettings(app, options);
  RegisterSql(app, options);
}

}  // namespace cli
