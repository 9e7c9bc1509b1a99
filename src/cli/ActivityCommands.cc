// activity: what changed lately across the actions the person may see, newest first, by day.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/Activity.h"
#include "cli/Cli.h"
#include "cli/Client.h"

namespace cli {
namespace {

struct ActivityArgs {
  std::optional<std::string> since;
  std::optional<std::string> before;
  std::optional<std::string> limit;
};

// Each day's heading, then one line per change: time, action, who and what.
void PrintActivity(const app::ActivityPage& page) {
  std::string day;
  for (const app::ActivityEntry& entry : page.entries) {
    if (entry.day != day) {
      day = entry.day;
      std::cout << day << '\n';
    }
    std::cout << "  " << entry.time << "  No. " << entry.number << " " << entry.subject << "\n"
              << "         " << (entry.whoName.empty() ? "-" : entry.whoName) << ": " << entry.text
              << '\n';
  }
  if (page.entries.empty()) std::cout << "No changes.\n";
  if (page.older) std::cout << "Older changes: kvaction activity --before " << *page.older << '\n';
}

}  // namespace

void RegisterActivityCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<ActivityArgs>();
  auto* activity = app.add_subcommand(
      "activity",
      "What changed lately across the actions you may see, newest first, by day (right 82)");
  activity->add_option("--since", args->since,
                       "Only changes on or after DATE (yyyy-mm-dd or your short date form)");
  activity->add_option("--before", args->before,
                       "Only changes older than change N (the next page's mark)");
  activity->add_option("--limit", args->limit, "At most N changes (1 to 200; default 50)");
  OnClient(*activity, options, [args, &options](Client& client) {
    std::vector<std::pair<std::string, std::string>> given;
    if (args->since) given.emplace_back("since", *args->since);
    if (args->before) given.emplace_back("before", *args->before);
    if (args->limit) given.emplace_back("limit", *args->limit);
    const app::ActivityPage page = client.Activity(given);
    if (options.json) {
      std::cout << app::ActivityJson(page).dump() << '\n';
    } else {
      PrintActivity(page);
    }
  });
}

}  // namespace cli
