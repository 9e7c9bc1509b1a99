// The rights commands: the catalogue with what you hold, what you may do to one action,
// workgroups, and the field lists.
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Admin.h"
#include "app/Rights.h"
#include "cli/Cli.h"
#include "vb/Convert.h"

namespace cli {
namespace {

/// "50,52,65" as right numbers; raises a UsageError naming option otherwise.
std::vector<int32_t> RightNumbers(std::string_view option, const std::string& text) {
  std::vector<int32_t> rights;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    std::size_t used = 0;
    int32_t right = 0;
    try {
      right = std::stoi(item, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    while (used < item.size() && item[used] == ' ') ++used;
    if (used == 0 || used != item.size()) {
      BadValue(option, text, "right numbers separated by commas, e.g. 50,52,65");
    }
    rights.push_back(right);
  }
  return rights;
}

/// A two-column table of name and value, printed as a table or JSON object.
void PrintPairs(const std::vector<std::pair<std::string, vb::Variant>>& pairs,
                const std::string& nameColumn, const std::string& valueColumn,
                const Options& options, const vb::Locale& locale) {
  const auto writer = MakeWriter(FormatOf(options), std::cout, locale, TerminalWidth());
  std::size_t width = nameColumn.size();
  for (const auto& [name, value] : pairs) width = std::max(width, DisplayWidth(name));
  writer->Begin({{nameColumn, width}, {valueColumn, 0}});
  for (const auto& [name, value] : pairs) writer->Row({name, value});
  writer->End();
}

void RegisterRights(CLI::App& app, Options& options) {
  auto* rights = app.add_subcommand(
      "rights", "List the catalogue of workgroup rights and whether you hold each");
  OnClient(*rights, options, [&options](Client& client) {
    const std::vector<HeldRight> rights = client.Rights();
    const auto writer = MakeWriter(FormatOf(options), std::cout, client.locale(), TerminalWidth());
    writer->Begin({{"Right", 5}, {"Held", 5}, {"Description", 0}});
    for (const HeldRight& right : rights) writer->Row({right.right, right.held, right.name});
    writer->End();
  });
}

void RegisterCan(CLI::App& app, Options& options) {
  auto* can = app.add_subcommand("can", "Show what you may do to an action");
  OnClientTarget(*can, options, [&options](Client& client, int32_t id) {
    const ado::RecordsetPtr rights = client.EditingRights(id);
    std::vector<std::pair<std::string, vb::Variant>> pairs;
    for (int32_t i = 0; i < rights->Fields().Count(); ++i) {
      const ado::Field field = rights->Fields().Item(i);
      pairs.emplace_back(field.Name(), field.Value());
    }
    PrintPairs(pairs, "Permission", "Allowed", options, client.locale());
  });
}

void RegisterWorkgroup(CLI::App& app, Options& options) {
  struct Args {
    int32_t group = 0;
    std::string user;
    std::string name;
    std::optional<std::string> newName;
    std::optional<std::string> rights;
  };
  auto args = std::make_shared<Args>();
  CLI::App* workgroup = AddGroup(app, "workgroup", "Workgroups and their rights (right 43)");

  auto* list = workgroup->add_subcommand("list", "List the workgroups and their right lists");
  OnClient(*list, options, [&options](Client& client) {
    PrintRecordset(std::cout, *client.WorkgroupList(), FormatOf(options), client.locale());
  });

  auto* add = workgroup->add_subcommand(
      "add", "Add a workgroup NAME holding RIGHTS (right numbers, e.g. 50,52,65); prints its ID");
  add->add_option("NAME", args->name, "Workgroup name (unique)")->required();
  add->add_option("RIGHTS", args->newName, "Right numbers separated by commas")->required();
  OnClient(*add, options, [args](Client& client) {
    std::cout << client.WorkgroupAdd(args->name, RightNumbers("RIGHTS", *args->newName)) << '\n';
  });

  auto* edit = workgroup->add_subcommand("edit", "Rename a workgroup or replace its rights");
  edit->add_option("ID", args->group, "Workgroup ID")->required();
  edit->add_option("--name", args->name, "New name");
  edit->add_option("--rights", args->rights, "New right numbers, e.g. 50,52,65");
  OnClient(*edit, options, [args, edit](Client& client) {
    std::optional<std::string> name;
    if (edit->count("--name") > 0) name = args->name;
    std::optional<std::vector<int32_t>> rights;
    if (args->rights) rights = RightNumbers("--rights", *args->rights);
    if (!name && !rights) throw UsageError("workgroup edit: give --name or --rights");
    client.WorkgroupEdit(args->group, name, rights);
    std::cout << "Changed the workgroup " << args->group << ".\n";
  });

  auto* remove = workgroup->add_subcommand("delete", "Delete a workgroup nobody belongs to");
  remove->add_option("ID", args->group, "Workgroup ID")->required();
  OnClient(*remove, options, [args](Client& client) {
    client.WorkgroupDelete(args->group);
    std::cout << "Deleted the workgroup " << args->group << ".\n";
  });

  auto* set = workgroup->add_subcommand("set", "Move USER into workgroup ID");
  set->add_option("USER", args->user, "User ID")->required();
  set->add_option("ID", args->group, "Workgroup ID")->required();
  OnClient(*set, options, [args](Client& client) {
    client.UserEdit(args->user, {std::nullopt, std::nullopt, args->group});
    std::cout << "Moved " << args->user << " to workgroup " << args->group << ".\n";
  });
}

void RegisterFields(CLI::App& app, Options& options) {
  auto* fields = app.add_subcommand(
      "fields", "List the visible columns of the actions table and the validated fields");
  OnSession(*fields, options, [&options](app::Session& session) {
    kvaction::Action& action = session.action();
    const auto visible = action.VisibleFields();
    std::vector<std::pair<std::string, vb::Variant>> pairs;
    for (int32_t i = 1; visible && i <= visible->Count(); ++i) {
      pairs.emplace_back(visible->KeyAt(i), visible->Item(i));
    }
    const auto validated = action.ValidatedFields();
    validated->MoveFirst();
    if (options.json) {
      nlohmann::ordered_json out = {{"visible", nlohmann::ordered_json::object()},
                                    {"validated", nlohmann::ordered_json::object()}};
      for (const auto& [key, field] : pairs) out["visible"][key] = JsonValue(field);
      for (; !validated->IsEOF(); validated->MoveNext()) {
        out["validated"][vb::CStr((*validated)["FieldName"].Value())] =
            JsonValue((*validated)["FieldLabel"].Value());
      }
      std::cout << out.dump(2) << '\n';
      return;
    }
    PrintPairs(pairs, "Key", "Field", options, session.locale());
    std::cout << '\n';
    PrintRecordset(std::cout, *validated, Format::kTable, session.locale());
  });
}

}  // namespace

void RegisterRightsCommands(CLI::App& app, Options& options) {
  RegisterRights(app, options);
  RegisterCan(app, options);
  RegisterWorkgroup(app, options);
  RegisterFields(app, options);
}

}  // namespace cli
