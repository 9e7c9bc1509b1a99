// The administration pages: users (rights 41 and 42), workgroups with the rights catalogue (43),
// settings and display labels (SuperUser). A page shows only what the person may do; every form
// goes through app/, which checks the right again, refuses with its own words and records the
// change.
#include "web/AdminPages.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Forms.h"
#include "app/Hooks.h"
#include "app/Labels.h"
#include "app/Rights.h"
#include "app/Watchers.h"
#include "app/WebSupport.h"
#include "kvaction/Action.h"
#include "vb/Convert.h"
#include "web/Site.h"

namespace web {

using kvaction::arAddEditUsers;
using kvaction::arChangeWorkgroups;
using kvaction::arDeleteUsers;
using kvaction::arSuperUser;

namespace admin {

constexpr int32_t kSuperUserGroup = -1;

// Refuses unless the person holds one of rights; what names the page.
void RequireAny(app::Session& session, std::initializer_list<int32_t> rights,
                std::string_view what) {
  if (std::any_of(rights.begin(), rights.end(), [&](int32_t r) { return app::Can(session, r); })) {
    return;
  }
  throw app::Refusal(what, std::span<const int32_t>(rights.begin(), rights.size()));
}

std::string TextOf(ado::Recordset& row, std::string_view column) {
  return vb::TextOf(row[column].Value());
}

// A whole number from a form ("" gives nothing); raises kInvalidInput naming field.
std::optional<int32_t> NumberParam(const web::Request& request, const std::string& field) {
  const std::string text = Param(request, field);
  if (text.empty()) return std::nullopt;
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw app::Invalid(field, text, "a whole number");
  }
  return number;
}

int32_t RequiredNumber(const web::Request& request, const std::string& field) {
  const auto number = NumberParam(request, field);
  if (!number) throw app::Invalid(field, {}, "required");
  return *number;
}

// The confirmation a form that removes something carries.
void RequireConfirmed(const web::Request& request, std::string_view what) {
  if (Param(request, "confirm") != "yes") {
    throw app::Invalid("confirm", {}, fmt::format("ticked to {}", what));
  }
}

// --- Workgroups and the rights catalogue ------------------------------------------------------

struct Workgroup {
  int32_t id = 0;
  std::string name;
  std::string rights;  // "41,42" or "*"
};

std::vector<Workgroup> Workgroups(app::Session& session) {
  std::vector<Workgroup> groups;
  for (const auto list = app::WorkgroupList(session); !list->IsEOF(); list->MoveNext()) {
    groups.push_back({vb::CLng((*list)["GroupID"].Value()), TextOf(*list, "GroupName"),
                      TextOf(*list, "RightList")});
  }
  return groups;
}

const Workgroup& WorkgroupOf(const std::vector<Workgroup>& groups, int32_t id) {
  const auto found =
      std::find_if(groups.begin(), groups.end(), [&](const Workgroup& g) { return g.id == id; });
  if (found == groups.end()) throw app::NotFound("workgroup", "ID", fmt::format("{}", id));
  return *found;
}

std::string GroupName(const std::vector<Workgroup>& groups, int32_t id) {
  for (const auto& group : groups) {
    if (group.id == id) return group.name;
  }
  return fmt::format("{} (missing)", id);
}

// The workgroups a select offers: the SuperUser workgroup only to a SuperUser (or when it is the
// current choice, so the form shows the truth).
mstch::array GroupOptions(app::Session& session, const std::vector<Workgroup>& groups,
                          std::optional<int32_t> selected) {
  const bool super = app::Can(session, arSuperUser);
  mstch::array options;
  for (const auto& group : groups) {
    if (group.id == kSuperUserGroup && !super && selected != kSuperUserGroup) continue;
    options.emplace_back(mstch::map{{"value", std::to_string(group.id)},
                                    {"name", group.name},
                                    {"selected", selected == group.id}});
  }
  return options;
}

std::set<int32_t> RightsOf(const std::string& list) {
  std::set<int32_t> rights;
  size_t start = 0;
  while (start < list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    int32_t right = 0;
    std::from_chars(list.data() + start, list.data() + end, right);
    rights.insert(right);
    start = end + 1;
  }
  return rights;
}

// Where the catalogue turns to another subject: the first right of each group, in catalogue
// order (the people, the workgroups, the actions and their lists, then the fields of an action).
struct RightGroup {
  int32_t first;
  std::string_view title;
};
constexpr std::array<RightGroup, 4> kRightGroups = {
    {{arAddEditUsers, "Users"},
     {arChangeWorkgroups, "Workgroups"},
     {kvaction::arAddActions, "Actions and lists"},
     {kvaction::arEditDateOpened, "Editing an action"}}};

// The rights catalogue as check boxes in its groups, those in held ticked: HTML rendered (and
// escaped) from its own template, for the forms that add and edit a workgroup.
std::string Catalogue(app::Session& session, const std::set<int32_t>& held) {
  const auto catalogue = session.action().WorkgroupRights();
  mstch::array groups;
  mstch::array rights;
  std::string_view title;
  const auto close = [&] {
    if (!rights.empty())
      groups.emplace_back(mstch::map{{"title", std::string(title)}, {"rights", rights}});
    rights.clear();
  };
  for (int32_t position = 1; position <= catalogue->Count(); ++position) {
    const int32_t right = IdOf(catalogue->KeyAt(position), "right");
    for (const auto& group : kRightGroups) {
      if (group.first != right) continue;
      close();
      title = group.title;
    }
    rights.emplace_back(mstch::map{{"number", std::to_string(right)},
                                   {"name", vb::TextOf(catalogue->Item(position))},
                                   {"checked", held.count(right) > 0}});
  }
  close();
  mstch::map context;
  context.emplace("catalogue", std::move(groups));
  return RenderTemplate("admin-catalogue", context);
}

std::vector<int32_t> RightsParam(const web::Request& request) {
  std::vector<int32_t> rights;
  const size_t count = request.get_param_value_count("right");
  for (size_t i = 0; i < count; ++i)
    rights.push_back(IdOf(request.get_param_value("right", i), "right"));
  return rights;
}

std::string WorkgroupHref(int32_t id, std::string_view saved = {}) {
  return saved.empty() ? fmt::format("/admin/workgroup?id={}", id)
                       : fmt::format("/admin/workgroup?id={}&saved={}", id, saved);
}

// --- Users --------------------------------------------------------------------------------

struct User {
  std::string id;
  std::string name;
  std::string email;
  int32_t group = 0;
};

std::vector<User> Users(app::Session& session) {
  std::vector<User> users;
  for (const auto list = app::UserList(session); !list->IsEOF(); list->MoveNext()) {
    users.push_back({TextOf(*list, "UserID"), TextOf(*list, "UserName"), TextOf(*list, "Email"),
                     vb::CLng((*list)["GroupID"].Value())});
  }
  return users;
}

std::string UserHref(std::string_view id, std::string_view saved = {}) {
  std::string href = "/admin/user?id=" + QueryValue(id);
  if (!saved.empty()) href += fmt::format("&saved={}", saved);
  return href;
}

void RequireUserPages(app::Session& session) {
  RequireAny(session, {arAddEditUsers, arDeleteUsers}, "the users page");
}

void UsersPage(Visit& visit) {
  auto& session = visit.session;
  RequireUserPages(session);
  const auto groups = Workgroups(session);
  mstch::array users;
  for (const auto& user : Users(session)) {
    users.emplace_back(mstch::map{{"id", user.id},
                                  {"name", user.name},
                                  {"email", user.email},
                                  {"group", GroupName(groups, user.group)},
                                  {"href", UserHref(user.id)}});
  }
  SendPage(visit, "admin-users", "Users",
           {{"users", users},
            {"canAdd", app::Can(session, arAddEditUsers)},
            {"groups", GroupOptions(session, groups, std::nullopt)},
            {"minPassword", std::to_string(app::kMinPasswordLength)}});
}

void UserPage(Visit& visit) {
  auto& session = visit.session;
  RequireUserPages(session);
  const std::string id = Param(visit.request, "id");
  const auto users = Users(session);
  const auto found =
      std::find_if(users.begin(), users.end(), [&](const User& u) { return u.id == id; });
  if (found == users.end()) throw app::NotFound("user", "ID", id);
  mstch::array others;
  for (const auto& user : users) {
    if (user.id != id) others.emplace_back(mstch::map{{"id", user.id}, {"name", user.name}});
  }
  SendPage(visit, "admin-user", "User " + id,
           {{"id", id},
            {"name", found->name},
            {"email", found->email},
            {"groups", GroupOptions(session, Workgroups(session), found->group)},
            {"canEdit", app::Can(session, arAddEditUsers)},
            {"canDelete", app::Can(session, arDeleteUsers)},
            {"others", others},
            {"minPassword", std::to_string(app::kMinPasswordLength)}});
}

void UserAddSave(Visit& visit) {
  const auto& request = visit.request;
  app::NewUser user{Param(request, "userID"), Param(request, "userName"),
                    Param(request, "password"), Param(request, "email"),
                    NumberParam(request, "group")};
  app::UserAdd(visit.session, user);
  Redirect(visit.response, UserHref(user.userID, "added"));
}

// Sends only what the form changed, so saving an untouched form writes no history.
void UserEditSave(Visit& visit) {
  auto& session = visit.session;
  // The form compares with the user's stored details, which only the users pages' people read.
  RequireUserPages(session);
  const std::string id = Param(visit.request, "id");
  const auto users = Users(session);
  const auto found =
      std::find_if(users.begin(), users.end(), [&](const User& u) { return u.id == id; });
  if (found == users.end()) throw app::NotFound("user", "ID", id);
  app::UserChanges changes;
  const std::string name = Param(visit.request, "userName");
  const std::string email = Param(visit.request, "email");
  const auto group = NumberParam(visit.request, "group");
  if (name.empty()) throw app::Invalid("name", {}, "required");
  if (name != found->name) changes.userName = name;
  if (email != found->email) changes.email = email;
  if (group && *group != found->group) changes.group = group;
  const bool any = changes.userName || changes.email || changes.group;
  if (any) app::UserEdit(session, id, changes);
  Redirect(visit.response, UserHref(id, any ? "changed" : "unchanged"));
}

void UserPasswordSave(Visit& visit) {
  const std::string id = Param(visit.request, "id");
  const std::string password = Param(visit.request, "password");
  if (password != Param(visit.request, "repeat")) {
    throw app::Invalid("password", {}, "the same new password in both fields");
  }
  app::UserPassword(visit.session, id, password);
  Redirect(visit.response, UserHref(id, "password"));
}

void UserDeleteSave(Visit& visit) {
  RequireConfirmed(visit.request, "delete the user");
  app::UserDelete(visit.session, Param(visit.request, "id"), Param(visit.request, "reassignTo"));
  Redirect(visit.response, "/admin/users?saved=deleted");
}

// --- Workgroups ---------------------------------------------------------------------------

void WorkgroupsPage(Visit& visit) {
  auto& session = visit.session;
  RequireAny(session, {arChangeWorkgroups}, "the workgroups page");
  std::map<int32_t, int32_t> members;
  for (const auto& user : Users(session)) ++members[user.group];
  mstch::array rows;
  for (const auto& group : Workgroups(session)) {
    const std::string rights = group.rights == "*" ? std::string("every right")
                                                   : std::to_string(RightsOf(group.rights).size());
    rows.emplace_back(mstch::map{{"id", std::to_string(group.id)},
                                 {"name", group.name},
                                 {"rights", rights},
                                 {"members", std::to_string(members[group.id])},
                                 {"href", WorkgroupHref(group.id)}});
  }
  SendPage(visit, "admin-workgroups", "Workgroups",
           {{"workgroups", rows}, {"catalogue", Catalogue(session, {})}});
}

void WorkgroupPage(Visit& visit) {
  auto& session = visit.session;
  RequireAny(session, {arChangeWorkgroups}, "the workgroups page");
  const auto groups = Workgroups(session);
  const Workgroup& group = WorkgroupOf(groups, RequiredNumber(visit.request, "id"));
  mstch::array members;
  for (const auto& user : Users(session)) {
    if (user.group == group.id)
      members.emplace_back(mstch::map{{"id", user.id}, {"name", user.name}});
  }
  SendPage(visit, "admin-workgroup", "Workgroup " + group.name,
           {{"id", std::to_string(group.id)},
            {"name", group.name},
            {"super", group.id == kSuperUserGroup},
            {"catalogue", Catalogue(session, RightsOf(group.rights))},
            {"members", members},
            {"hasMembers", !members.empty()},
            {"leads", fmt::format("{}", fmt::join(app::WorkgroupLeads(session, group.id), ", "))}});
}

void WorkgroupAddSave(Visit& visit) {
  const int32_t id =
      app::WorkgroupAdd(visit.session, Param(visit.request, "name"), RightsParam(visit.request));
  Redirect(visit.response, WorkgroupHref(id, "added"));
}

void WorkgroupEditSave(Visit& visit) {
  const int32_t id = RequiredNumber(visit.request, "id");
  app::WorkgroupEdit(visit.session, id, Param(visit.request, "name"), RightsParam(visit.request));
  Redirect(visit.response, WorkgroupHref(id, "changed"));
}

void WorkgroupLeadsSave(Visit& visit) {
  const int32_t id = RequiredNumber(visit.request, "id");
  app::SetWorkgroupLeads(visit.session, id, app::UserIDsOf(Param(visit.request, "leads")));
  Redirect(visit.response, WorkgroupHref(id, "leads"));
}

void WorkgroupDeleteSave(Visit& visit) {
  RequireConfirmed(visit.request, "delete the workgroup");
  app::WorkgroupDelete(visit.session, RequiredNumber(visit.request, "id"));
  Redirect(visit.response, "/admin/workgroups?saved=deleted");
}

// --- Settings and display labels ----------------------------------------------------------

// One setting as the form shows it: typed shows what was sent (after a refusal), else the
// stored value.
mstch::map SettingOf(app::Session& session, const std::string& key,
                     const std::vector<Workgroup>& groups, const std::string* typed,
                     const app::FieldErrors& errors) {
  const app::SettingForm form = app::SettingFormOf(key);
  const vb::Variant stored = app::SettingGet(session, key);
  const bool unset = stored.IsEmpty() || stored.IsNull();
  const std::string value = typed ? *typed : unset ? std::string() : vb::TextOf(stored);
  const bool flag = form.type == ado::adBoolean;
  const bool workgroup = key == "DefaultWorkgroup";
  const bool number = !workgroup && (form.type == ado::adSmallInt || form.type == ado::adInteger);
  mstch::array options;
  if (workgroup) {
    for (const auto& group : groups) {
      if (group.id == kSuperUserGroup) continue;
      options.emplace_back(mstch::map{{"value", std::to_string(group.id)},
                                      {"name", group.name},
                                      {"selected", value == std::to_string(group.id)}});
    }
  }
  const bool on = flag && (typed ? *typed == "true" : !unset && vb::CBool(stored));
  const auto error = std::find_if(errors.begin(), errors.end(),
                                  [&](const app::FieldError& e) { return e.column == key; });
  return {{"key", key},
          {"label", form.label},
          {"help", form.help},
          {"value", value},
          {"readonly", !form.settable},
          {"flag", flag && form.settable},
          {"on", on},
          {"off", !on},
          {"number", number && form.settable},
          {"workgroup", workgroup && form.settable},
          {"options", options},
          {"text", !flag && !number && !workgroup && form.settable},
          {"error", error == errors.end() ? std::string() : error->message}};
}

// The settings page: the settings in their groups (one form), the valid values and the labels.
void SendSettings(Visit& visit, const std::vector<app::SettingText>& typed = {},
                  const app::FieldErrors& errors = {}) {
  auto& session = visit.session;
  RequireAny(session, {arSuperUser}, "the settings page");
  const auto groups = Workgroups(session);
  mstch::array sections;
  for (const auto& title : app::SettingGroups()) {
    mstch::array settings;
    for (const auto& key : app::SettingKeys()) {
      if (app::SettingFormOf(key).group != title) continue;
      settings.emplace_back(SettingOf(session, key, groups, TypedText(typed, key), errors));
    }
    sections.emplace_back(mstch::map{{"title", title}, {"settings", settings}});
  }
  std::vector<ShownError> shown;
  for (const auto& error : errors) {
    shown.push_back({"s-" + error.column, app::SettingFormOf(error.column).label, error.message});
  }
  mstch::array validated;
  for (const std::string column : {"Category", "Priority"}) {
    validated.emplace_back(mstch::map{
        {"column", column},
        {"label", app::LabelOf(session, column)},
        {"values", fmt::format("{}", fmt::join(app::ValidValues(session, column), "\n"))}});
  }
  mstch::array labels;
  for (const auto& label : app::Labels(session)) {
    labels.emplace_back(mstch::map{{"name", label.name}, {"label", label.label}});
  }
  SendPage(visit, "admin-settings", "Settings",
           {{"groups", sections},
            {"errors", ErrorListHtml(shown)},
            {"validated", validated},
            {"labels", labels}});
}

void SettingsPage(Visit& visit) { SendSettings(visit); }

// Saves the whole form at once: every value is checked first, and refused values come back
// beside their fields with everything typed.
void SettingsSave(Visit& visit) {
  std::vector<app::SettingText> values;
  for (const auto& key : app::SettingKeys()) {
    const std::string field = "setting." + key;
    if (visit.request.has_param(field)) values.emplace_back(key, Param(visit.request, field));
  }
  const app::FieldErrors errors = app::SettingsSet(visit.session, values);
  if (errors.empty()) return Redirect(visit.response, Confirmed("/admin/settings", "changed"));
  visit.response.status = 400;
  SendSettings(visit, values, errors);
}

// Replaces each list the form sent, one value a line.
void ValidValuesSave(Visit& visit) {
  for (const std::string column : {"Category", "Priority"}) {
    const std::string field = "valid." + column;
    if (!visit.request.has_param(field)) continue;
    std::vector<std::string> values;
    std::string line;
    for (std::istringstream text(Param(visit.request, field)); std::getline(text, line);) {
      values.push_back(line);
    }
    app::SetValidValues(visit.session, column, values);
  }
  Redirect(visit.response, Confirmed("/admin/settings#valid-heading", "changed"));
}

// Sets the labels the form changed; a label left empty goes back to the name itself.
void LabelsSave(Visit& visit) {
  auto& session = visit.session;
  bool any = false;
  for (const auto& label : app::Labels(session)) {
    const std::string field = "label." + label.name;
    if (!visit.request.has_param(field)) continue;
    const std::string text = Param(visit.request, field);
    if (text == label.label || (text.empty() && !label.stored)) continue;
    app::LabelSet(session, label.name, text);
    any = true;
  }
  Redirect(visit.response,
           fmt::format("/admin/settings?saved={}#labels", any ? "changed" : "unchanged"));
}

// --- Webhooks --------------------------------------------------------------------------------

std::string HookHref(int32_t id) { return fmt::format("/admin/hook?id={}", id); }

// Every webhook page and form refuses first, before reading what a form sent.
void RequireHookPages(app::Session& session) {
  RequireAny(session, {arSuperUser}, "the webhooks pages");
}

std::string DateText(app::Session& session, const vb::Date& date) {
  return app::ValueText(session, vb::Variant(date));
}

// The events a form ticked, as the text app/ reads ("" when none: refused there by name).
std::string EventsParam(const web::Request& request) {
  std::string events;
  const size_t count = request.get_param_value_count("events");
  for (size_t i = 0; i < count; ++i) {
    events += (events.empty() ? "" : ",") + request.get_param_value("events", i);
  }
  if (events.empty()) throw app::Invalid("events", {}, "at least one event ticked");
  return events;
}

mstch::array EventBoxes(const std::vector<std::string>& ticked) {
  mstch::array boxes;
  for (const std::string_view name : app::hooks::kEventNames) {
    boxes.emplace_back(
        mstch::map{{"name", std::string(name)},
                   {"on", std::find(ticked.begin(), ticked.end(), name) != ticked.end()}});
  }
  return boxes;
}

mstch::array DeliveryRows(app::Session& session, int32_t hookID) {
  mstch::array rows;
  for (const auto& delivery : app::hooks::Deliveries(session, hookID, 50)) {
    const std::string_view state = delivery.State();
    rows.emplace_back(mstch::map{
        {"created", DateText(session, delivery.created)},
        {"hook", std::to_string(delivery.hookID)},
        {"hookHref", HookHref(delivery.hookID)},
        {"event", delivery.event},
        {"action", std::to_string(delivery.actionID)},
        {"actionHref", delivery.event == "deleted" ? std::string()
                                                   : fmt::format("/action/{}", delivery.actionID)},
        {"state", std::string(state)},
        {"badge", std::string(state == "delivered" ? "text-bg-success"
                              : state == "failed"  ? "text-bg-danger"
                                                   : "text-bg-secondary")},
        {"next", state == "waiting" && delivery.attempts > 0
                     ? DateText(session, delivery.nextAttempt)
                     : std::string()},
        {"attempts", std::to_string(delivery.attempts)},
        {"status", delivery.status == 0 ? std::string() : std::to_string(delivery.status)},
        {"answer", delivery.answer},
        {"error", state == "delivered" ? std::string() : delivery.lastError}});
  }
  return rows;
}

// The list, the form to add one and the latest deliveries; secret: a secret just made.
void SendHooks(Visit& visit, const app::hooks::Added& added = {}) {
  auto& session = visit.session;
  mstch::array rows;
  for (const auto& hook : app::hooks::List(session)) {
    rows.emplace_back(mstch::map{{"id", std::to_string(hook.hookID)},
                                 {"href", HookHref(hook.hookID)},
                                 {"url", hook.url},
                                 {"events", fmt::format("{}", fmt::join(hook.events, ", "))},
                                 {"state", std::string(hook.active ? "active" : "paused")},
                                 {"created", DateText(session, hook.created)},
                                 {"createdBy", hook.createdBy}});
  }
  SendPage(visit, "admin-hooks", "Webhooks",
           {{"hooks", rows},
            {"events", EventBoxes({})},
            {"minSecret", std::to_string(app::hooks::kMinSecretLength)},
            {"secret", added.secret},
            {"secretHook", std::to_string(added.hookID)},
            {"deliveries", DeliveryRows(session, 0)}});
}

void SendHook(Visit& visit, int32_t id, const std::string& secret = {}) {
  auto& session = visit.session;
  const auto hooks = app::hooks::List(session);
  const auto found = std::find_if(hooks.begin(), hooks.end(),
                                  [&](const app::hooks::Hook& hook) { return hook.hookID == id; });
  if (found == hooks.end()) throw app::NotFound("webhook", "ID", std::to_string(id));
  SendPage(visit, "admin-hook", fmt::format("Webhook {}", id),
           {{"id", std::to_string(id)},
            {"url", found->url},
            {"active", found->active},
            {"events", EventBoxes(found->events)},
            {"minSecret", std::to_string(app::hooks::kMinSecretLength)},
            {"secret", secret},
            {"deliveries", DeliveryRows(session, id)}});
}

void HooksPage(Visit& visit) {
  RequireHookPages(visit.session);
  SendHooks(visit);
}

// A secret made here is shown in the answer to the form, never in an address.
void HookAddSave(Visit& visit) {
  RequireHookPages(visit.session);
  const auto& request = visit.request;
  const app::hooks::Added added = app::hooks::Add(
      visit.session, {Param(request, "url"), Param(request, "secret"), EventsParam(request), true});
  const std::string given = Param(request, "secret");
  SendHooks(visit, given.empty() ? added : app::hooks::Added{});
}

void HookPage(Visit& visit) {
  RequireHookPages(visit.session);
  SendHook(visit, RequiredNumber(visit.request, "id"));
}

void HookEditSave(Visit& visit) {
  RequireHookPages(visit.session);
  const auto& request = visit.request;
  const int32_t id = RequiredNumber(request, "id");
  app::hooks::HookSettings changes;
  changes.url = Param(request, "url");
  changes.events = EventsParam(request);
  changes.active = Param(request, "active") == "yes";
  if (Param(request, "newSecret") == "yes") {
    changes.secret = std::string();
  } else if (!Param(request, "secret").empty()) {
    changes.secret = Param(request, "secret");
  }
  const std::string secret = app::hooks::Edit(visit.session, id, changes);
  if (!secret.empty()) return SendHook(visit, id, secret);
  Redirect(visit.response, HookHref(id) + "&saved=changed");
}

void HookDeleteSave(Visit& visit) {
  RequireHookPages(visit.session);
  RequireConfirmed(visit.request, "remove the webhook");
  app::hooks::Remove(visit.session, RequiredNumber(visit.request, "id"));
  Redirect(visit.response, "/admin/hooks?saved=deleted");
}

// --- The way in ---------------------------------------------------------------------------

void AdminPage(Visit& visit) {
  auto& session = visit.session;
  RequireAny(session, {arAddEditUsers, arDeleteUsers, arChangeWorkgroups, arSuperUser},
             "the administration page");
  mstch::array links;
  const auto link = [&](std::string_view href, std::string_view title, std::string_view about) {
    links.emplace_back(mstch::map{
        {"href", std::string(href)}, {"title", std::string(title)}, {"about", std::string(about)}});
  };
  if (app::Can(session, arAddEditUsers) || app::Can(session, arDeleteUsers)) {
    link("/admin/users", "Users", "Add people, change their details, set passwords, delete them.");
  }
  if (app::Can(session, arChangeWorkgroups)) {
    link("/admin/workgroups", "Workgroups", "Which rights each group of people holds.");
  }
  if (app::Can(session, arSuperUser)) {
    link("/admin/settings", "Settings", "Mail, attachments, due days and the display labels.");
    link("/admin/hooks", "Webhooks",
         "Addresses other programs listen on for changes, and what they answered.");
  }
  SendPage(visit, "admin", "Administration", {{"links", links}});
}

}  // namespace admin

bool MayAdminister(app::Session& session) {
  return app::Can(session, arAddEditUsers) || app::Can(session, arDeleteUsers) ||
         app::Can(session, arChangeWorkgroups);
}

}  // namespace web
