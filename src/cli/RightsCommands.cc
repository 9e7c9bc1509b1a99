// The rights commands: the catalogue with what the logged-in user holds, the editing rights of
// one action, workgroups, and the field lists; and the checks the other commands make before
// they change anything, since the library itself leaves permissions to its clients.
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "ado/Enums.h"
#include "cli/Cli.h"
#include "kvaction/rights/Rights.h"
#include "kvdata/DataServer.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

[[noreturn]] void Refuse(kvaction::Action& action, std::string_view what) {
  throw vb::ComError(kvaction::kRefused, kSource,
                     fmt::format("Refused: {} may not {}.", action.UserProfile()->UserID(), what));
}

// The editing right that covers a column of the actions table (empty: none does).
std::string_view PermissionOf(std::string_view column) {
  static const std::map<std::string, std::string_view, std::less<>> permissions = [] {
    std::map<std::string, std::string_view, std::less<>> map;
    const std::vector<std::pair<std::vector<std::string_view>, std::string_view>> groups = {
        {{"Subject"}, "EditSubject"},
        {{"Description"}, "EditDescription"},
        {{"Result"}, "EditActionTaken"},
        {{"DateOpened"}, "EditDateOpened"},
        {{"DateDue"}, "EditDateDue"},
        {{"Priority"}, "EditPriority"},
        {{"Category"}, "EditCategory"},
        {{"Assignee", "AssigneeID"}, "EditAssignee"},
        {{"Originator", "OriginatorID"}, "EditOriginator"},
        {{"Reference", "ReferenceID"}, "EditReference"},
        {{"ActionNumber"}, "EditActionNumber"},
        {{"ActionType"}, "EditApprovalRequired"},
        // Completing, closing, reviewing and flagging are the action's status.
        {{"DateCompleted", "DateClosed", "DateRejected", "Reviewed", "Alert"}, "SetStatus"},
    };
    for (const auto& [columns, permission] : groups) {
      for (const std::string_view column : columns) map.emplace(vb::LCase(column), permission);
    }
    return map;
  }();
  const auto found = permissions.find(vb::LCase(column));
  return found == permissions.end() ? std::string_view() : found->second;
}

// The columns of an action's stored row as text, in the session's short date form.
class RowText {
 public:
  RowText(kvaction::Action& action, int32_t actionID)
      : row_(ActionRecord(action, actionID)), locale_(action.Locale()) {}
  [[nodiscard]] std::string operator()(std::string_view column) const {
    return FieldText(row_->Fields().Item(column).Value(), locale_);
  }

 private:
  ado::RecordsetPtr row_;
  const vb::Locale& locale_;
};

// The editing rights of a stored action for the logged-in user. The command works in the
// action's own reference, so that a reference can be edited where right 60 allows it.
ado::RecordsetPtr EditingRightsOf(kvaction::Action& action, int32_t actionID) {
  const RowText text(action, actionID);
  const std::string referenceID = text("ReferenceID");
  const std::string context = action.ReferenceID();
  action.ReferenceID(referenceID);
  auto rights = action.editingRights(text("DateClosed"), text("DateCompleted"), text("AssigneeID"),
                                     text("OriginatorID"), referenceID);
  action.ReferenceID(context);
  return rights;
}

void Print(ado::Recordset& rs, const Options& options) {
  if (rs.RecordCount() > 0) rs.MoveFirst();
  PrintRecordset(std::cout, rs, options);
}

void RegisterRights(CLI::App& app, Options& options) {
  auto* rights = app.add_subcommand(
      "rights", "List the catalogue of workgroup rights and whether the logged-in user holds each");
  OnAction(*rights, options, [&options](kvaction::Action& action) {
    const auto table = Table(
        {{"Right", ado::adInteger}, {"Description", ado::adVarWChar}, {"Held", ado::adBoolean}});
    for (const kvaction::CatalogueRight& entry : kvaction::RightsCatalogue()) {
      table->AddNew({"Right", "Description", "Held"},
                    {static_cast<int32_t>(entry.right), entry.description,
                     action.HasAccess(static_cast<int16_t>(entry.right))});
    }
    Print(*table, options);
  });
}

void RegisterCan(CLI::App& app, Options& options) {
  auto* can = app.add_subcommand(
      "can", "Show what the logged-in user may change in an action (CloseAction is not decided)");
  OnTarget(*can, options, [&options](kvaction::Action& action, int32_t id) {
    const auto rights = EditingRightsOf(action, id);
    const auto table = Table({{"Permission", ado::adVarWChar}, {"Allowed", ado::adBoolean}});
    for (int32_t i = 0; i < rights->Fields().Count(); ++i) {
      const ado::Field field = rights->Fields().Item(i);
      table->AddNew({"Permission", "Allowed"}, {field.Name(), field.Value()});
    }
    Print(*table, options);
  });
}

void RegisterWorkgroup(CLI::App& app, Options& options) {
  struct Args {
    std::string user;
    int32_t group = 0;
    std::string name;
    std::string rights;
  };
  auto args = std::make_shared<Args>();
  CLI::App* workgroup =
      AddGroup(app, "workgroup", "List or add workgroups, or move a user to another");

  auto* list = workgroup->add_subcommand("list", "List the workgroups and their right lists");
  OnAction(*list, options, [&options](kvaction::Action& action) {
    Print(*action.DataServer()->Workgroups()->WorkgroupList(), options);
  });

  auto* add = workgroup->add_subcommand(
      "add",
      "Add a workgroup NAME holding RIGHTS, right numbers separated by commas (needs "
      "\"Workgroup maintenance\"); prints its ID");
  add->add_option("NAME", args->name, "Workgroup name")->required();
  add->add_option("RIGHTS", args->rights, "Right list, e.g. 50,54,55,65")->required();
  OnAction(*add, options, [args](kvaction::Action& action) {
    RequireRight(action, kvaction::arChangeWorkgroups);
    std::cout << action.DataServer()->Workgroups()->CreateWorkgroup(args->name, args->rights)
              << '\n';
  });

  auto* set = workgroup->add_subcommand(
      "set",
      "Move USER into workgroup ID (needs \"Workgroup maintenance\"; only a SuperUser "
      "moves users into or out of SuperUser, -1)");
  set->add_option("USER", args->user, "User ID")->required();
  set->add_option("ID", args->group, "Workgroup ID")->required();
  OnAction(*set, options, [args](kvaction::Action& action) {
    RequireRight(action, kvaction::arChangeWorkgroups);
    action.SetWorkgroup(args->user, args->group);
    // The library passes over a directory that refuses the move; say so here.
    const auto workgroups = action.DataServer()->Workgroups();
    if (workgroups->UserWorkgroup(args->user) != args->group) {
      Fail(fmt::format("The workgroup of {} was not changed: is {} a workgroup?", args->user,
                       args->group));
    }
    std::cout << "Moved " << args->user << " to workgroup " << args->group << ".\n";
  });
}

void RegisterFields(CLI::App& app, Options& options) {
  auto* fields = app.add_subcommand(
      "fields", "List the visible columns of the actions table and the validated fields");
  OnAction(*fields, options, [&options](kvaction::Action& action) {
    const auto visible = action.VisibleFields();
    const auto validated = action.ValidatedFields();
    validated->MoveFirst();
    if (options.json) {
      nlohmann::json out = {{"visible", nlohmann::json::object()},
                            {"validated", nlohmann::json::object()}};
      for (int32_t i = 1; visible && i <= visible->Count(); ++i) {
        out["visible"][visible->KeyAt(i)] = vb::CStr(visible->Item(i));
      }
      for (; !validated->IsEOF(); validated->MoveNext()) {
        out["validated"][vb::CStr(validated->Fields().Item("FieldName").Value())] =
            vb::TextOf(validated->Fields().Item("FieldLabel").Value());
      }
      std::cout << out.dump(2) << '\n';
      return;
    }
    const auto table = Table({{"Key", ado::adVarWChar}, {"Field", ado::adVarWChar}});
    for (int32_t i = 1; visible && i <= visible->Count(); ++i) {
      table->AddNew({"Key", "Field"}, {visible->KeyAt(i), visible->Item(i)});
    }
    Print(*table, options);
    std::cout << '\n';
    PrintRecordset(std::cout, *validated, options);
  });
}

}  // namespace

void RequireRight(kvaction::Action& action, kvaction::ActionRights right) {
  if (action.HasAccess(static_cast<int16_t>(right))) return;
  std::string_view description = "use this command";
  for (const kvaction::CatalogueRight& entry : kvaction::RightsCatalogue()) {
    if (entry.right == right) description = entry.description;
  }
  Refuse(action, fmt::format("do this without the right \"{}\"", description));
}

void RequireEditRights(kvaction::Action& action, int32_t actionID,
                       const std::vector<std::string>& columns) {
  if (columns.empty()) return;
  const auto rights = EditingRightsOf(action, actionID);
  for (const std::string& column : columns) {
    const std::string_view permission = PermissionOf(column);
    const bool allowed =
        !permission.empty() && vb::CBool(rights->Fields().Item(permission).Value());
    if (!allowed) {
      Refuse(action,
             fmt::format("change {} of action {}", column, ActionNumberText(action, actionID)));
    }
  }
}

void RequireDeletePermission(kvaction::Action& action, int32_t actionID) {
  const RowText text(action, actionID);
  if (!action.PermitDeleteAction(text("AssigneeID"), text("OriginatorID"))) {
    Refuse(action, "delete action " + text("ActionNumber"));
  }
}

void RegisterRightsCommands(CLI::App& app, Options& options) {
  RegisterRights(app, options);
  RegisterCan(app, options);
  RegisterWorkgroup(app, options);
  RegisterFields(app, options);
}

}  // namespace cli
