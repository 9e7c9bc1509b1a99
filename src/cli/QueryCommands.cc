// The commands around saved queries: query add|list|show|delete, and list (the actions of a
// saved query, or the user's open actions).
#include <cctype>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ado/Enums.h"
#include "cli/Cli.h"
#include "kvdata/DataServer.h"
#include "kvdata/QueryStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace cli {
namespace {

using Criteria = std::vector<std::pair<std::string, vb::Variant>>;

/// The criteria of a new saved query, as given on the command line.
struct QueryArgs {
  std::string name;
  std::optional<int16_t> assignedTo;
  bool applyStatus = false;
  std::optional<int16_t> status;
  std::optional<int16_t> dueDays;
  /// Text criteria: column name and value.
  std::vector<std::pair<std::string, std::optional<std::string>>> texts = {
      {"Assignee", {}}, {"Originator", {}},  {"Category", {}}, {"Priority", {}},
      {"Subject", {}},  {"Description", {}}, {"Result", {}}};
  /// Date bounds: column name and the date as typed, in the session's short date form.
  std::vector<std::pair<std::string, std::optional<std::string>>> dates = {
      {"DateOpened", {}},   {"DateOpenedUpper", {}}, {"DateDue", {}},
      {"DateDueUpper", {}}, {"DateCompleted", {}},   {"DateCompletedUpper", {}},
      {"DateClosed", {}},   {"DateClosedUpper", {}}};
  int32_t id = 0;
  bool all = false;
};

/// The option that sets a column: "DateOpenedUpper" → "--date-opened-upper".
std::string OptionName(std::string_view column) {
  std::string name = "--";
  for (std::size_t i = 0; i < column.size(); ++i) {
    const char c = column[i];
    if (std::isupper(static_cast<unsigned char>(c)) != 0 && i > 0) name += '-';
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

Criteria CriteriaOf(const QueryArgs& args, const vb::Locale& locale) {
  Criteria criteria;
  if (args.assignedTo) criteria.emplace_back("AssignedTo", *args.assignedTo);
  criteria.emplace_back("ApplyStatus", args.applyStatus);
  if (args.status) criteria.emplace_back("Status", *args.status);
  if (args.dueDays) criteria.emplace_back("DueDays", *args.dueDays);
  for (const auto& [column, value] : args.texts) {
    if (value) criteria.emplace_back(column, *value);
  }
  for (const auto& [column, value] : args.dates) {
    if (value) criteria.emplace_back(column, vb::DateValue(*value, locale));
  }
  return criteria;
}

void RegisterQueryAdd(CLI::App& query, Options& options, const std::shared_ptr<QueryArgs>& args) {
  auto* add = query.add_subcommand("add", "Save a query owned by the logged-in user");
  add->add_option("NAME", args->name, "The query's name")->required();
  add->add_option("--assigned-to", args->assignedTo,
                  "1: the user's own actions; 2: by --assignee and --originator; 0: anyone");
  add->add_flag("--apply-status", args->applyStatus, "Apply --status (and --due-days)");
  add->add_option("--status", args->status,
                  "0 open, 1 closed, 2 overdue, 3 due within --due-days, 4 completed not closed");
  add->add_option("--due-days", args->dueDays, "Horizon of status 3, in days (may be negative)");
  for (auto& [column, value] : args->texts) {
    add->add_option(
        OptionName(column), value,
        column == "Category" || column == "Priority"
            ? "Exact " + column
            : "Fragment of " + column +
                  (column == "Assignee" || column == "Originator" ? " (the word null: none)" : ""));
  }
  for (auto& [column, value] : args->dates) {
    add->add_option(OptionName(column), value,
                    std::string(column.ends_with("Upper") ? "Last" : "First") + " day of " +
                        column.substr(0, column.find("Upper")));
  }
  OnAction(*add, options, [args](kvaction::Action& action) {
    const int32_t id =
        action.DataServer()->Queries()->CreateQuery(args->name, CriteriaOf(*args, action.Locale()));
    std::cout << "Saved the query " << id << ".\n";
  });
}

void RegisterQuery(CLI::App& app, Options& options) {
  auto args = std::make_shared<QueryArgs>();
  CLI::App* query = AddGroup(app, "query", "Manage saved queries");
  RegisterQueryAdd(*query, options, args);

  auto* list = query->add_subcommand("list", "List the logged-in user's saved queries");
  list->add_flag("--all", args->all, "Every user's queries");
  OnAction(*list, options, [args, &options](kvaction::Action& action) {
    const std::string owner = args->all ? std::string() : action.UserProfile()->UserID();
    PrintRecordset(std::cout, *action.DataServer()->Queries()->QueryList(owner), options);
  });

  auto* show = query->add_subcommand("show", "Show a saved query's criteria");
  show->add_option("ID", args->id, "The query's ID")->required();
  OnAction(*show, options, [args, &options](kvaction::Action& action) {
    const auto definition = action.DataServer()->Queries()->QueryRecordset(
        args->id, ado::adOpenStatic, ado::adUseClient, ado::adLockReadOnly);
    PrintRecordset(std::cout, *definition, options);
  });

  auto* remove = query->add_subcommand("delete", "Delete a saved query");
  remove->add_option("ID", args->id, "The query's ID")->required();
  OnAction(*remove, options, [args](kvaction::Action& action) {
    action.DataServer()->Queries()->DeleteQuery(args->id);
    std::cout << "Deleted the query " << args->id << ".\n";
  });
}

// --- list ---------------------------------------------------------------------------------

struct ListArgs {
  int32_t query = 0;
  std::string sort;
  std::string reference;
  int32_t modifier = 0;
};

void RegisterList(CLI::App& app, Options& options) {
  auto args = std::make_shared<ListArgs>();
  auto* list = app.add_subcommand(
      "list", "List the actions of a saved query (default: the user's open actions)");
  list->add_option("--query", args->query, "Saved query ID");
  list->add_option("--sort", args->sort, "Order by this list, e.g. \"DateDue, ActionNumber\"");
  list->add_option("--reference", args->reference, "Keep to the actions of this reference ID");
  list->add_option("--modifier", args->modifier,
                   "With --reference: 0 only its actions, 1 also those without one, 2 all");
  OnAction(*list, options, [args, &options](kvaction::Action& action) {
    action.ReferenceID(args->reference);
    action.QueryModifier(args->modifier);
    const auto rs = action.QueriedRecordset(args->query, args->sort, ado::adOpenForwardOnly,
                                            ado::adUseServer, ado::adLockReadOnly);
    PrintRecordset(std::cout, *rs, options);
  });
}

}  // namespace

void RegisterQueryCommands(CLI::App& app, Options& options) {
  RegisterQuery(app, options);
  RegisterList(app, options);
}

}  // namespace cli
