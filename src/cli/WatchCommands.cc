// Watching actions: watch, unwatch and watchers; and the leads of a workgroup, who watch every
// action of its members (workgroup leads).
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/Watchers.h"
#include "cli/Cli.h"

namespace cli {

void RegisterWatchCommands(CLI::App& app, Options& options) {
  auto* watch =
      app.add_subcommand("watch", "Hear of every change to an action (as its parties do)");
  OnClientTarget(*watch, options, [](Client& client, int32_t id) {
    client.Watch(id, true);
    std::cout << "Watching " << client.ActionNumberText(id) << ".\n";
  });

  auto* unwatch = app.add_subcommand("unwatch", "Stop hearing of an action's changes");
  OnClientTarget(*unwatch, options, [](Client& client, int32_t id) {
    client.Watch(id, false);
    std::cout << "No longer watching " << client.ActionNumberText(id) << ".\n";
  });

  auto* watchers = app.add_subcommand(
      "watchers", "List who watches an action (themselves, or as a lead of a party's workgroup)");
  OnClientTarget(*watchers, options, [&options](Client& client, int32_t id) {
    const std::vector<app::Watcher> all = client.Watchers(id);
    if (options.json) {
      std::cout << app::WatchersJson(all).dump(2) << '\n';
      return;
    }
    if (all.empty()) std::cout << "Nobody watches " << client.ActionNumberText(id) << ".\n";
    for (const app::Watcher& watcher : all)
      std::cout << Escaped(app::WatcherWords(watcher)) << '\n';
  });

  // Under the workgroup commands, which need right 43 as this one does.
  struct LeadArgs {
    int32_t group = 0;
    std::optional<std::string> leads;
  };
  auto args = std::make_shared<LeadArgs>();
  CLI::App* workgroup = app.get_subcommand("workgroup");
  auto* leads = workgroup->add_subcommand(
      "leads",
      "Show the leads of workgroup ID, who watch every action of its members; --set "
      "replaces them");
  leads->add_option("ID", args->group, "Workgroup ID")->required();
  leads->add_option("--set", args->leads, "User IDs separated by commas (empty: none)");
  OnClient(*leads, options, [args, &options](Client& client) {
    std::optional<std::vector<std::string>> set;
    if (args->leads) set = app::UserIDsOf(*args->leads);
    const std::vector<std::string> now = client.WorkgroupLeads(args->group, set);
    if (options.json) {
      std::cout << nlohmann::ordered_json(now).dump() << '\n';
      return;
    }
    std::cout << fmt::format(
        "Leads of workgroup {}: {}\n", args->group,
        now.empty() ? std::string("none") : fmt::format("{}", fmt::join(now, ", ")));
  });
}

}  // namespace cli
