// The user commands: add, list, edit, rename, passwd and delete. Rights, the default workgroup
// and the last SuperUser's protection are app/'s rules.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/Admin.h"
#include "cli/Cli.h"
#include "cli/Fields.h"

namespace cli {
namespace {

constexpr const char* kTwoPasswords =
    "With --password-stdin standard input holds the new password; without a session kept by "
    "login, your own password comes on the line before it.";

struct UserArgs {
  std::string id;
  std::string name;
  std::string email;
  std::optional<int32_t> group;
  std::string reassignTo;
};

void RegisterAdd(CLI::App& user, Options& options, const std::shared_ptr<UserArgs>& args) {
  auto* add = user.add_subcommand(
      "add", std::string("Add a user (right 41) to the default workgroup unless --group says "
                         "otherwise; the password needs at least 8 characters. ") +
                 kTwoPasswords);
  add->add_option("ID", args->id, "User ID (compared exactly)")->required();
  add->add_option("--name", args->name, "Display name (default: the ID)");
  add->add_option("--email", args->email, "E-mail address");
  add->add_option("--group", args->group, "Workgroup ID (see workgroup list; -1 SuperUser)");
  OnClient(*add, options, [args, &options](Client& client) {
    app::NewUser user{
        args->id, args->name.empty() ? args->id : args->name, {}, args->email, args->group};
    user.password = ReadPassword(options, "Password for " + args->id + ": ");
    client.UserAdd(user);
    std::cout << "Added the user " << args->id << ".\n";
  });
}

void RegisterEdit(CLI::App& user, Options& options, const std::shared_ptr<UserArgs>& args) {
  struct Changes {
    std::optional<std::string> name;
    std::optional<std::string> email;
    std::optional<int32_t> group;
  };
  auto changes = std::make_shared<Changes>();
  auto* edit = user.add_subcommand(
      "edit", "Change a user's name, e-mail address or workgroup (right 41; workgroups 43)");
  edit->add_option("ID", args->id, "User ID")->required();
  edit->add_option("--name", changes->name, "Display name (also in the user's actions)");
  edit->add_option("--email", changes->email, "E-mail address (empty clears)");
  edit->add_option("--group", changes->group, "Workgroup ID");
  OnClient(*edit, options, [args, changes](Client& client) {
    if (!changes->name && !changes->email && !changes->group) {
      throw UsageError("user edit: give --name, --email or --group");
    }
    client.UserEdit(args->id, {changes->name, changes->email, changes->group});
    std::cout << "Changed the user " << args->id << ".\n";
  });

  // The older spelling of a name change.
  auto* rename = user.add_subcommand(
      "rename", "Change a user's display name, also in the actions he or she raised or holds");
  rename->add_option("ID", args->id, "User ID")->required();
  rename->add_option("NAME", args->name, "New display name")->required();
  OnClient(*rename, options, [args](Client& client) {
    client.UserEdit(args->id, {args->name, std::nullopt, std::nullopt});
    std::cout << "Renamed " << args->id << " to " << args->name << ".\n";
  });
}

}  // namespace

void RegisterUserCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<UserArgs>();
  CLI::App* user = AddGroup(app, "user", "Users of the database");
  RegisterAdd(*user, options, args);

  auto* list = user->add_subcommand("list", "List the users");
  OnClient(*list, options, [&options](Client& client) {
    PrintRecordset(std::cout, *client.UserList(), FormatOf(options), client.locale());
  });

  RegisterEdit(*user, options, args);

  auto* passwd = user->add_subcommand(
      "passwd", std::string("Set a password: your own (right 70) or another's (right 41); at "
                            "least 8 characters. ") +
                    kTwoPasswords);
  passwd->add_option("ID", args->id, "User ID (default: yourself)");
  OnClient(*passwd, options, [args, &options](Client& client) {
    const std::string id = args->id.empty() ? client.UserID() : args->id;
    client.UserPassword(id, ReadPassword(options, "New password for " + id + ": "));
    std::cout << "Changed the password of " << id << ".\n";
  });

  auto* remove = user->add_subcommand(
      "delete",
      "Delete a user with his or her saved queries and profile (right 42); open actions need "
      "--reassign-to");
  remove->add_option("ID", args->id, "User ID")->required();
  remove->add_option("--reassign-to", args->reassignTo,
                     "Hand the user's open actions to this user ID");
  OnClient(*remove, options, [args](Client& client) {
    client.UserDelete(args->id, args->reassignTo);
    std::cout << "Deleted the user " << args->id << ".\n";
  });
}

}  // namespace cli
