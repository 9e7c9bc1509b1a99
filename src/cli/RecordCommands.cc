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
#include "vb/Convert.h"

namespace cli {
namespace {

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
  ActionTargets targets;  ///< the actions delete names
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
  std::vector<std::pair<std::string, ado::DataTypeEnum>> columns;
  std::vector<std::string> names;
  std::vector<vb::Variant> values;
  const auto add = [&](std::string name, ado::DataTypeEnum type, vb::Variant value) {
    columns.emplace_back(name, type);
    names.push_back(std::move(name));
    values.push_back(std::move(value));
  };
  if (actionID != 0) add("actionID", ado::adInteger, actionID);
  for (std::size_t i = 0; i < EditableColumns().size(); ++i) {
    if (!args.values[i]) continue;
    const Column& column = EditableColumns()[i];
    const vb::Variant value = ValueOf(column, *args.values[i], action.Locale());
    add(column.name, TypeOf(column.kind), value);
    if (column.name == std::string_view(kAssignee.name)) {
      add("Assignee", ado::adLongVarWChar,
          value.IsNull() ? value : action.User()->UserField(vb::CStr(value), "UserName"));
    }
  }
  auto rs = Table(columns);
  rs->AddNew(names, values);
  return rs;
}

/// A record set printed as JSON (PrintRecordset's form).
nlohmann::json JsonOf(ado::Recordset& rs, const Options& options) {
  std::ostringstream text;
  PrintRecordset(text, rs, options);
  return nlohmann::json::parse(text.str());
}

void Show(kvaction::Action& action, int32_t actionID, const Options& options) {
  const auto row = ActionRecord(action, actionID);
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
  command->add_option("--results", args->results, "A note on what was done");
  OnTarget(*command, options, [args, complete](kvaction::Action& action, int32_t id) {
    RequireEditRights(action, id, {complete ? "DateCompleted" : "DateClosed"});
    action.setStatus(id, nullptr, complete, !complete, args->results);
  });
}

}  // namespace

void RegisterRecordCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<RecordArgs>();

  auto* add = app.add_subcommand("add", "Create an action; prints its number");
  AddColumns(*add, *args);
  OnAction(*add, options, [args](kvaction::Action& action) {
    const int32_t id = action.addRecord(nullptr, ValueSet(action, *args, 0));
    if (id == 0) Fail("No action was created.");
    std::cout << ActionNumberText(action, id) << '\n';
  });

  auto* show = app.add_subcommand("show", "Show an action and its history");
  OnTarget(*show, options,
           [&options](kvaction::Action& action, int32_t id) { Show(action, id, options); });

  auto* edit = app.add_subcommand("edit", "Change columns of an action (an empty value clears)");
  AddColumns(*edit, *args);
  OnTarget(*edit, options, [args](kvaction::Action& action, int32_t id) {
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
  OnTarget(*copy, options, [](kvaction::Action& action, int32_t id) {
    ado::RecordsetPtr rs = action.DataRecord(id);
    const int32_t copied = action.copyRecord(&rs);
    if (copied == 0) Fail("No copy was created.");
    std::cout << ActionNumberText(action, copied) << '\n';
  });

  auto* remove = app.add_subcommand("delete", "Delete actions");
  args->targets.AddTo(*remove, true);
  OnAction(*remove, options, [args](kvaction::Action& action) {
    const std::vector<int32_t> ids = args->targets.IDsIn(action);
    for (const int32_t id : ids) RequireDeletePermission(action, id);
    auto list = Table({{"ActionID", ado::adInteger}});
    for (const int32_t id : ids) list->AddNew({"ActionID"}, {id});
    list->MoveFirst();
    action.delete_(0, nullptr, &list);
    std::cout << "Deleted " << ids.size() << (ids.size() == 1 ? " action.\n" : " actions.\n");
  });
}

}  // namespace cli
