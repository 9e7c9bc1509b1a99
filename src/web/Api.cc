// The JSON API's calls. Each only translates between JSON and app/, as the pages do between forms
// and app/; the rules (rights, input checks, history) live there. Every answer is JSON except an
// attachment's download; an error never carries more than app/'s own description of it.
#include "web/Api.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/Actions.h"
#include "app/Activity.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Bulk.h"
#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Hooks.h"
#include "app/Import.h"
#include "app/Json.h"
#include "app/Lists.h"
#include "app/Mailer.h"
#include "app/Notify.h"
#include "app/Outbox.h"
#include "app/Reminders.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/Watchers.h"
#include "app/WebSupport.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "web/Security.h"

namespace web {
namespace {

using Json = nlohmann::ordered_json;
using web::Request;
using web::Response;

constexpr int32_t kDefaultPageSize = 50;
constexpr int32_t kMaxPageSize = 500;
// As long as a sign-in through the pages: a lost token is worth little for long.
constexpr std::chrono::hours kApiTokenLifetime{12};
constexpr std::string_view kServerFault = "The server could not complete this request.";

// The API's date form: ISO 8601 in and out, whatever the people's short date form is.
const vb::Locale& IsoDates() {
  static const vb::Locale locale("yyyy-MM-dd");
  return locale;
}

// Texts that are not UTF-8 (an echo of a client's bytes in a message) are sent with the
// replacement character rather than failing the answer.
void SendJson(Response& response, int status, const Json& body) {
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace),
                       "application/json; charset=utf-8");
}

// The HTTP status of a refusal or a bad request; 500 for anything that is not the person's doing.
int StatusOf(const vb::ComError& error) {
  switch (app::KindOf(error)) {
    case app::ErrorKind::Refused:
      return error.number() == app::kNotSignedIn ? 401 : 403;
    case app::ErrorKind::InvalidInput:
      return error.number() == app::kNotFound ? 404 : 400;
    case app::ErrorKind::Other:
      break;
  }
  return 500;
}

void SendComError(Response& response, const vb::ComError& error) {
  const int status = StatusOf(error);
  if (status == 401) response.set_header("WWW-Authenticate", "Bearer");
  if (status != 500) {
    // The source too, so that the command through a server words a refusal as it does here.
    response.status = status;
    return SendJson(response, status,
                    {{"error",
                      {{"number", error.number()},
                       {"message", error.description()},
                       {"source", error.source()}}}});
  }
  std::cerr << "kvaction serve: " << error.source() << ": " << error.description() << '\n';
  SendApiError(response, 500, error.number(), kServerFault);
}

template <class Body>
void Guarded(Response& response, Body&& body) {
  web::Guarded(
      std::forward<Body>(body), [&](const vb::ComError& error) { SendComError(response, error); },
      [&] { SendApiError(response, 500, app::kNotStored, kServerFault); });
}

// --- Reading requests -------------------------------------------------------------------------

// Every text of a JSON body, member names too, checked for control characters; a text is named
// by its member's path ("fields.Description"), deeper levels by that of their second level. The
// values an edit started from ("basedOn") are stored ones sent back, which may hold what older
// programs stored (a tab in a subject), so they may hold tabs and line breaks everywhere.
void CheckTexts(Site& site, const Request& request, const Json& body) {
  struct Pending {
    const Json* value;
    std::string path;
    std::string member;
    int depth;
  };
  std::vector<Pending> pending{{&body, "body", {}, 0}};
  while (!pending.empty()) {
    const Pending next = std::move(pending.back());
    pending.pop_back();
    const Json& value = *next.value;
    if (value.is_string()) {
      CheckRequestText(site, request, next.path, value.get_ref<const std::string&>(),
                       app::IsMultiLineField(next.member) || next.path.starts_with("basedOn."));
    } else if (value.is_object()) {
      for (const auto& [key, item] : value.items()) {
        CheckRequestText(site, request, "a member's name", key, false);
        const std::string path = next.depth == 0   ? key
                                 : next.depth == 1 ? next.path + "." + key
                                                   : next.path;
        pending.push_back({&item, path, key, next.depth + 1});
      }
    } else if (value.is_array()) {
      for (const auto& item : value) pending.push_back({&item, next.path, next.member, next.depth});
    }
  }
}

// The request's body as a JSON object (an empty body is an empty object).
Json BodyOf(Site& site, const Request& request) {
  if (request.body.empty()) return Json::object();
  Json body = Json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    throw app::Invalid("body", {}, "a JSON object");
  }
  CheckTexts(site, request, body);
  return body;
}

// A member that must be a text when present ("" when missing or null).
std::string TextMember(const Json& body, const std::string& name, bool required = false) {
  const auto found = body.find(name);
  if (found == body.end() || found->is_null()) {
    if (required) throw app::Invalid(name, {}, "a text (required)");
    return {};
  }
  if (!found->is_string()) throw app::Invalid(name, {}, "a text");
  return found->get<std::string>();
}

// One column's value as app/ takes it: a text, a whole number, true/false, or null (empty).
std::string ColumnText(const Json& value, const std::string& field) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  if (value.is_number_integer()) return value.dump();
  if (value.is_boolean()) return vb::TextOf(vb::Variant(value.get<bool>()));
  throw app::Invalid(field, {}, "a text, a whole number, true/false or null");
}

// An object of column values ({"Subject": "…", …}); an absent member is no values.
app::FieldTexts FieldsMember(const Json& body, const std::string& name, bool required = false) {
  const auto found = body.find(name);
  if (found == body.end() && !required) return {};
  if (found == body.end() || !found->is_object() || found->empty()) {
    throw app::Invalid(name, {}, "an object of column names and values");
  }
  app::FieldTexts fields;
  for (const auto& [column, value] : found->items()) {
    fields.emplace_back(column, ColumnText(value, name + "." + column));
  }
  return fields;
}

// A whole number of a query parameter within [least, most], or fallback when it is missing.
int32_t NumberParam(const Request& request, const std::string& name, int32_t least, int32_t most,
                    int32_t fallback) {
  if (!request.has_param(name)) return fallback;
  const std::string text = request.get_param_value(name);
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < least || number > most) {
    throw app::Invalid(name, text, fmt::format("a whole number from {} to {}", least, most));
  }
  return number;
}

std::string TextParam(const Request& request, const std::string& name) {
  return request.has_param(name) ? request.get_param_value(name) : std::string();
}

// The names of a comma-separated list ("ActionNumber,Subject"); empty items are skipped.
std::vector<std::string> NameList(std::string_view rest) {
  std::vector<std::string> names;
  while (!rest.empty()) {
    const size_t comma = std::min(rest.find(','), rest.size());
    if (comma > 0) names.emplace_back(rest.substr(0, comma));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
  return names;
}

std::vector<std::string> ColumnsParam(const Request& request) {
  const std::string asked = TextParam(request, "columns");
  std::vector<std::string> columns = asked.empty() ? app::DefaultColumns() : NameList(asked);
  // Every row names its action, so a client can ask for it next.
  if (std::none_of(columns.begin(), columns.end(),
                   [](const std::string& c) { return vb::EqualsText(c, "ActionID"); })) {
    columns.insert(columns.begin(), "ActionID");
  }
  return columns;
}

// The filter of a list's query parameters, which are app/'s field IDs.
app::FilterTexts FilterParams(const Request& request) {
  app::FilterTexts given;
  for (const char* field : {"mine", "assignee", "originator", "status", "dueWithin", "category",
                            "priority", "grep", "reference"}) {
    if (request.has_param(field)) given.emplace_back(field, request.get_param_value(field));
  }
  for (const app::DateFilterField& bound : app::DateFilterFields()) {
    const std::string field(bound.field);
    if (request.has_param(field)) given.emplace_back(field, request.get_param_value(field));
  }
  return given;
}

std::string BearerToken(const Request& request) {
  const std::string header = request.get_header_value("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  if (header.size() <= kScheme.size() ||
      !vb::EqualsText(std::string_view(header).substr(0, kScheme.size()), kScheme)) {
    return {};
  }
  const size_t start = header.find_first_not_of(' ', kScheme.size());
  return start == std::string::npos ? std::string() : header.substr(start);
}

// --- Writing answers --------------------------------------------------------------------------

// A row of a record set, each value in the one JSON form (app::JsonValue), which an edit takes
// back as the value it started from.
Json RowOf(ado::Recordset& rows) {
  Json row = Json::object();
  const ado::Fields fields = rows.Fields();
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const ado::Field field = fields.Item(i);
    row[field.Name()] = app::JsonValue(field.Value());
  }
  return row;
}

Json RowsOf(const ado::RecordsetPtr& rows) {
  Json all = Json::array();
  for (; rows && !rows->IsEOF(); rows->MoveNext()) all.push_back(RowOf(*rows));
  return all;
}

Json AttachmentsOf(app::Session& session, int32_t actionID) {
  Json attachments = Json::array();
  const auto list = app::AttachmentList(session, actionID);
  for (; list && !list->IsEOF(); list->MoveNext()) {
    const auto text = [&](std::string_view column) {
      return app::ValueText(session, (*list)[column].Value());
    };
    attachments.push_back({{"id", vb::CLng((*list)["AttachmentID"].Value())},
                           {"description", text("Description")},
                           {"url", text("URL")},
                           {"content", text("AttachmentType") != "0"}});
  }
  return attachments;
}

Json ActionOf(app::Session& session, int32_t actionID) {
  Json action = app::ViewJson(app::ViewOf(session, actionID));
  action["attachments"] = AttachmentsOf(session, actionID);
  action["watchers"] = app::WatchersJson(app::WatchersOf(session, actionID));
  action["watching"] = app::IsWatching(session, actionID);
  return action;
}

void SendCreated(Response& response, app::Session& session, int32_t actionID) {
  const auto row = app::Show(session, actionID);
  response.set_header("Location", fmt::format("{}actions/{}", kApiPrefix, actionID));
  SendJson(response, 201,
           {{"id", actionID}, {"number", app::JsonValue((*row)["ActionNumber"].Value())}});
}

}  // namespace

// --- The calls --------------------------------------------------------------------------------

namespace api {

// One call of a signed-in client.
struct Call {
  Site& site;
  const Request& request;
  Response& response;
  app::Session session;
  [[nodiscard]] int32_t Id() const { return IdOf(request.matches[1], "id"); }
};

void WhoAmI(Call& call) {
  const app::AboutSession about = app::About(call.session);
  SendJson(call.response, 200,
           {{"user", about.userID},
            {"alerts", about.alerts},
            {"version", about.version},
            {"requiredDatabaseVersion", about.requiredDatabaseVersion}});
}

void SignOut(Call& call) {
  call.session.SignOut();
  call.response.status = 204;
}

// A page of a list: offset and limit from the query, each row with the columns asked for and
// its state.
void SendListPage(Call& call, app::ListRequest request,
                  ado::RecordsetPtr (*read)(app::Session&, app::ListRequest)) {
  const Request& rq = call.request;
  const std::vector<std::string> asked = ColumnsParam(rq);
  request.columns = app::WithStateColumns(asked);
  request.sort = TextParam(rq, "sort");
  const int32_t limit = NumberParam(rq, "limit", 1, kMaxPageSize, kDefaultPageSize);
  const int32_t offset =
      NumberParam(rq, "offset", 0, std::numeric_limits<int32_t>::max() - kMaxPageSize - 1, 0);
  // Like the list page: the cost grows with the page asked for, not with the table.
  request.limit = offset + limit + 1;
  const auto list = read(call.session, std::move(request));
  for (int32_t skipped = 0; skipped < offset && !list->IsEOF(); ++skipped) list->MoveNext();
  Json actions = Json::array();
  for (; !list->IsEOF() && static_cast<int32_t>(actions.size()) < limit; list->MoveNext()) {
    Json row = Json::object();
    for (const auto& column : asked) {
      const ado::Field field = (*list)[column];
      row[field.Name()] = app::JsonValue(field.Value());
    }
    app::AddStateJson(row, app::StateOf(call.session, *list));
    actions.push_back(std::move(row));
  }
  SendJson(call.response, 200,
           {{"offset", offset}, {"limit", limit}, {"more", !list->IsEOF()}, {"actions", actions}});
}

void ListActions(Call& call) {
  const Request& rq = call.request;
  app::ListRequest request;
  if (rq.has_param("query")) {
    request.queryID = NumberParam(rq, "query", 1, std::numeric_limits<int32_t>::max(), 0);
  }
  request.filter = app::FilterOf(FilterParams(rq));
  SendListPage(call, std::move(request),
               [](app::Session& session, app::ListRequest r) { return app::List(session, r); });
}

void GetAction(Call& call) { SendJson(call.response, 200, ActionOf(call.session, call.Id())); }

void CreateAction(Call& call) {
  const app::FieldTexts fields = FieldsMember(BodyOf(call.site, call.request), "fields", true);
  SendCreated(call.response, call.session, app::Add(call.session, fields));
}

void CopyAction(Call& call) {
  SendCreated(call.response, call.session, app::Copy(call.session, call.Id()));
}

void EditAction(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const app::EditResult result = app::Edit(
      call.session, call.Id(), FieldsMember(body, "changes", true), FieldsMember(body, "basedOn"));
  if (result.stored) {
    return SendJson(call.response, 200, {{"changed", result.changed}, {"merged", result.merged}});
  }
  Json conflicts = Json::array();
  std::string columns;
  for (const auto& conflict : result.conflicts) {
    conflicts.push_back({{"column", conflict.column},
                         {"base", conflict.base},
                         {"mine", conflict.mine},
                         {"theirs", conflict.theirs}});
    columns += (columns.empty() ? "" : ", ") + conflict.column;
  }
  SendJson(call.response, 409,
           {{"error",
             {{"number", app::kNotStored},
              {"message",
               fmt::format("Someone else changed {} meanwhile; nothing was stored.", columns)}}},
            {"conflicts", conflicts}});
}

// The review moves by name, and completing, closing and reopening as the command does them.
void MoveAction(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const std::string verb = call.request.matches[2];
  const std::string note = TextMember(body, "note");
  const int32_t id = call.Id();
  if (verb == "move") {
    app::Move(call.session, id, TextMember(body, "move", true), note);
  } else if (verb == "complete") {
    app::Complete(call.session, id, note);
  } else if (verb == "close") {
    app::Close(call.session, id, note);
  } else {
    app::Reopen(call.session, id, note);
  }
  SendJson(call.response, 200, ActionOf(call.session, id));
}

void DeleteAction(Call& call) {
  app::Delete(call.session, call.Id());
  call.response.status = 204;
}

void ListAttachments(Call& call) {
  SendJson(call.response, 200, AttachmentsOf(call.session, call.Id()));
}

// A link as JSON ({"url", "description"}), or a file as the raw body with its name and
// description in the query.
void UploadAttachment(Call& call) {
  const Request& rq = call.request;
  app::NewAttachment attachment;
  if (rq.get_header_value("Content-Type").rfind("application/json", 0) == 0) {
    const Json body = BodyOf(call.site, rq);
    attachment.url = TextMember(body, "url", true);
    attachment.description = TextMember(body, "description");
  } else {
    const size_t most = call.site.options.maxUploadBytes;
    if (rq.body.size() > most) {
      throw app::Invalid("body", {}, fmt::format("a file of at most {} bytes", most));
    }
    const std::string name = TextParam(rq, "name");
    if (name.empty()) throw app::Invalid("name", {}, "the file's name (required)");
    attachment = app::FileAttachment(name, TextParam(rq, "description"), rq.body);
  }
  const int32_t id = app::AttachmentAdd(call.session, call.Id(), attachment);
  call.response.set_header("Location", fmt::format("{}attachments/{}", kApiPrefix, id));
  SendJson(call.response, 201, {{"id", id}});
}

void DownloadAttachment(Call& call) {
  SendAttachment(call.response, app::AttachmentDownload(call.session, call.Id()));
}

void RemoveAttachment(Call& call) {
  app::AttachmentRemove(call.session, call.Id());
  call.response.status = 204;
}

// The count, or with "list" the actions it counts, paged as every list is.
void Alerts(Call& call) {
  if (call.request.has_param("list")) return SendListPage(call, {}, app::AlertList);
  SendJson(call.response, 200, {{"count", app::AlertCount(call.session)}});
}

void Activity(Call& call) {
  // The API's parameters are app/'s field IDs.
  std::vector<std::pair<std::string, std::string>> given;
  for (const char* field : {"since", "before", "limit"}) {
    if (call.request.has_param(field))
      given.emplace_back(field, call.request.get_param_value(field));
  }
  SendJson(
      call.response, 200,
      app::ActivityJson(app::Activity(call.session, app::ActivityRequestOf(call.session, given))));
}

void Queries(Call& call) { SendJson(call.response, 200, RowsOf(app::QueryList(call.session))); }

// app/ decides what each person may read of users and workgroups.
void Users(Call& call) { SendJson(call.response, 200, RowsOf(app::UserList(call.session))); }

void Workgroups(Call& call) {
  SendJson(call.response, 200, RowsOf(app::WorkgroupList(call.session)));
}

// --- Watchers and bulk changes ---------------------------------------------------------------

void WatchAction(Call& call) {
  app::Watch(call.session, call.Id());
  SendJson(call.response, 200,
           {{"watching", true},
            {"watchers", app::WatchersJson(app::WatchersOf(call.session, call.Id()))}});
}

void UnwatchAction(Call& call) {
  app::Unwatch(call.session, call.Id());
  SendJson(call.response, 200,
           {{"watching", false},
            {"watchers", app::WatchersJson(app::WatchersOf(call.session, call.Id()))}});
}

void ActionWatchers(Call& call) {
  SendJson(call.response, 200, app::WatchersJson(app::WatchersOf(call.session, call.Id())));
}

// {"ids": [ActionID…]} or {"query": ID, "filter": {app/'s filter fields}}, with "changes" (column
// values as an edit takes them), "move" and "note"; the answer is app/'s report of each action.
void BulkChange(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::BulkSelection selection;
  const auto ids = body.find("ids");
  const bool byList = body.contains("query") || body.contains("filter");
  if (ids != body.end() && byList) {
    throw app::Invalid("ids", {}, "absent when a query or filter chooses the actions");
  }
  if (byList) {
    selection.list = app::ListRequest{};
    if (const auto query = body.find("query"); query != body.end() && !query->is_null()) {
      if (!query->is_number_integer() || query->get<int64_t>() < 1 ||
          query->get<int64_t>() > std::numeric_limits<int32_t>::max()) {
        throw app::Invalid("query", {}, "the ID of a saved query");
      }
      selection.list->queryID = query->get<int32_t>();
    }
    app::FilterTexts given;
    for (const auto& [field, value] : FieldsMember(body, "filter"))
      given.emplace_back(field, value);
    selection.list->filter = app::FilterOf(given);
  } else {
    // Actions by ActionID, or by the numbers people know them by (the command's way).
    const auto numbers = body.find("numbers");
    selection.byNumber = ids == body.end() && numbers != body.end();
    const std::string field = selection.byNumber ? "numbers" : "ids";
    const auto given = selection.byNumber ? numbers : ids;
    if (given == body.end() || !given->is_array()) {
      throw app::Invalid("ids", {}, "an array of action IDs (or numbers, a query or a filter)");
    }
    for (const Json& id : *given) {
      if (!id.is_number_integer() || id.get<int64_t>() < 1 ||
          id.get<int64_t>() > std::numeric_limits<int32_t>::max()) {
        throw app::Invalid(field, {}, "an array of whole numbers from 1");
      }
      selection.ids.push_back(id.get<int32_t>());
    }
  }
  const app::BulkChange change{FieldsMember(body, "changes"),
                               app::BulkMoveOf(TextMember(body, "move")), TextMember(body, "note")};
  SendJson(call.response, 200, app::BulkJson(app::BulkApply(call.session, selection, change)));
}

void WorkgroupLeads(Call& call) {
  if (call.request.method == "PUT") {
    const Json body = BodyOf(call.site, call.request);
    const auto leads = body.find("leads");
    if (leads == body.end() || !leads->is_array()) {
      throw app::Invalid("leads", {}, "an array of user IDs");
    }
    std::vector<std::string> ids;
    for (const Json& lead : *leads) {
      if (!lead.is_string()) throw app::Invalid("leads", {}, "an array of user IDs");
      ids.push_back(lead.get<std::string>());
    }
    app::SetWorkgroupLeads(call.session, call.Id(), ids);
  }
  SendJson(call.response, 200, {{"leads", app::WorkgroupLeads(call.session, call.Id())}});
}

// --- Webhooks (administrators) ----------------------------------------------------------------

namespace {

Json HookJson(const app::hooks::Hook& hook) {
  return {{"id", hook.hookID},           {"url", hook.url},
          {"events", hook.events},       {"active", hook.active},
          {"createdBy", hook.createdBy}, {"created", app::Iso8601(hook.created)}};
}

// The members of a hook's JSON body that are there; "active" must be true or false.
app::hooks::HookSettings HookSettingsOf(const Json& body) {
  app::hooks::HookSettings settings;
  for (const auto& [member, target] :
       {std::pair{"url", &settings.url}, std::pair{"events", &settings.events},
        std::pair{"secret", &settings.secret}}) {
    if (body.contains(member)) *target = TextMember(body, member);
  }
  if (const auto active = body.find("active"); active != body.end()) {
    if (!active->is_boolean()) throw app::Invalid("active", {}, "true or false");
    settings.active = active->get<bool>();
  }
  return settings;
}

// The hook's ID and, when one was made, its new secret (shown only in this answer).
Json HookAnswer(int32_t hookID, const std::string& secret) {
  Json answer = {{"id", hookID}};
  if (!secret.empty()) answer["secret"] = secret;
  return answer;
}

}  // namespace

void Hooks(Call& call) {
  Json hooks = Json::array();
  for (const auto& hook : app::hooks::List(call.session)) hooks.push_back(HookJson(hook));
  SendJson(call.response, 200, hooks);
}

void AddHook(Call& call) {
  const app::hooks::Added added =
      app::hooks::Add(call.session, HookSettingsOf(BodyOf(call.site, call.request)));
  call.response.set_header("Location", fmt::format("{}hooks/{}", kApiPrefix, added.hookID));
  SendJson(call.response, 201, HookAnswer(added.hookID, added.secret));
}

void EditHook(Call& call) {
  const int32_t id = call.Id();
  const std::string secret =
      app::hooks::Edit(call.session, id, HookSettingsOf(BodyOf(call.site, call.request)));
  SendJson(call.response, 200, HookAnswer(id, secret));
}

void RemoveHook(Call& call) {
  app::hooks::Remove(call.session, call.Id());
  call.response.status = 204;
}

void HookDeliveries(Call& call) {
  const auto& rq = call.request;
  const int32_t hook = NumberParam(rq, "hook", 1, std::numeric_limits<int32_t>::max(), 0);
  const int32_t limit = NumberParam(rq, "limit", 1, kMaxPageSize, kDefaultPageSize);
  Json deliveries = Json::array();
  for (const auto& delivery : app::hooks::Deliveries(call.session, hook, limit)) {
    const auto date = [](const std::optional<vb::Date>& value) {
      return value ? Json(app::Iso8601(*value)) : Json();
    };
    deliveries.push_back({{"id", delivery.deliveryID},
                          {"delivery", delivery.key},
                          {"hook", delivery.hookID},
                          {"event", delivery.event},
                          {"action", delivery.actionID},
                          {"state", delivery.State()},
                          {"attempts", delivery.attempts},
                          {"created", app::Iso8601(delivery.created)},
                          {"nextAttempt", app::Iso8601(delivery.nextAttempt)},
                          {"delivered", date(delivery.delivered)},
                          {"status", delivery.status == 0 ? Json() : Json(delivery.status)},
                          {"answer", delivery.answer},
                          {"error", delivery.lastError},
                          {"payload", Json::parse(delivery.payload, nullptr, false)}});
  }
  SendJson(call.response, 200, deliveries);
}

void DeliverHooks(Call& call) {
  const app::hooks::DeliveryReport report = app::hooks::Deliver(call.session);
  SendJson(call.response, 200,
           {{"delivered", report.delivered},
            {"deferred", report.deferred},
            {"gaveUp", report.gaveUp},
            {"problems", report.problems}});
}

// A comment ({"comment": "…"}); the answer is the action as it now is, the comment last in its
// conversation.
void CommentAction(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const int32_t id = call.Id();
  app::Comment(call.session, id, TextMember(body, "comment", true));
  call.response.set_header("Location", fmt::format("{}actions/{}", kApiPrefix, id));
  SendJson(call.response, 201, ActionOf(call.session, id));
}

}  // namespace api

// --- The command's calls ----------------------------------------------------------------------
// What `kvaction --server URL` needs to print exactly what it prints on a local database: record
// sets as typed tables (app::FieldsJson, app::RowJson), long ones page by page, and the words
// app/ gives a person for one action.

namespace {

// A page of a table the command streams: large enough that few round trips are needed, small
// enough that neither side holds much.
constexpr int32_t kDefaultRowsPage = 1000;
constexpr int32_t kMaxRowsPage = 5000;

// The rows from the record set's current row on, all of them (a small table: rights, queries).
Json TableOf(ado::Recordset& rows) {
  Json values = Json::array();
  for (; !rows.IsEOF(); rows.MoveNext()) values.push_back(Json(app::RowJson(rows)));
  return {{"fields", app::FieldsJson(rows)}, {"rows", values}};
}

// A true/false query parameter ("" when missing).
bool FlagParam(const Request& request, const std::string& name) {
  const std::string text = TextParam(request, name);
  if (text.empty() || text == "false") return false;
  if (text == "true") return true;
  throw app::Invalid(name, text, "true or false");
}

// The page of rows the parameters page and after (or offset) ask for: {"fields", "rows", "more",
// "next"}, next being what after takes for the page that follows (only when more). With
// states=true each row also carries its state and whose turn it is, as four text columns (state,
// stateText, turn, turnText), for a client that prints them as the command does.
void SendRowsPage(api::Call& call, app::ListRequest request) {
  const Request& rq = call.request;
  request.limit = NumberParam(rq, "page", 1, kMaxRowsPage, kDefaultRowsPage);
  request.offset =
      NumberParam(rq, "offset", 0, std::numeric_limits<int32_t>::max() - kMaxRowsPage - 1, 0);
  request.after = TextParam(rq, "after");
  const bool states = FlagParam(rq, "states");
  // The cost grows with the rows asked for, not with the table nor with the rows before them.
  const app::ListPage page = app::ListPageOf(call.session, std::move(request));
  ado::Recordset& rows = *page.rows;
  Json values = Json::array();
  for (; !rows.IsEOF(); rows.MoveNext()) {
    Json row = app::RowJson(rows);
    if (states) {
      const app::RowState state = app::StateOf(call.session, rows);
      row.push_back(app::StateCode(state.state));
      row.push_back(state.words);
      row.push_back(app::TurnCode(state));
      row.push_back(state.turnWords);
    }
    values.push_back(std::move(row));
  }
  Json fields = app::FieldsJson(rows);
  if (states) {
    for (const char* name : {"state", "stateText", "turn", "turnText"}) {
      fields.push_back(
          {{"name", name}, {"type", static_cast<int32_t>(ado::adVarWChar)}, {"size", 0}});
    }
  }
  Json body = {{"fields", fields}, {"rows", values}, {"more", !page.next.empty()}};
  if (!page.next.empty()) body["next"] = page.next;
  SendJson(call.response, 200, body);
}

// A whole number member, or nothing when it is missing.
std::optional<int32_t> OptionalNumberMember(const Json& body, const std::string& name) {
  const auto found = body.find(name);
  if (found == body.end() || found->is_null()) return std::nullopt;
  if (!found->is_number_integer()) throw app::Invalid(name, {}, "a whole number");
  return found->get<int32_t>();
}

// The right numbers of "rights" ([50, 52]), or nothing when it is missing.
std::optional<std::vector<int32_t>> RightsMember(const Json& body) {
  const auto found = body.find("rights");
  if (found == body.end()) return std::nullopt;
  std::vector<int32_t> rights;
  if (found->is_array()) {
    for (const Json& right : *found) {
      if (!right.is_number_integer()) break;
      rights.push_back(right.get<int32_t>());
    }
  }
  if (!found->is_array() || rights.size() != found->size()) {
    throw app::Invalid("rights", {}, "a list of right numbers");
  }
  return rights;
}

Json MovesOf(app::Session& session, int32_t actionID) {
  Json moves = Json::array();
  for (const auto& move : app::MovesFor(session, actionID)) {
    moves.push_back({{"name", move.name}, {"title", move.title}});
  }
  return moves;
}

}  // namespace

namespace api {

void ActionRows(Call& call) {
  const Request& rq = call.request;
  app::ListRequest request;
  if (rq.has_param("query")) {
    request.queryID = NumberParam(rq, "query", 1, std::numeric_limits<int32_t>::max(), 0);
  }
  request.filter = app::FilterOf(FilterParams(rq));
  request.columns = NameList(TextParam(rq, "columns"));
  // An empty list of columns reads them all, the state's among them.
  if (FlagParam(rq, "states") && !request.columns.empty()) {
    request.columns = app::WithStateColumns(request.columns);
  }
  request.sort = TextParam(rq, "sort");
  SendRowsPage(call, std::move(request));
}

void AlertRows(Call& call) {
  app::ListRequest request;
  request.attention = true;
  request.columns = NameList(TextParam(call.request, "columns"));
  if (!request.columns.empty()) request.columns = app::WithStateColumns(request.columns);
  SendRowsPage(call, std::move(request));
}

void DueRows(Call& call) {
  std::optional<int32_t> days;
  if (call.request.has_param("days")) days = NumberParam(call.request, "days", -32768, 32767, 0);
  const bool mine = FlagParam(call.request, "mine");
  SendRowsPage(call, app::DueRequest(call.session, days, mine));
}

void ActionOfNumber(Call& call) {
  SendJson(call.response, 200, {{"id", app::ActionIDOf(call.session, call.Id())}});
}

// The stored row with its types, and the view of the action (the API's action object), for a
// client that prints both as the command does.
void ActionRecord(Call& call) {
  const int32_t id = call.Id();
  const ado::RecordsetPtr row = app::Show(call.session, id);
  SendJson(call.response, 200,
           {{"fields", app::FieldsJson(*row)},
            {"row", app::RowJson(*row)},
            {"view", app::ViewJson(app::ViewOf(call.session, id))}});
}

void ActionMoves(Call& call) { SendJson(call.response, 200, MovesOf(call.session, call.Id())); }

void ReviewAction(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const auto status = body.find("status");
  if (status == body.end() || !status->is_number_integer()) {
    throw app::Invalid("status", {}, "a review status (a whole number)");
  }
  app::Review(call.session, call.Id(), status->get<int32_t>());
  call.response.status = 204;
}

void ActionRights(Call& call) {
  SendJson(call.response, 200, TableOf(*app::EditingRights(call.session, call.Id())));
}

void Rights(Call& call) {
  Json rights = Json::array();
  for (int32_t right = 0; right <= app::kHighestRight; ++right) {
    const std::string name = app::RightName(right);
    if (!name.empty()) {
      rights.push_back({{"right", right}, {"name", name}, {"held", app::Can(call.session, right)}});
    }
  }
  SendJson(call.response, 200, rights);
}

void AttachmentRows(Call& call) {
  SendJson(call.response, 200, TableOf(*app::AttachmentList(call.session, call.Id())));
}

void NoticeRecord(Call& call) {
  const app::ActionNotice notice = app::NoticeOf(call.session, call.Id());
  SendJson(call.response, 200,
           {{"record", TableOf(*notice.record)}, {"text", app::MessageText(notice.mail)}});
}

// --- Users and workgroups, for the command's maintenance

void UserRows(Call& call) { SendJson(call.response, 200, TableOf(*app::UserList(call.session))); }

void CreateUser(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::NewUser user{TextMember(body, "id", true), TextMember(body, "name"),
                    TextMember(body, "password", true), TextMember(body, "email"), std::nullopt};
  if (user.userName.empty()) user.userName = user.userID;
  user.group = OptionalNumberMember(body, "group");
  app::UserAdd(call.session, user);
  call.response.status = 201;
}

void EditUser(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::UserChanges changes;
  if (body.contains("name")) changes.userName = TextMember(body, "name");
  if (body.contains("email")) changes.email = TextMember(body, "email");
  changes.group = OptionalNumberMember(body, "group");
  app::UserEdit(call.session, call.request.matches[1], changes);
  call.response.status = 204;
}

void SetUserPassword(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::UserPassword(call.session, call.request.matches[1], TextMember(body, "password", true));
  call.response.status = 204;
}

void DeleteUser(Call& call) {
  app::UserDelete(call.session, call.request.matches[1], TextParam(call.request, "reassignTo"));
  call.response.status = 204;
}

// A workgroup's ID from the path: -1 is the SuperUser group's.
int32_t GroupOf(const Call& call) {
  const std::string text = call.request.matches[1];
  int32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw app::Invalid("group", text, "a workgroup's ID");
  }
  return id;
}

void WorkgroupRows(Call& call) {
  SendJson(call.response, 200, TableOf(*app::WorkgroupList(call.session)));
}

void CreateWorkgroup(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const int32_t id = app::WorkgroupAdd(call.session, TextMember(body, "name", true),
                                       RightsMember(body).value_or(std::vector<int32_t>{}));
  SendJson(call.response, 201, {{"id", id}});
}

void EditWorkgroup(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  std::optional<std::string> name;
  if (body.contains("name")) name = TextMember(body, "name");
  app::WorkgroupEdit(call.session, GroupOf(call), name, RightsMember(body));
  call.response.status = 204;
}

void DeleteWorkgroup(Call& call) {
  app::WorkgroupDelete(call.session, GroupOf(call));
  call.response.status = 204;
}

// The actions of a CSV file (the body, as `kvaction export` writes it): all stored (201, their
// IDs), or none (422, each row's problem).
void ImportActions(Call& call) {
  std::istringstream csv(call.request.body);
  const app::ImportResult result = app::ImportCsv(call.session, csv);
  if (result.problems.empty()) return SendJson(call.response, 201, {{"added", result.added}});
  Json problems = Json::array();
  for (const app::ImportProblem& problem : result.problems) {
    problems.push_back({{"row", problem.row}, {"message", problem.message}});
  }
  SendJson(call.response, 422,
           {{"error",
             {{"number", app::kInvalidInput},
              {"message", "Nothing was imported: some rows cannot be stored."},
              {"source", app::kSource}}},
            {"problems", problems}});
}

void QueryRows(Call& call) { SendJson(call.response, 200, TableOf(*app::QueryList(call.session))); }

void CreateQuery(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::QueryDefinition definition;
  definition.name = TextMember(body, "name", true);
  definition.filter = app::FilterOf(FieldsMember(body, "filter"));
  const int32_t id = app::QueryAdd(call.session, definition);
  call.response.set_header("Location", fmt::format("{}queries/{}", kApiPrefix, id));
  SendJson(call.response, 201, {{"id", id}});
}

void ShareQuery(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  const auto shared = body.find("shared");
  if (shared == body.end() || !shared->is_boolean()) {
    throw app::Invalid("shared", {}, "true or false");
  }
  app::QueryShare(call.session, call.Id(), shared->get<bool>());
  call.response.status = 204;
}

void DeleteQuery(Call& call) {
  app::QueryDelete(call.session, call.Id());
  call.response.status = 204;
}

// --- Fields, settings, the outbox and one's reminders, for the command

void Fields(Call& call) {
  const app::FieldCatalogue catalogue = app::FieldCatalogueOf(call.session);
  Json visible = Json::array();
  for (const auto& [key, field] : catalogue.visible) {
    visible.push_back({{"key", key}, {"field", field}});
  }
  SendJson(call.response, 200,
           {{"visible", visible}, {"validated", TableOf(*catalogue.validated)}});
}

// The settings in the order the product lists them: [{"key", "value"}, …] (SuperUser).
void SettingsList(Call& call) {
  Json settings = Json::array();
  for (const std::string& key : app::SettingKeys()) {
    settings.push_back(
        {{"key", key}, {"value", app::JsonValue(app::SettingGet(call.session, key))}});
  }
  SendJson(call.response, 200, settings);
}

void SettingGet(Call& call) {
  const std::string key = call.request.matches[1];
  SendJson(call.response, 200,
           {{"key", key}, {"value", app::JsonValue(app::SettingGet(call.session, key))}});
}

// {"value": TEXT}: the new value in its text form, checked against the key's type ("" unsets).
void SettingSet(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  app::SettingSet(call.session, call.request.matches[1], TextMember(body, "value", true));
  call.response.status = 204;
}

void OutboxList(Call& call) {
  const auto date = [](const std::optional<vb::Date>& when) {
    return when ? Json(app::Iso8601(*when)) : Json(nullptr);
  };
  Json mail = Json::array();
  for (const app::OutboxEntry& entry :
       app::OutboxList(call.session, FlagParam(call.request, "all"))) {
    mail.push_back({{"id", entry.mailID},
                    {"messageID", entry.messageID},
                    {"actionID", entry.actionID},
                    {"createdBy", entry.createdBy},
                    {"to", entry.to},
                    {"subject", entry.subject},
                    {"created", app::Iso8601(entry.created)},
                    {"attempts", entry.attempts},
                    {"nextAttempt", app::Iso8601(entry.nextAttempt)},
                    {"sent", date(entry.sent)},
                    {"gaveUp", date(entry.gaveUp)},
                    {"lastError", entry.lastError},
                    {"state", entry.State()}});
  }
  SendJson(call.response, 200, mail);
}

// {"on": true|false, "leadDays": N}: either may be left out; "on" is stored first.
void SetReminders(Call& call) {
  const Json body = BodyOf(call.site, call.request);
  if (const auto on = body.find("on"); on != body.end()) {
    if (!on->is_boolean()) throw app::Invalid("on", {}, "true or false");
    app::SetReminders(call.session, on->get<bool>());
  }
  if (const std::optional<int32_t> days = OptionalNumberMember(body, "leadDays")) {
    app::SetAlertDays(call.session, *days);
  }
  call.response.status = 204;
}

// Sends the action's notice through the server's relay (a party to the action or a SuperUser).
void SendNotice(Call& call) {
  SendJson(call.response, 200, {{"sent", app::SendNotice(call.session, call.Id())}});
}

}  // namespace api

// --- Sessions ---------------------------------------------------------------------------------

namespace {

// The header by which a client that passes a person's typing through (the command) names the
// person's short date form: "en-US" or "en-GB".
constexpr const char* kDateFormHeader = "X-Date-Form";

// The API's options for opening the database: its dates are ISO 8601 whatever the people's are,
// unless the client names a person's date form for the texts app/ reads and words.
app::OpenOptions ApiOpenOptions(const Site& site, const Request& request) {
  app::OpenOptions open = site.options.open;
  const std::string form = request.get_header_value(kDateFormHeader);
  if (form.empty()) {
    open.locale = IsoDates();
  } else if (form == "en-US" || form == "en-GB") {
    open.locale = form == "en-GB" ? vb::Locale::EnGB() : vb::Locale::EnUS();
  } else {
    throw app::Invalid(kDateFormHeader, form, "en-US or en-GB");
  }
  return open;
}

}  // namespace

// Runs call for the client whose bearer token names a stored, unexpired session.
void ServeApiCall(Site& site, const Request& request, Response& response,
                  void (*call)(api::Call&)) {
  AddSecurityHeaders(response);
  Guarded(response, [&] {
    CheckRequestFields(site, request);
    const std::string token = BearerToken(request);
    if (token.empty()) {
      throw vb::ComError(app::kNotSignedIn, std::string(app::kSource),
                         "Sign in first: send \"Authorization: Bearer TOKEN\" with the token of "
                         "POST /api/v1/session.");
    }
    // A database kept open from an earlier request (of the pages or of the API) spares the
    // open; the command makes one request or a few per run, so this is most of its wait.
    api::Call visit{site, request, response,
                    app::Session::Resume(ApiOpenOptions(site, request), token, site.pool.Take())};
    response.userID = visit.session.userID();
    const app::LabelMemo labels(visit.session);  // a list names a role's label on every row
    Guarded(response, [&] { call(visit); });
    // A server error may have left the connection unusable: only a clean one serves again (a
    // refusal or a missing action leaves it clean).
    if (response.status < 500) site.pool.Give(std::move(visit.session).TakeAction());
  });
}

// Signing in is throttled like the sign-in form, per user ID and per address.
void ApiSignIn(Site& site, const Request& request, Response& response) {
  AddSecurityHeaders(response);
  Guarded(response, [&] {
    CheckRequestFields(site, request);
    const Json body = BodyOf(site, request);
    const std::string user = TextMember(body, "user", true);
    const std::string password = TextMember(body, "password", true);
    const int64_t wait = site.throttle.WaitSeconds(user, request.remote_addr);
    if (wait > 0) {
      response.set_header("Retry-After", std::to_string(wait));
      return SendApiError(
          response, 429, app::kRefused,
          fmt::format("Too many failed sign-ins. Try again in {} minutes.", (wait + 59) / 60));
    }
    std::string token;
    std::optional<app::Session> session;
    try {
      session.emplace(app::Session::SignIn(ApiOpenOptions(site, request), user, password, token,
                                           kApiTokenLifetime));
    } catch (const vb::ComError& error) {
      if (!app::IsSignInRefused(error)) throw;
      site.throttle.Failed(user, request.remote_addr);
      return SendApiError(response, 401, error.number(), "The user ID or the password is wrong.");
    }
    site.throttle.Succeeded(user);
    session->PurgeExpired();
    SendJson(response, 201,
             {{"token", token},
              {"user", session->userID()},
              {"expiresIn", std::chrono::seconds(kApiTokenLifetime).count()}});
  });
}

bool IsApiPath(std::string_view path) {
  return path.rfind(kApiPrefix, 0) == 0 || path == kApiPrefix.substr(0, kApiPrefix.size() - 1);
}

std::string_view ApiStatusText(int status) {
  switch (status) {
    case 404:
      return "There is no such call: see docs/api.md for the calls of /api/v1/.";
    case 413:
      return "The request is larger than this server accepts.";
    case 408:
      return "The request came too slowly.";
    case 431:
      return "The request's headers are larger than this server accepts.";
    case 500:
      return kServerFault;
    case 503:
      return "The server is busy: try again after the seconds of Retry-After.";
    default:
      return "The request could not be read: a POST, PATCH or DELETE needs a body or "
             "Content-Length: 0.";
  }
}

void SendApiError(Response& response, int status, int32_t number, std::string_view message) {
  AddSecurityHeaders(response);
  SendJson(response, status, {{"error", {{"number", number}, {"message", message}}}});
}

}  // namespace web
