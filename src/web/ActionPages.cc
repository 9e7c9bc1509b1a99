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
#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Forms.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "kvaction/Enums.h"
#include "vb/Convert.h"
#include "web/TeamPages.h"

namespace web {
namespace {

// The label of a form's column: user-ID columns read as their role.
std::string FormLabel(app::Session& session, const std::string& column) {
  if (column == "AssigneeID") return app::LabelOf(session, "Assignee");
  if (column == "OriginatorID") return app::LabelOf(session, "Originator");
  return app::LabelOf(session, column);
}

// One field of a new or edit form: the column, the value shown, and the value the edit started
// from (editing only).
struct FormField {
  std::string column;
  std::string value;
  bool editable = true;
  bool required = false;
  const std::string* base = nullptr;
  std::string hint;
};

const app::FieldError* ErrorOf(const app::FieldErrors& errors, const std::string& column) {
  const auto found = std::find_if(errors.begin(), errors.end(),
                                  [&](const app::FieldError& e) { return e.column == column; });
  return found == errors.end() ? nullptr : &*found;
}

mstch::array Options(const std::vector<std::pair<std::string, std::string>>& values,
                     const std::string& selected) {
  mstch::array options;
  for (const auto& [value, text] : values) {
    options.emplace_back(
        mstch::map{{"value", value}, {"text", text}, {"selected", value == selected}});
  }
  return options;
}

// A field as HTML (form-field.mustache): people picked from a list of names, validated columns
// from their valid values, dates as date inputs, each with its error beside it.
std::string FieldHtml(Visit& visit, const FormField& field, const app::FieldErrors& errors) {
  auto& session = visit.session;
  const app::FieldKind kind = app::FieldKindOf(session, field.column);
  const std::string type = kind == app::FieldKind::Date ? "date" : "text";
  std::string hint = field.hint;
  std::vector<std::pair<std::string, std::string>> choices;  // value, text
  bool select = false;
  if (field.editable && kind == app::FieldKind::Person) {
    for (const auto& person : app::PeopleToPick(session)) {
      choices.emplace_back(person.id, person.name);
    }
    if (!choices.empty()) hint = "A user ID: type part of a name to pick from the list.";
  } else if (field.editable && kind == app::FieldKind::Choice) {
    for (const auto& value : app::ValidValues(session, field.column)) {
      choices.emplace_back(value, value);
    }
    select = !choices.empty() && !app::MayAddValidValues(session);
    if (select) {
      // A value stored before the list had it stays choosable, so the form shows the truth.
      if (!field.value.empty() && std::none_of(choices.begin(), choices.end(),
                                               [&](auto& c) { return c.first == field.value; })) {
        choices.emplace_back(field.value, field.value + " (not in the list)");
      }
      choices.insert(choices.begin(), {"", "(none)"});
    } else if (!choices.empty()) {
      hint = "Pick one of the list, or type a new value.";
    }
  }
  const app::FieldError* error = ErrorOf(errors, field.column);
  std::vector<std::string> described;
  if (!hint.empty()) described.push_back("h-" + field.column);
  if (error) described.push_back("e-" + field.column);
  const bool list = !select && !choices.empty();
  mstch::map context{{"column", field.column},
                     {"label", FormLabel(session, field.column)},
                     {"value", field.value},
                     {"editable", field.editable},
                     {"required", field.required},
                     {"hasBase", field.base != nullptr && field.editable},
                     {"base", field.base ? *field.base : std::string()},
                     {"long", kind == app::FieldKind::MultiLine},
                     {"select", select},
                     {"options", select ? Options(choices, field.value) : mstch::array()},
                     {"input", kind != app::FieldKind::MultiLine && !select},
                     {"type", type},
                     {"list", list},
                     {"suggestions", list ? Options(choices, {}) : mstch::array()},
                     {"hint", hint},
                     {"error", error ? error->message : std::string()},
                     {"describedBy", fmt::format("{}", fmt::join(described, " "))}};
  return RenderTemplate("form-field", context);
}

// The list of errors above a form, each a link to its field, in the form's order of fields
// (columns; the form's own problems last).
std::string ErrorsHtml(Visit& visit, app::FieldErrors errors,
                       const std::vector<std::string>& columns) {
  const auto place = [&](const app::FieldError& error) {
    return std::find(columns.begin(), columns.end(), error.column) - columns.begin();
  };
  std::stable_sort(errors.begin(), errors.end(),
                   [&](const auto& a, const auto& b) { return place(a) < place(b); });
  std::vector<ShownError> shown;
  for (const auto& error : errors) {
    shown.push_back({error.column.empty() ? std::string() : "f-" + error.column,
                     FormLabel(visit.session, error.column), error.message});
  }
  return ErrorListHtml(shown);
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

// The conflict page: who changed the action since the form was opened and when; for each field
// both of them changed, both values and a choice; the person's other changes, which are saved
// whichever values are chosen.
void SendConflicts(Visit& visit, int32_t actionID, const FormValues& values,
                   const app::EditResult& result, int32_t since) {
  auto& session = visit.session;
  const auto row = app::Show(session, actionID);
  mstch::array people;
  for (const auto& person : app::ChangesSince(session, actionID, since)) {
    people.emplace_back(mstch::map{{"name", person.name.empty() ? person.userID : person.name},
                                   {"when", person.when}});
  }
  const auto conflicting = [&](const std::string& column) {
    return std::any_of(result.conflicts.begin(), result.conflicts.end(),
                       [&](const app::Conflict& c) { return vb::EqualsText(c.column, column); });
  };
  mstch::array conflicts;
  mstch::array kept;
  for (const auto& [column, mine] : values.changes) {
    // Each choice is an edit based on what is stored now: "theirs" sends no change.
    const std::string current = app::FormValue(session, *row, column);
    const std::string label = FormLabel(session, column);
    if (!conflicting(column)) {
      kept.emplace_back(mstch::map{{"column", column},
                                   {"label", label},
                                   {"mine", mine},
                                   {"shown", app::ShownFormText(session, column, mine)},
                                   {"current", current}});
      continue;
    }
    const std::string* base = TypedText(values.basedOn, column);
    conflicts.emplace_back(
        mstch::map{{"column", column},
                   {"label", label},
                   {"base", app::ShownFormText(session, column, base ? *base : std::string())},
                   {"mine", mine},
                   {"mineShown", app::ShownFormText(session, column, mine)},
                   {"theirs", current},
                   {"theirsShown", app::ShownFormText(session, column, current)}});
  }
  const std::string number = Text(visit, *row, "ActionNumber");
  SendPage(visit, "conflict", "Conflicting changes",
           {{"id", std::to_string(actionID)},
            {"number", number},
            {"actionLabel", app::LabelOf(session, "Action")},
            {"since", std::to_string(app::LatestEvent(session, actionID))},
            {"people", people},
            {"hasPeople", !people.empty()},
            {"conflicts", conflicts},
            {"kept", kept},
            {"hasKept", !kept.empty()}});
}

}  // namespace

namespace {

// The action's page; after a comment was refused, with the text typed and the reason beside it.
void SendActionPage(Visit& visit, int32_t actionID, const std::string& typedComment = {},
                    const std::string& commentError = {}) {
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
    mstch::array parts;
    for (const app::TextPart& part : app::PartsOf(entry.text, entry.mentions)) {
      parts.emplace_back(mstch::map{
          {"text", part.text}, {"user", part.userID}, {"mention", !part.userID.empty()}});
    }
    conversation.emplace_back(mstch::map{{"who", entry.who.empty() ? "Earlier notes" : entry.who},
                                         {"when", entry.when},
                                         {"move", entry.move},
                                         {"parts", parts}});
  }
  mstch::array people;
  for (const app::Mention& person : app::PeopleToMention(session, actionID)) {
    people.emplace_back(mstch::map{{"id", person.userID}, {"name", person.name}});
  }
  mstch::array history;
  for (const auto& entry : view.history.value_or(std::vector<app::HistoryEntry>{})) {
    history.emplace_back(mstch::map{{"time", app::ValueText(session, entry.when)},
                                    {"user", entry.who},
                                    {"text", entry.text},
                                    {"whole", entry.whole}});
  }
  mstch::array attachments = AttachmentsOf(visit, actionID);
  const std::string number = std::to_string(view.number);
  mstch::map context{{"id", std::to_string(actionID)},
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
                     {"maxUpload", std::to_string(visit.site.options.maxUploadBytes / 1024 / 1024)},
                     {"commentText", typedComment},
                     {"commentError", commentError},
                     {"people", people},
                     {"hasPeople", !people.empty()},
                     {"exampleID", session.userID()}};
  AddStateOf(view.state, context);
  AddActionControls(visit, actionID, context);
  AddWatchersOf(visit, actionID, context);
  SendPage(visit, "action", app::LabelOf(session, "Action") + " " + number, std::move(context));
}

}  // namespace

void ActionPage(Visit& visit, int32_t actionID) { SendActionPage(visit, actionID); }

void CommentSave(Visit& visit, int32_t actionID) {
  const std::string text = Param(visit.request, "comment");
  try {
    app::Comment(visit.session, actionID, text);
  } catch (const vb::ComError& error) {
    // A wrong text or a refused mention comes back with everything typed, so nothing is lost.
    const app::ErrorKind kind = app::KindOf(error);
    if (error.number() == app::kNotFound || kind == app::ErrorKind::Other ||
        error.number() == app::kNotSignedIn) {
      throw;
    }
    visit.response.status = kind == app::ErrorKind::Refused ? 403 : 400;
    return SendActionPage(visit, actionID, text, error.description());
  }
  Redirect(visit.response,
           Confirmed(fmt::format("/action/{}", actionID), "commented") + "#conversation");
}

namespace {

// The edit form with the stored values, or, after values were refused, with what was typed and
// every reason beside its field, so that nothing typed is lost and the edit stays based on what
// was first shown (and on the history as it was then: since).
void SendEditForm(Visit& visit, int32_t actionID, const FormValues& typed = {},
                  const app::FieldErrors& errors = {}, std::string since = {}) {
  auto& session = visit.session;
  const auto row = app::Show(session, actionID);
  if (since.empty()) since = std::to_string(app::LatestEvent(session, actionID));
  mstch::array fields;
  std::vector<std::string> columns;
  for (const auto& column : app::EditColumns(session, actionID)) {
    columns.push_back(column.column);
    const std::string* base = TypedText(typed.basedOn, column.column);
    const std::string* mine = TypedText(typed.changes, column.column);
    const std::string stored = app::FormValue(session, *row, column.column);
    const std::string& shown = base ? *base : stored;
    FormField field{column.column, mine ? *mine : shown, column.editable, false, &shown, {}};
    fields.emplace_back(mstch::map{{"html", FieldHtml(visit, field, errors)}});
  }
  SendPage(visit, "edit", "Edit " + Text(visit, *row, "ActionNumber"),
           {{"id", std::to_string(actionID)},
            {"number", Text(visit, *row, "ActionNumber")},
            {"since", since},
            {"fields", fields},
            {"errors", ErrorsHtml(visit, errors, columns)}});
}

}  // namespace

void EditForm(Visit& visit, int32_t actionID) { SendEditForm(visit, actionID); }

namespace {

// The newest history event the form was opened after (0 for a form that names none, or an
// action without history).
int32_t SinceOf(const web::Request& request) {
  const std::string text = Param(request, "since");
  return text.empty() || text == "0" ? 0 : IdOf(text, "since");
}

}  // namespace

void EditSave(Visit& visit, int32_t actionID) {
  const FormValues values = FormValuesOf(visit, actionID);
  const std::string since = Param(visit.request, "since");
  const app::FieldErrors errors = app::CheckFields(visit.session, values.changes, false);
  app::EditResult result;
  try {
    if (errors.empty()) result = app::Edit(visit.session, actionID, values.changes, values.basedOn);
  } catch (const vb::ComError& error) {
    if (app::KindOf(error) != app::ErrorKind::InvalidInput) throw;
    visit.response.status = 400;
    return SendEditForm(visit, actionID, values, {{"", error.description()}}, since);
  }
  if (!errors.empty()) {
    visit.response.status = 400;
    return SendEditForm(visit, actionID, values, errors, since);
  }
  if (!result.stored) return SendConflicts(visit, actionID, values, result, SinceOf(visit.request));
  Redirect(visit.response, Confirmed(fmt::format("/action/{}", actionID),
                                     result.merged.empty() ? "edited" : "merged"));
}

void MoveAction(Visit& visit, int32_t actionID) {
  app::Move(visit.session, actionID, Param(visit.request, "move"), Param(visit.request, "note"));
  Redirect(visit.response, Confirmed(fmt::format("/action/{}", actionID), "moved"));
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
  Redirect(visit.response, Confirmed(fmt::format("/action/{}", actionID), "attached"));
}

void AttachmentDownload(Visit& visit, int32_t attachmentID) {
  SendAttachment(visit.response, app::AttachmentDownload(visit.session, attachmentID));
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

// What an empty due date becomes: the person's offset from today, else the database's.
std::string DueHint(Visit& visit) {
  const int32_t days = app::PersonalValuesOf(visit.session).defaultDueDays;
  if (days == 0) return "Leave empty for the database's default due date.";
  const vb::Date due = visit.session.action().Clock().Today().AddDays(days);
  return fmt::format("Leave empty for your default, {} days from today ({}).", days,
                     visit.session.locale().FormatShortDate(due));
}

void SendNewForm(Visit& visit, const app::FieldTexts& values, const app::FieldErrors& errors = {}) {
  mstch::array fields;
  std::vector<std::string> columns;
  for (const auto& field : NewFields()) {
    columns.push_back(field.column);
    const std::string* value = TypedText(values, field.column);
    FormField form{field.column, value ? *value : std::string(),
                   true,         field.required,
                   nullptr,      field.column == "DateDue" ? DueHint(visit) : std::string()};
    fields.emplace_back(mstch::map{{"html", FieldHtml(visit, form, errors)}});
  }
  SendPage(visit, "new", "New " + app::LabelOf(visit.session, "Action"),
           {{"fields", fields},
            {"actionLabel", app::LabelOf(visit.session, "Action")},
            {"errors", ErrorsHtml(visit, errors, columns)}});
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
  // Wrong values come back in the form with everything typed, so nothing is lost.
  app::FieldErrors errors = app::CheckFields(visit.session, values, true);
  if (errors.empty()) {
    try {
      return Redirect(visit.response,
                      Confirmed(ActionPath(app::Add(visit.session, values)), "created"));
    } catch (const vb::ComError& error) {
      if (app::KindOf(error) != app::ErrorKind::InvalidInput) throw;
      errors.push_back({"", error.description()});
    }
  }
  visit.response.status = 400;
  SendNewForm(visit, values, errors);
}

// A copy opens in its edit form, where the person changes what differs.
void CopyAction(Visit& visit, int32_t actionID) {
  const int32_t copy = app::Copy(visit.session, actionID);
  const auto columns = app::EditColumns(visit.session, copy);
  const bool editable = std::any_of(columns.begin(), columns.end(),
                                    [](const app::EditableColumn& c) { return c.editable; });
  Redirect(visit.response, Confirmed(ActionPath(copy) + (editable ? "/edit" : ""), "copied"));
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
  Redirect(visit.response, Confirmed("/", "deleted"));
}

void AttachmentRemove(Visit& visit, int32_t attachmentID) {
  const std::string action = Param(visit.request, "action");
  const std::string back = action.empty() ? "/" : ActionPath(IdOf(action, "action"));
  app::AttachmentRemove(visit.session, attachmentID);
  Redirect(visit.response, Confirmed(back, "detached"));
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
