// The commands on single actions: add, show, edit, complete, close, copy and delete. Actions are
// named by the number users know (ActionNumber), or by ActionID with --id.
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ado/Enums.h"
#include "cli/Cli.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

constexpr const char* kSource = "kvaction";

/// How a column's value is read from the command line.
enum class Kind { kText, kDate, kNumber, kFlag };

/// A column that add and edit can set, and its option.
struct Column {
  const char* option;
  const char* name;
  Kind kind;
  const char* help;
};

// Assignee is given as a user ID; the display name is read from the user directory.
constexpr Column kAssignee{"--assignee", "AssigneeID", Kind::kText, "The assignee's user ID"};

const std::vector<Column>& EditableColumns() {
  static const std::vector<Column> columns = {
      {"--subject", "Subject", Kind::kText, "Subject"},
      kAssignee,
      {"--due", "DateDue", Kind::kDate, "Due date (short date form)"},
      {"--category", "Category", Kind::kText, "Category"},
      {"--priority", "Priority", Kind::kText, "Priority"},
      {"--description", "Description", Kind::kText, "What is to be done"},
      {"--reference", "Reference", Kind::kText, "Reference text"},
      {"--result", "Result", Kind::kText, "The action taken"},
      {"--opened", "DateOpened", Kind::kDate, "Day opened (short date form)"},
      {"--completed", "DateCompleted", Kind::kDate, "Day completed (short date form)"},
      {"--closed", "DateClosed", Kind::kDate, "Day closed (short date form)"},
      {"--rejected", "DateRejected", Kind::kDate, "Day of the latest review move"},
      {"--reviewed", "Reviewed", Kind::kNumber,
       "Review status (0, 1, 2, 10, 11, 12, 40-42, 50-52)"},
      {"--alert", "Alert", Kind::kFlag, "Alert pending: true or false"},
      {"--type", "ActionType", Kind::kNumber, "0 approval required, 1 acknowledge only"},
  };
  return columns;
}

/// What the commands were given.
struct RecordArgs {
  std::vector<std::string> targets;  // action numbers (or IDs with --id)
  bool byID = false;
  std::string results;
  /// Column values as typed, by position in EditableColumns(); an empty text clears.
  std::vector<std::optional<std::string>> values =
      std::vector<std::optional<std::string>>(EditableColumns().size());
};

/// The value of a column as typed, in the session's short date form; empty is Null.
vb::Variant ValueOf(const Column& column, const std::string& text, const vb::Locale& locale) {
  if (text.empty()) return vb::Null;
  switch (column.kind) {
    case Kind::kDate:
      return vb::DateValue(text, locale);
    case Kind::kNumber:
      return vb::CLng(vb::Variant(text));
    case Kind::kFlag:
      return vb::CBool(vb::Variant(text));
    case Kind::kText:
      break;
  }
  return text;
}

ado::DataTypeEnum TypeOf(Kind kind) {
  switch (kind) {
    case Kind::kDate:
      return ado::adDate;
    case Kind::kNumber:
      return ado::adInteger;
    case Kind::kFlag:
      return ado::adBoolean;
    case Kind::kText:
      break;
  }
  return ado::adLongVarWChar;
}

/// A one-row in-memory record set of the columns given (and the assignee's name with the ID),
/// led by actionID when it is not 0.
ado::RecordsetPtr ValueSet(kvaction::Action& action, const RecordArgs& args, int32_t actionID) {
  std::vector<std::pair<std::string, vb::Variant>> cells;
  std::vector<ado::DataTypeEnum> types;
  if (actionID != 0) {
    cells.emplace_back("actionID", actionID);
    types.push_back(ado::adInteger);
  }
  for (std::size_t i = 0; i < EditableColumns().size(); ++i) {
    if (!args.values[i]) continue;
    const Column& column = EditableColumns()[i];
    cells.emplace_back(column.name, ValueOf(column, *args.values[i], action.Locale()));
    types.push_back(TypeOf(column.kind));
    if (column.name == std::string_view(kAssignee.name)) {
      const vb::Variant& id = cells.back().second;
      cells.emplace_back("Assignee",
                         id.IsNull() ? id : action.User()->UserField(vb::CStr(id), "UserName"));
      types.push_back(ado::adLongVarWChar);
    }
  }
  auto rs = ado::Recordset::Create();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    rs->Fields().Append(cells[i].first, types[i], 0, ado::adFldUpdatable | ado::adFldIsNullable);
  }
  rs->Open(ado::adOpenStatic, ado::adLockOptimistic);
  rs->AddNew();
  for (const auto& [name, value] : cells) (*rs)[name].Value(value);
  rs->Update();
  return rs;
}

}  // namespace

int32_t ActionIDOf(kvaction::Action& action, const std::string& target, bool byID) {
  const int32_t number = vb::CLng(vb::Variant(target));
  const auto rs =
      action.Recordset("select ActionID from actions where " +
                       std::string(byID ? "ActionID=" : "ActionNumber=") + std::to_string(number));
  if (rs->IsEOF()) {
    throw vb::ComError(vb::kInvalidProcedureCall, kSource,
                       std::string(byID ? "No action has the ID " : "No action has the number ") +
                           std::to_string(number) + ".");
  }
  return vb::CLng((*rs)["ActionID"].Value());
}

namespace {

int32_t NumberOf(kvaction::Action& action, int32_t actionID) {
  return vb::CLng((*action.DataRecord(actionID))["ActionNumber"].Value());
}

/// A record set printed as JSON (PrintRecordset's form).
nlohmann::json JsonOf(ado::Recordset& rs, const Options& options) {
  std::ostringstream text;
  PrintRecordset(text, rs, options);
  return nlohmann::json::parse(text.str());
}

void Show(kvaction::Action& action, int32_t actionID, const Options& options) {
  const auto row = action.DataRecord(actionID);
  const auto history = action.Recordset(
      "select EventCode, EventText, UserID, EventTime from ActionEvents where ActionID=" +
      std::to_string(actionID) + " order by EventID");
  if (options.json) {
    nlohmann::json shown = {{"action", JsonOf(*row, options).at(0)},
                            {"history", JsonOf(*history, options)}};
    std::cout << shown.dump(2) << '\n';
    return;
  }
  PrintRecordset(std::cout, *row, options);
  std::cout << '\n';
  PrintRecordset(std::cout, *history, options);
}

void AddTargets(CLI::App& command, RecordArgs& args, bool many) {
  command.add_option("N", args.targets, many ? "Action numbers" : "Action number")
      ->required()
      ->expected(1, many ? 1 << 20 : 1);
  command.add_flag("--id", args.byID, "Name actions by ActionID instead of ActionNumber");
}

void AddColumns(CLI::App& command, RecordArgs& args) {
  for (std::size_t i = 0; i < EditableColumns().size(); ++i) {
    const Column& column = EditableColumns()[i];
    command.add_option(column.option, args.values[i], column.help);
  }
}

void RegisterSetStatus(CLI::App& app, Options& options, const std::shared_ptr<RecordArgs>& args,
                       const char* name, bool complete) {
  auto* command = app.add_subcommand(
      name, complete ? "Mark an action completed (today)" : "Close an action (today)");
  AddTargets(*command, *args, false);
  command->add_option("--results", args->results, "A note on what was done");
  command->callback([args, &options, complete] {
    Session session(options);
    kvaction::Action& action = session.action();
    const int32_t id = ActionIDOf(action, args->targets.front(), args->byID);
    RequireEditRights(action, id, {complete ? "DateCompleted" : "DateClosed"});
    action.setStatus(id, nullptr, complete, !complete, args->results);
  });
}

}  // namespace

void RegisterRecordCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<RecordArgs>();

  auto* add = app.add_subcommand("add", "Create an action; prints its number");
  AddColumns(*add, *args);
  add->callback([args, &options] {
    Session session(options);
    kvaction::Action& action = session.action();
    const int32_t id = action.addRecord(nullptr, ValueSet(action, *args, 0));
    if (id == 0) throw vb::ComError(vb::kInvalidProcedureCall, kSource, "No action was created.");
    std::cout << NumberOf(action, id) << '\n';
  });

  auto* show = app.add_subcommand("show", "Show an action and its history");
  AddTargets(*show, *args, false);
  show->callback([args, &options] {
    Session session(options);
    Show(session.action(), ActionIDOf(session.action(), args->targets.front(), args->byID),
         options);
  });

  auto* edit = app.add_subcommand("edit", "Change columns of an action (an empty value clears)");
  AddTargets(*edit, *args, false);
  AddColumns(*edit, *args);
  edit->callback([args, &options] {
    Session session(options);
    kvaction::Action& action = session.action();
    const int32_t id = ActionIDOf(action, args->targets.front(), args->byID);
    std::vector<std::string> changed;
    for (std::size_t i = 0; i < EditableColumns().size(); ++i) {
      if (args->values[i]) changed.emplace_back(EditableColumns()[i].name);
    }
    RequireEditRights(action, id, changed);
    action.updateRecord(ValueSet(action, *args, id));
  });

  RegisterSetStatus(app, options, args, "complete", true);
  RegisterSetStatus(app, options, args, "close", false);

  auto* copy = app.add_subcommand("copy", "Copy an action; prints the copy's number");
  AddTargets(*copy, *args, false);
  copy->callback([args, &options] {
    Session session(options);
    kvaction::Action& action = session.action();
    ado::RecordsetPtr rs = action.DataRecord(ActionIDOf(action, args->targets.front(), args->byID));
    const int32_t id = action.copyRecord(&rs);
    if (id == 0) throw vb::ComError(vb::kInvalidProcedureCall, kSource, "No copy was created.");
    std::cout << NumberOf(action, id) << '\n';
  });

  auto* remove = app.add_subcommand("delete", "Delete actions");
  AddTargets(*remove, *args, true);
  remove->callback([args, &options] {
    Session session(options);
    kvaction::Action& action = session.action();
    std::vector<int32_t> ids;
    for (const auto& target : args->targets) {
      ids.push_back(ActionIDOf(action, target, args->byID));
      RequireDeletePermission(action, ids.back());
    }
    auto list = ado::Recordset::Create();
    list->Fields().Append("ActionID", ado::adInteger);
    list->Open(ado::adOpenStatic, ado::adLockOptimistic);
    for (const int32_t id : ids) list->AddNew({"ActionID"}, {id});
    list->MoveFirst();
    action.delete_(0, nullptr, &list);
    std::cout << "Deleted " << ids.size() << (ids.size() == 1 ? " action.\n" : " actions.\n");
  });
}

}  // namespace cli
