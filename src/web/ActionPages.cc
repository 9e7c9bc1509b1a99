// Creating, copying and deleting actions and removing attachments. The rights are app/'s to
// decide; these pages only offer what it would allow and pass the forms on.
#include <fmt/format.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Actions.h"
#include "app/Attachments.h"
#include "app/Errors.h"
#include "app/Profile.h"
#include "app/Rights.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "vb/Convert.h"
#include "web/MorePages.h"

namespace web {
namespace {

// The fields a person sets on a new action, in form order; the rest take the library's defaults.
struct NewField {
  std::string column;
  bool required = false;
  bool longText = false;
};
const std::vector<NewField>& NewFields() {
  static const std::vector<NewField> fields = {
      {"Subject", true, false},   {"AssigneeID", false, false}, {"DateDue", false, false},
      {"Category", false, false}, {"Priority", false, false},   {"Description", false, true}};
  return fields;
}

std::string NewFieldLabel(Visit& visit, const std::string& column) {
  if (column == "AssigneeID") return app::LabelOf(visit.session, "Assignee") + " (user ID)";
  return app::LabelOf(visit.session, column);
}

// What an empty due date becomes: the person's offset from today, else the database's.
std::string DueHint(Visit& visit) {
  const int32_t days = app::PersonalValuesOf(visit.session).defaultDueDays;
  if (days == 0) return "Leave empty for the database's default due date.";
  const vb::Date due = visit.session.action().Clock().Today().AddDays(days);
  return fmt::format("Leave empty for your default, {} days from today ({}).", days,
                     visit.session.locale().FormatShortDate(due));
}

void SendNewForm(Visit& visit, const app::FieldTexts& values, const std::string& message = {}) {
  mstch::array fields;
  for (const auto& field : NewFields()) {
    const std::string* value = TypedText(values, field.column);
    fields.emplace_back(mstch::map{{"column", field.column},
                                   {"label", NewFieldLabel(visit, field.column)},
                                   {"value", value ? *value : std::string()},
                                   {"required", field.required},
                                   {"long", field.longText},
                                   {"isDue", field.column == "DateDue"}});
  }
  SendPage(visit, "new", "New " + app::LabelOf(visit.session, "Action"),
           {{"fields", fields},
            {"actionLabel", app::LabelOf(visit.session, "Action")},
            {"dueHint", DueHint(visit)},
            {"message", message},
            {"hasMessage", !message.empty()},
            {"dateForm", visit.session.locale().ShortDatePattern()}});
}

bool CanDelete(Visit& visit, int32_t actionID) {
  const auto rights = app::EditingRights(visit.session, actionID);
  return vb::CBool((*rights)["DeleteAction"].Value());
}

std::string ActionPath(int32_t actionID) { return fmt::format("/action/{}", actionID); }

}  // namespace

void NewActionForm(Visit& visit) {
  if (!app::Can(visit.session, kvaction::arAddActions)) {
    throw app::Refusal("adding an action", kvaction::arAddActions);
  }
  SendNewForm(visit, {{"AssigneeID", visit.session.userID()}});
}

void NewActionSave(Visit& visit) {
  app::FieldTexts values;
  for (const auto& field : NewFields()) {
    const std::string text = Param(visit.request, field.column);
    if (!text.empty()) values.emplace_back(field.column, text);
  }
  try {
    Redirect(visit.response, ActionPath(app::Add(visit.session, values)));
  } catch (const vb::ComError& error) {
    // A wrong value comes back in the form with everything typed, so nothing is lost.
    if (app::KindOf(error) != app::ErrorKind::InvalidInput) throw;
    visit.response.status = 400;
    SendNewForm(visit, values, error.description());
  }
}

void CopyAction(Visit& visit, int32_t actionID) {
  Redirect(visit.response, ActionPath(app::Copy(visit.session, actionID)));
}

void DeleteConfirm(Visit& visit, int32_t actionID) {
  const auto row = app::Show(visit.session, actionID);
  // No question is asked that the answer would be refused for.
  if (!CanDelete(visit, actionID)) {
    throw app::RefusalText("Refused: your rights on this action do not include deleting it.");
  }
  int32_t attachments = 0;
  for (auto list = app::AttachmentList(visit.session, actionID); list && !list->IsEOF();
       list->MoveNext()) {
    ++attachments;
  }
  const std::string number = app::ValueText(visit.session, (*row)["ActionNumber"].Value());
  SendPage(visit, "delete", "Delete " + number,
           {{"id", std::to_string(actionID)},
            {"number", number},
            {"actionLabel", app::LabelOf(visit.session, "Action")},
            {"subject", app::ValueText(visit.session, (*row)["Subject"].Value())},
            {"attachments", std::to_string(attachments)},
            {"hasAttachments", attachments > 0}});
}

void DeleteAction(Visit& visit, int32_t actionID) {
  app::Delete(visit.session, actionID);
  Redirect(visit.response, "/");
}

void AttachmentRemove(Visit& visit, int32_t attachmentID) {
  const std::string action = Param(visit.request, "action");
  const std::string back = action.empty() ? "/" : ActionPath(IdOf(action, "action"));
  app::AttachmentRemove(visit.session, attachmentID);
  Redirect(visit.response, back);
}

void AddActionControls(Visit& visit, int32_t actionID, mstch::map& context) {
  context.emplace("canCopy", app::Can(visit.session, kvaction::arAddActions));
  context.emplace("canDelete", CanDelete(visit, actionID));
}

}  // namespace web
