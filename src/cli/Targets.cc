// Actions as the command line names them: by the number users know (ActionNumber), or by
// ActionID with --id.
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "vb/Convert.h"

namespace cli {
namespace {

int32_t ActionIDOf(kvaction::Action& action, const std::string& target, bool byID) {
  const int32_t number = vb::CLng(vb::Variant(target));
  const auto rs =
      action.Recordset("select ActionID from actions where " +
                       std::string(byID ? "ActionID=" : "ActionNumber=") + std::to_string(number));
  if (rs->IsEOF()) NoSuchAction(number, byID);
  return vb::CLng((*rs)["ActionID"].Value());
}

}  // namespace

void NoSuchAction(int32_t value, bool byID) {
  Fail(std::string(byID ? "No action has the ID " : "No action has the number ") +
       std::to_string(value) + ".");
}

void ActionTargets::AddTo(CLI::App& command, bool many) {
  command.add_option("N", numbers, many ? "Action numbers" : "Action number")
      ->required()
      ->expected(1, many ? 1 << 20 : 1)
      ->allow_extra_args(many);
  command.add_flag("--id", byID,
                   many ? "Name actions by ActionID instead of ActionNumber"
                        : "Name the action by ActionID instead of ActionNumber");
}

std::vector<int32_t> ActionTargets::IDsIn(kvaction::Action& action) const {
  std::vector<int32_t> ids;
  for (const std::string& number : numbers) ids.push_back(ActionIDOf(action, number, byID));
  return ids;
}

ado::RecordsetPtr ActionRecord(kvaction::Action& action, int32_t actionID) {
  auto row = action.DataRecord(actionID);
  if (row->IsEOF()) NoSuchAction(actionID, true);
  return row;
}

std::string ActionNumberText(kvaction::Action& action, int32_t actionID) {
  return FieldText((*ActionRecord(action, actionID))["ActionNumber"].Value(), action.Locale());
}

}  // namespace cli
