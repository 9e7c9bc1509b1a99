// The pages a signed-in person visits: the list, the action page, the edit form with its merge and
// conflict page, the review moves and the attachments. Each only translates between the form and
// app/; the rules (rights, input checks, history) live there.
#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/Actions.h"
#include "app/Attachments.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/WebSupport.h"
#include "vb/Convert.h"
#include "web/EmbeddedFiles.h"
#include "web/MorePages.h"
#include "web/Site.h"

namespace web {
namespace {

constexpr int32_t kPageSize = 50;

// The columns of the list, in order; sorting accepts only these.
const std::vector<std::string>& ListColumns() {
  static const std::vector<std::string> columns = {"ActionNumber", "Subject", "Assignee",
                                                   "Originator", "DateDue"};
  return columns;
}
// What the status column reads besides the shown columns.
const std::vector<std::string>& StatusColumns() {
  static const std::vector<std::string> columns = {"ActionID", "DateCompleted", "DateClosed",
                                                   "DateRejected", "Reviewed"};
  return columns;
}

// The label of an edit form's column: user-ID columns read as their role.
std::string FormLabel(app::Session& session, const std::string& column) {
  if (column == "AssigneeID") return app::LabelOf(session, "Assignee") + " (user ID)";
  if (column == "OriginatorID") return app::LabelOf(session, "Originator") + " (user ID)";
  return app::LabelOf(session, column);
}

bool IsLongText(std::string_view column) { return column == "Description" || column == "Result"; }

std::string Text(Visit& visit, ado::Recordset& row, std::string_view column) {
  return app::ValueText(visit.session, row[column].Value());
}

const std::string& Template(std::string_view name) {
  const auto found = EmbeddedFiles().find(std::string(name) + ".mustache");
  if (found == EmbeddedFiles().end()) throw std::logic_error("missing template");
  return found->second;
}

// The page number a query asks for (1 when missing or not a number).
int32_t PageOf(const std::string& text) {
  int32_t page = 1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), page);
  return error == std::errc() && end == text.data() + text.size() && page >= 1 ? page : 1;
}

// choice: the list's filters as "&name=value…", kept by every sort and page link.
std::string ListHref(std::string_view sort, std::string_view direction, int32_t page,
                     std::string_view choice) {
  return fmt::format("/?sort={}&dir={}&page={}{}", sort, direction, page, choice);
}

std::string TurnText(Visit& visit, ado::Recordset& row) {
  switch (app::TurnOf(row)) {
    case app::Turn::Nobody:
      return "Nobody's: the action is closed.";
    case app::Turn::Originator:
      return fmt::format("The originator's ({}).", Text(visit, row, "Originator"));
    case app::Turn::Assignee:
      break;
  }
  const std::string assignee = Text(visit, row, "Assignee");
  return assignee.empty() ? "The assignee's, but nobody is assigned."
                          : fmt::format("The assignee's ({}).", assignee);
}

mstch::array HistoryOf(Visit& visit, int32_t actionID, bool& allowed) {
  mstch::array events;
  allowed = true;
  try {
    const auto history = app::History(visit.session, actionID);
    for (; !history->IsEOF(); history->MoveNext()) {
      events.emplace_back(mstch::map{{"code", Text(visit, *history, "EventCode")},
                                     {"text", Text(visit, *history, "EventText")},
                                     {"user", Text(visit, *history, "UserID")},
                                     {"time", Text(visit, *history, "EventTime")}});
    }
  } catch (const vb::ComError& error) {
    if (app::KindOf(error) != app::ErrorKind::Refused) throw;
    allowed = false;
  }
  return events;
}

mstch::array AttachmentsOf(Visit& visit, int32_t actionID) {
  mstch::array attachments;
  const auto list = app::AttachmentList(visit.session, actionID);
  for (; list && !list->IsEOF(); list->MoveNext()) {
    const std::string url = Text(visit, *list, "URL");
    const bool content = Text(visit, *list, "AttachmentType") != "0";
    const std::string description = Text(visit, *list, "Description");
    std::string href;
    if (content) {
      href = "/attachment/" + Text(visit, *list, "AttachmentID");
    } else if (app::IsWebLink(url)) {
      href = url;
    }
    attachments.emplace_back(mstch::map{{"attachmentID", Text(visit, *list, "AttachmentID")},
                                        {"description", description.empty() ? url : description},
                                        {"name", url},
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

void ListPage(Visit& visit) {
  const auto& columns = ListColumns();
  std::string sort = Param(visit.request, "sort");
  if (std::find(columns.begin(), columns.end(), sort) == columns.end()) sort = "ActionNumber";
  const std::string direction = Param(visit.request, "dir") == "desc" ? "desc" : "asc";
  const int32_t page = PageOf(Param(visit.request, "page"));
  const ListChoice choice = ListChoiceOf(visit.request);

  app::ListRequest request;
  request.queryID = choice.queryID;
  request.filter = choice.filter;
  request.columns = columns;
  request.columns.insert(request.columns.end(), StatusColumns().begin(), StatusColumns().end());
  request.sort = sort + " " + direction;
  request.limit = page * kPageSize + 1;
  const auto list = app::List(visit.session, request);
  for (int32_t skipped = 0; skipped < (page - 1) * kPageSize && !list->IsEOF(); ++skipped) {
    list->MoveNext();
  }
  mstch::array rows;
  for (; !list->IsEOF() && static_cast<int32_t>(rows.size()) < kPageSize; list->MoveNext()) {
    mstch::array cells;
    const std::string href = "/action/" + Text(visit, *list, "ActionID");
    for (const auto& column : columns) {
      const bool link = column == "ActionNumber" || column == "Subject";
      cells.emplace_back(
          mstch::map{{"text", Text(visit, *list, column)}, {"link", link}, {"href", href}});
    }
    const app::ActionStatus status = app::StatusOf(visit.session, *list);
    rows.emplace_back(mstch::map{
        {"cells", cells}, {"status", status.shortStatus}, {"overdue", status.image == 2}});
  }
  const bool more = !list->IsEOF();

  mstch::array headers;
  for (const auto& column : columns) {
    const bool sorted = column == sort;
    const std::string next = sorted && direction == "asc" ? "desc" : "asc";
    std::string order = "none";
    if (sorted) order = direction == "asc" ? "ascending" : "descending";
    headers.emplace_back(
        mstch::map{{"label", app::LabelOf(visit.session, column)},
                   {"href", ListHref(column, next, 1, choice.query)},
                   {"order", order},
                   {"arrow", std::string(sorted ? (direction == "asc" ? "▲" : "▼") : "")}});
  }
  mstch::map context{
      {"headers", headers},      {"rows", rows},
      {"empty", rows.empty()},   {"page", std::to_string(page)},
      {"hasPrevious", page > 1}, {"previous", ListHref(sort, direction, page - 1, choice.query)},
      {"hasNext", more},         {"next", ListHref(sort, direction, page + 1, choice.query)}};
  AddListControls(visit, choice, context);
  SendPage(visit, "list", choice.Any() ? "Actions" : "My actions", std::move(context));
}

void ActionPage(Visit& visit, int32_t actionID) {
  auto& session = visit.session;
  const auto row = app::Show(session, actionID);
  mstch::array fields;
  for (const auto& column : app::VisibleColumns(session)) {
    if (column == "ActionNumber" || column == "Subject") continue;
    fields.emplace_back(mstch::map{{"label", app::LabelOf(session, column)},
                                   {"value", Text(visit, *row, column)},
                                   {"long", IsLongText(column)}});
  }
  const app::ActionStatus status = app::StatusOf(session, *row);
  mstch::array moves;
  for (const auto& move : app::MovesFor(session, actionID)) {
    moves.emplace_back(mstch::map{{"name", move.name}, {"title", move.title}});
  }
  const auto editColumns = app::EditColumns(session, actionID);
  const bool canEdit = std::any_of(editColumns.begin(), editColumns.end(),
                                   [](const app::EditableColumn& c) { return c.editable; });
  bool historyAllowed = true;
  mstch::array history = HistoryOf(visit, actionID, historyAllowed);
  mstch::array attachments = AttachmentsOf(visit, actionID);
  const std::string number = Text(visit, *row, "ActionNumber");
  mstch::map context{
      {"id", std::to_string(actionID)},
      {"number", number},
      {"actionLabel", app::LabelOf(session, "Action")},
      {"subject", Text(visit, *row, "Subject")},
      {"status", status.status},
      {"dueText", status.dueText},
      {"turn", TurnText(visit, *row)},
      {"fields", fields},
      {"moves", moves},
      {"hasMoves", !moves.empty()},
      {"canEdit", canEdit},
      {"history", history},
      {"historyAllowed", historyAllowed},
      {"attachments", attachments},
      {"hasAttachments", !attachments.empty()},
      {"canAttach", canEdit},
      {"maxUpload", std::to_string(visit.site.options.maxUploadBytes / 1024 / 1024)}};
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

// --- Shared by the pages --------------------------------------------------------------------

void SendPublicPage(httplib::Response& response, std::string_view name, std::string_view title,
                    mstch::map context, int status) {
  AddSecurityHeaders(response);
  mstch::map layout{{"title", std::string(title)},
                    {"body", mstch::render(Template(name), context)},
                    {"signedIn", false}};
  response.status = status;
  response.set_content(mstch::render(Template("layout"), layout), "text/html; charset=utf-8");
}

void SendPage(Visit& visit, std::string_view name, std::string_view title, mstch::map context) {
  context.emplace("csrf", visit.formToken);
  mstch::map layout{{"title", std::string(title)},
                    {"body", mstch::render(Template(name), context)},
                    {"signedIn", true},
                    {"userID", visit.session.userID()},
                    {"alerts", std::to_string(app::AlertCount(visit.session))},
                    {"admin", MayAdminister(visit.session)},
                    {"csrf", visit.formToken}};
  visit.response.set_content(mstch::render(Template("layout"), layout), "text/html; charset=utf-8");
}

void Redirect(httplib::Response& response, const std::string& path) {
  response.status = 303;
  response.set_header("Location", IsLocalPath(path) ? path : "/");
}

const std::string* TypedText(const app::FieldTexts& values, std::string_view column) {
  const auto typed = std::find_if(values.begin(), values.end(),
                                  [&](const auto& value) { return value.first == column; });
  return typed == values.end() ? nullptr : &typed->second;
}

std::string Param(const httplib::Request& request, const std::string& name) {
  if (request.has_param(name)) return request.get_param_value(name);
  if (request.has_file(name)) return request.get_file_value(name).content;
  return {};
}

int32_t IdOf(const std::string& text, std::string_view field) {
  int32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size() || id <= 0) {
    throw app::Invalid(field, text, "a positive number");
  }
  return id;
}

bool IsLocalPath(std::string_view target) {
  const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7f; };
  if (target.empty() || target.front() != '/') return false;
  // Only what a browser itself sends as a path: printable ASCII, no blank, no backslash.
  if (std::any_of(target.begin(), target.end(), [&](char c) {
        return control(c) || c == ' ' || c == '\\' || static_cast<unsigned char>(c) > 0x7f;
      })) {
    return false;
  }
  // Browsers drop tabs and line breaks and read a backslash as "/", so a second "/", a backslash
  // or a control character right after the first "/" can make "//other.host", also encoded, and
  // also encoded again ("%252f" is "%2f" is "/"): the escapes there are decoded while they decode.
  std::string rest(target.substr(1, 3));
  for (size_t next = 4; rest.size() == 3 && rest[0] == '%'; next += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(rest.data() + 1, rest.data() + 3, value, 16);
    if (error != std::errc() || end != rest.data() + 3) break;
    rest = static_cast<char>(value) + std::string(target.substr(std::min(next, target.size()), 2));
  }
  return rest.empty() || (rest[0] != '/' && rest[0] != '\\' && !control(rest[0]));
}

}  // namespace web
