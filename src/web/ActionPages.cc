// One action's pages: reading it, the edit form with its merge and conflict page, the review
// moves and the attachments; creating, copying and deleting actions. Each only translates between
// the form and app/; the rules (rights, input checks, history) live there, and these pages only
// offer what app/ would allow.
#include "web/ActionPages.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/Actions.h"
#include "app/Attachments.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "vb/Convert.h"

namespace web {
namespace {

// The label of an edit form's column: user-ID columns read as their role.
std::string FormLabel(app::Session& session, const std::string& column) {
  if (column == "AssigneeID") return app::LabelOf(session, "Assignee") + " (user ID)";
  if (column == "OriginatorID") return app::LabelOf(session, "Originator") + " (user ID)";
  return app::LabelOf(session, column);
}

bool IsLongText(std::string_view column) { return column == "Description" || column == "Result"; }

mstch::array AttachmentsOf(Visit& visit, int32_t actionID) {
  mstch::array attachments;
  for (const auto& fact : app::AttachmentFactsOf(visit.session, actionID)) {
    const std::string id = std::to_string(fact.attachmentID);
    std::string href;
    if (fact.content) {
      href = "/attachment/" + id;
    } else if (app::IsWebLink(fact.name)) {
      href = fact.name;
    }
    attachments.emplace_back(
        mstch::map{{"attachmentID", id},
                   {"description", fact.description.empty() ? fact.name : fact.description},
                   {"name", fact.name},
                   {"content", fact.content},
                   {"size", app::SizeText(fact.size)},
                   {"type", fact.mediaType},
                   {"image", fact.image},
                   {"preview", "/attachment/" + id + "/preview"},
                   {"href", href},
                   {"hasHref", !href.empty()}});
  }
  return attachments;
}

// The values of a form's columns: NAME and base.NAME for each column of the edit form.
struct FormValues {
  app::FieldTexts changes;
  app::FieldTexts basedOn;
};
FormValues FormValuesOf(Visit& visit, int32_t actionID) {
  FormValues values;
  for (const auto& column : app::EditColumns(visit.session, actionID)) {
    if (!visit.request.has_param(column.column)) continue;
    const std::string mine = Param(visit.request, column.column);
    const std::string base = Param(visit.request, "base." + column.column);
    values.basedOn.emplace_back(column.column, base);
    if (mine != base) values.changes.emplace_back(column.column, mine);
  }
  return values;
}

void SendConflicts(Visit& visit, int32_t actionID, const FormValues& values,
                   const app::EditResult& result) {
  mstch::array conflicts;
  for (const auto& conflict : result.conflicts) {
    conflicts.emplace_back(mstch::map{{"label", FormLabel(visit.session, conflict.column)},
                                      {"base", conflict.base},
                                      {"mine", conflict.mine},
                                      {"theirs", conflict.theirs}});
  }
  // Keeping one's own values means editing again from what is stored now.
  const auto row = app::Show(visit.session, actionID);
  mstch::array keep;
  for (const auto& [column, mine] : values.changes) {
    keep.emplace_back(
        mstch::map{{"column", column}, {"mine", mine}, {"current", Text(visit, *row, column)}});
  }
  SendPage(visit, "conflict", "Conflicting changes",
           {{"id", std::to_string(actionID)},
            {"number", Text(visit, *row, "ActionNumber")},
            {"conflicts", conflicts},
            {"keep", keep}});
}

}  // namespace

void ActionPage(Visit& visit, int32_t actionID) {
  auto& session = visit.session;
  const app::ActionView view = app::ViewOf(session, actionID);
  mstch::array fields;
  bool canEdit = false;
  for (const auto& field : view.fields) {
    canEdit = canEdit || field.editable;
    // The number and subject head the page; the notes are the conversation.
    if (!field.visible || field.column == "ActionNumber" || field.column == "Subject" ||
        field.column == "Results") {
      continue;
    }
    fields.emplace_back(mstch::map{
        {"label", field.label}, {"value", field.text}, {"long", IsLongText(field.column)}});
  }
  mstch::array moves;
  for (const auto& move : view.moves) {
    moves.emplace_back(mstch::map{{"name", move.name}, {"title", move.title}});
  }
  mstch::array conversation;
  for (const auto& entry : view.conversation) {
    conversation.emplace_back(mstch::map{{"who", entry.who.empty() ? "Earlier notes" : entry.who},
                                         {"when", entry.when},
                                         {"move", entry.move},
                                         {"text", entry.text}});
  }
  mstch::array history;
  for (const auto& entry : view.history.value_or(std::vector<app::HistoryEntry>{})) {
    history.emplace_back(mstch::map{
        {"time", app::ValueText(session, entry.when)}, {"user", entry.who}, {"text", entry.text}});
  }
  mstch::array attachments = AttachmentsOf(visit, actionID);
  const std::string number = std::to_string(view.number);
  mstch::map context{
      {"id", std::to_string(actionID)},
      {"number", number},
      {"actionLabel", app::LabelOf(session, "Action")},
      {"subject", view.subject},
      {"status", view.status.status},
      {"dueText", view.status.dueText},
      {"fields", fields},
      {"moves", moves},
      {"hasMoves", !moves.empty()},
      {"canEdit", canEdit},
      {"conversation", conversation},
      {"hasConversation", !conversation.empty()},
      {"history", history},
      {"historyAllowed", view.history.has_value()},
      {"attachments", attachments},
      {"hasAttachments", !attachments.empty()},
      {"canAttach", canEdit},
      {"maxUpload", std::to_string(visit.site.options.maxUploadBytes / 1024 / 1024)}};
  AddStateOf(view.state, context);
  AddActionControls(visit, actionID, context);
  SendPage(visit, "action", app::LabelOf(session, "Action") + " " + number, std::move(context));
}

namespace {

// The edit form with the stored values, or, after a value was refused, with what was typed and
// the reason, so that nothing typed is lost and the edit stays based on what was first shown.
void SendEditForm(Visit& visit, int32_t actionID, const FormValues& typed = {},
                  const std::string& message = {}) {
  auto& session = visit.session;
  const auto row = app::Show(session, actionID);
  mstch::array fields;
  for (const auto& column : app::EditColumns(session, actionID)) {
    const std::string* base = TypedText(typed.basedOn, column.column);
    const std::string* mine = TypedText(typed.changes, column.column);
    const std::string shown = base ? *base : Text(visit, *row, column.column);
    fields.emplace_back(mstch::map{{"column", column.column},
                                   {"label", FormLabel(session, column.column)},
                                   {"base", shown},
                                   {"value", mine ? *mine : shown},
                                   {"editable", column.editable},
                                   {"long", IsLongText(column.column)}});
  }
  SendPage(visit, "edit", "Edit " + Text(visit, *row, "ActionNumber"),
           {{"id", std::to_string(actionID)},
            {"number", Text(visit, *row, "ActionNumber")},
            {"fields", fields},
            {"message", message},
            {"hasMessage", !message.empty()},
            {"dateForm", session.locale().ShortDatePattern()}});
}

}  // namespace

void EditForm(Visit& visit, int32_t actionID) { SendEditForm(visit, actionID); }

void EditSave(Visit& visit, int32_t actionID) {
  const FormValues values = FormValuesOf(visit, actionID);
  app::EditResult result;
  try {
    result = app::Edit(visit.session, actionID, values.changes, values.basedOn);
  } catch (const vb::ComError& error) {
    if (app::KindOf(error) != app::ErrorKind::InvalidInput) throw;
    visit.response.status = 400;
    return SendEditForm(visit, actionID, values, error.description());
  }
  if (!result.stored) return SendConflicts(visit, actionID, values, result);
  Redirect(visit.response, fmt::format("/action/{}", actionID));
}

void MoveAction(Visit& visit, int32_t actionID) {
  app::Move(visit.session, actionID, Param(visit.request, "move"), Param(visit.request, "note"));
  Redirect(visit.response, fmt::format("/action/{}", actionID));
}

void AttachmentUpload(Visit& visit, int32_t actionID) {
  app::NewAttachment attachment;
  attachment.description = Param(visit.request, "description");
  if (visit.request.has_file("file") && !visit.request.get_file_value("file").filename.empty()) {
    const auto file = visit.request.get_file_value("file");
    if (file.content.size() > visit.site.options.maxUploadBytes) {
      throw app::Invalid("file", file.filename,
                         fmt::format("at most {} bytes", visit.site.options.maxUploadBytes));
    }
    attachment = app::FileAttachment(file.filename, attachment.description, file.content);
  } else {
    attachment.url = Param(visit.request, "url");
  }
  (void)app::AttachmentAdd(visit.session, actionID, attachment);
  Redirect(visit.response, fmt::format("/action/{}", actionID));
}

void AttachmentDownload(Visit& visit, int32_t attachmentID) {
  visit.response.set_header("Content-Disposition",
                            fmt::format("attachment; filename=\"attachment-{}\"", attachmentID));
  visit.response.set_content(app::AttachmentBytes(visit.session, attachmentID),
                             "application/octet-stream");
}

void AttachmentPreviewImage(Visit& visit, int32_t attachmentID) {
  app::PreviewImage image = app::AttachmentPreview(visit.session, attachmentID);
  // Shown in the page only, never as a document of its own.
  visit.response.set_header("Content-Disposition", "inline");
  visit.response.set_header("Cache-Control", "private, max-age=300");
  visit.response.set_content(std::move(image.bytes), image.mediaType);
}

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

void OldActionLink(Visit& visit) {
  const std::string& target = visit.request.target;
  const size_t mark = target.find('?');
  const auto id =
      app::ActionIDOfLink(mark == std::string::npos ? std::string_view() : target.substr(mark + 1));
  // The old program's other pages, and a link without an action, start at the person's list.
  Redirect(visit.response, id ? fmt::format("/action/{}", *id) : std::string("/"));
}

}  // namespace web
