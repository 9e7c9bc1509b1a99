// `user rename` and `user delete`: the user directory changes, and the action database follows
// (the names in the actions; the user's saved queries and profile rows).
#include <iostream>
#include <memory>
#include <string>

#include "cli/Cli.h"

namespace cli {

void RegisterUserMaintenanceCommands(CLI::App& app, Options& options) {
  struct Args {
    std::string id;
    std::string name;
  };
  auto args = std::make_shared<Args>();
  CLI::App* user = app.get_subcommand("user");

  auto* rename = user->add_subcommand(
      "rename", "Change a user's display name, also in the actions he or she originated or holds");
  rename->add_option("ID", args->id, "User ID")->required();
  rename->add_option("NAME", args->name, "New display name")->required();
  OnAction(*rename, options, [args](kvaction::Action& action) {
    RequireRight(action, kvaction::arAddEditUsers);
    action.ChangeUserName(args->id, args->name);
    std::cout << "Renamed " << args->id << " to " << args->name << ".\n";
  });

  auto* remove = user->add_subcommand(
      "delete",
      "Delete a user with his or her saved queries and profile; the actions keep the user's name");
  remove->add_option("ID", args->id, "User ID")->required();
  OnAction(*remove, options, [args](kvaction::Action& action) {
    RequireRight(action, kvaction::arDeleteUsers);
    action.DeleteUser(args->id);
    std::cout << "Deleted the user " << args->id << ".\n";
  });
}

}  // namespace cli
