#include "web/Routes.h"

#include <exception>
#include <iostream>

#include "app/Errors.h"
#include "web/ActionPages.h"
#include "web/ActivityPages.h"
#include "web/AdminPages.h"
#include "web/ListPages.h"
#include "web/Metrics.h"
#include "web/SettingsPages.h"
#include "web/SignInPages.h"
#include "web/TeamPages.h"

namespace web {

const std::vector<Route>& RouteTable() {
  using enum Method;
  const std::string base(kApiPrefix);
  const std::string action = base + R"(actions/(\d+))";
  const std::string attachment = base + R"(attachments/(\d+))";
  static const std::vector<Route> routes = {
      // Signing in and out; the site's own files.
      {Get, "/signin", PublicHandler{SignInPage}},
      {Post, "/signin", PublicHandler{SignIn}},
      {Post, "/signout", PageHandler{SignOut}},
      {Get, R"(/static/([A-Za-z0-9_.-]+))", PublicHandler{StaticFile}},
      // The list and one action.
      {Get, "/", PageHandler{ListPage}},
      {Get, "/list.csv", PageHandler{ListCsv}},
      {Get, R"(/[A-Za-z0-9_/-]*\.(?:asp|ASP))", PageHandler{OldActionLink}},
      {Get, R"(/action/(\d+))", RowPageHandler{ActionPage}, "action"},
      {Get, R"(/action/(\d+)/edit)", RowPageHandler{EditForm}, "action"},
      {Post, R"(/action/(\d+)/edit)", RowPageHandler{EditSave}, "action"},
      {Post, R"(/action/(\d+)/move)", RowPageHandler{MoveAction}, "action"},
      {Post, R"(/action/(\d+)/attachments)", RowPageHandler{AttachmentUpload}, "action"},
      {Get, R"(/attachment/(\d+))", RowPageHandler{AttachmentDownload}, "id"},
      {Get, R"(/attachment/(\d+)/preview)", RowPageHandler{AttachmentPreviewImage}, "id"},
      // The JSON API (docs/api.md).
      {Post, base + "session", PublicHandler{ApiSignIn}},
      {Get, base + "session", ApiHandler{api::WhoAmI}},
      {Delete, base + "session", ApiHandler{api::SignOut}},
      {Get, base + "actions", ApiHandler{api::ListActions}},
      {Post, base + "actions", ApiHandler{api::CreateAction}},
      {Get, action, ApiHandler{api::GetAction}},
      {Patch, action, ApiHandler{api::EditAction}},
      {Delete, action, ApiHandler{api::DeleteAction}},
      {Post, action + "/(move|complete|close|reopen)", ApiHandler{api::MoveAction}},
      {Post, action + "/copy", ApiHandler{api::CopyAction}},
      {Get, action + "/attachments", ApiHandler{api::ListAttachments}},
      {Post, action + "/attachments", ApiHandler{api::UploadAttachment}},
      {Get, attachment, ApiHandler{api::DownloadAttachment}},
      {Delete, attachment, ApiHandler{api::RemoveAttachment}},
      {Get, base + "alerts", ApiHandler{api::Alerts}},
      {Get, base + "queries", ApiHandler{api::Queries}},
      {Get, base + "users", ApiHandler{api::Users}},
      {Get, base + "workgroups", ApiHandler{api::Workgroups}},
      // The API's calls for the command (`kvaction --server URL`).
      {Get, base + "actions/rows", ApiHandler{api::ActionRows}},
      {Post, base + "actions/import", ApiHandler{api::ImportActions}},
      {Get, base + "alerts/rows", ApiHandler{api::AlertRows}},
      {Get, base + "due/rows", ApiHandler{api::DueRows}},
      {Get, base + R"(numbers/(\d+))", ApiHandler{api::ActionOfNumber}},
      {Get, action + "/record", ApiHandler{api::ActionRecord}},
      {Get, action + "/moves", ApiHandler{api::ActionMoves}},
      {Post, action + "/review", ApiHandler{api::ReviewAction}},
      {Get, action + "/rights", ApiHandler{api::ActionRights}},
      {Get, action + "/attachments/rows", ApiHandler{api::AttachmentRows}},
      {Get, base + "rights", ApiHandler{api::Rights}},
      {Get, action + "/notice", ApiHandler{api::NoticeRecord}},
      {Get, base + "users/rows", ApiHandler{api::UserRows}},
      {Post, base + "users", ApiHandler{api::CreateUser}},
      {Patch, base + "users/([^/]+)", ApiHandler{api::EditUser}},
      {Post, base + "users/([^/]+)/password", ApiHandler{api::SetUserPassword}},
      {Delete, base + "users/([^/]+)", ApiHandler{api::DeleteUser}},
      {Get, base + "workgroups/rows", ApiHandler{api::WorkgroupRows}},
      {Post, base + "workgroups", ApiHandler{api::CreateWorkgroup}},
      {Patch, base + R"(workgroups/(-?\d+))", ApiHandler{api::EditWorkgroup}},
      {Delete, base + R"(workgroups/(-?\d+))", ApiHandler{api::DeleteWorkgroup}},
      {Get, base + "queries/rows", ApiHandler{api::QueryRows}},
      {Post, base + "queries", ApiHandler{api::CreateQuery}},
      {Post, base + R"(queries/(\d+)/share)", ApiHandler{api::ShareQuery}},
      {Delete, base + R"(queries/(\d+))", ApiHandler{api::DeleteQuery}},
      {Get, base + "fields", ApiHandler{api::Fields}},
      {Get, base + "settings", ApiHandler{api::SettingsList}},
      {Get, base + "settings/([^/]+)", ApiHandler{api::SettingGet}},
      {Patch, base + "settings/([^/]+)", ApiHandler{api::SettingSet}},
      {Get, base + "mail", ApiHandler{api::OutboxList}},
      {Patch, base + "reminders", ApiHandler{api::SetReminders}},
      {Post, action + "/notice", ApiHandler{api::SendNotice}},
      // Administration.
      {Get, "/admin", PageHandler{admin::AdminPage}},
      {Get, "/admin/users", PageHandler{admin::UsersPage}},
      {Post, "/admin/users", PageHandler{admin::UserAddSave}},
      {Get, "/admin/user", PageHandler{admin::UserPage}},
      {Post, "/admin/user/edit", PageHandler{admin::UserEditSave}},
      {Post, "/admin/user/password", PageHandler{admin::UserPasswordSave}},
      {Post, "/admin/user/delete", PageHandler{admin::UserDeleteSave}},
      {Get, "/admin/workgroups", PageHandler{admin::WorkgroupsPage}},
      {Post, "/admin/workgroups", PageHandler{admin::WorkgroupAddSave}},
      {Get, "/admin/workgroup", PageHandler{admin::WorkgroupPage}},
      {Post, "/admin/workgroup/edit", PageHandler{admin::WorkgroupEditSave}},
      {Post, "/admin/workgroup/delete", PageHandler{admin::WorkgroupDeleteSave}},
      {Get, "/admin/settings", PageHandler{admin::SettingsPage}},
      {Post, "/admin/settings", PageHandler{admin::SettingsSave}},
      {Post, "/admin/valid-values", PageHandler{admin::ValidValuesSave}},
      {Post, "/admin/labels", PageHandler{admin::LabelsSave}},
      // Creating, copying, deleting; saved queries; alerts; one's own settings.
      {Get, "/action/new", PageHandler{NewActionForm}},
      {Post, "/action/new", PageHandler{NewActionSave}},
      {Post, R"(/action/(\d+)/copy)", RowPageHandler{CopyAction}, "action"},
      {Get, R"(/action/(\d+)/delete)", RowPageHandler{DeleteConfirm}, "action"},
      {Post, R"(/action/(\d+)/delete)", RowPageHandler{DeleteAction}, "action"},
      {Post, R"(/attachment/(\d+)/remove)", RowPageHandler{AttachmentRemove}, "id"},
      {Get, "/queries", PageHandler{QueriesPage}},
      {Post, "/queries", PageHandler{QuerySave}},
      {Post, R"(/queries/(\d+)/update)", RowPageHandler{QueryUpdate}, "query"},
      {Post, R"(/queries/(\d+)/share)", RowPageHandler{QueryShare}, "query"},
      {Post, R"(/queries/(\d+)/delete)", RowPageHandler{QueryDelete}, "query"},
      {Get, "/alerts", PageHandler{AlertsPage}},
      {Get, "/settings", PageHandler{SettingsPage}},
      {Post, "/settings/password", PageHandler{PasswordSave}},
      {Post, "/settings/values", PageHandler{ValuesSave}},
      {Post, "/settings/calendar", PageHandler{CalendarRenew}},
      {Post, "/settings/calendar/end", PageHandler{CalendarEnd}},
      // A calendar program reads the feed without signing in: the secret is the key.
      {Get, R"(/calendar/([0-9a-f]{64})\.ics)", PublicHandler{CalendarFile}},
      {Post, "/settings/details", PageHandler{DetailsSave}},
      // Watchers and bulk changes.
      {Put, action + "/watch", ApiHandler{api::WatchAction}},
      {Delete, action + "/watch", ApiHandler{api::UnwatchAction}},
      {Get, action + "/watchers", ApiHandler{api::ActionWatchers}},
      {Post, base + "actions/bulk", ApiHandler{api::BulkChange}},
      {Get, base + R"(workgroups/(\d+)/leads)", ApiHandler{api::WorkgroupLeads}},
      {Put, base + R"(workgroups/(\d+)/leads)", ApiHandler{api::WorkgroupLeads}},
      {Post, R"(/action/(\d+)/watch)", RowPageHandler{WatchSave}, "action"},
      {Post, "/bulk", PageHandler{BulkPage}},
      {Post, "/admin/workgroup/leads", PageHandler{admin::WorkgroupLeadsSave}},
      // What changed lately across the actions; its Atom feed at a secret address, as the
      // calendar's.
      {Get, "/activity", PageHandler{ActivityPage}},
      {Post, "/activity/feed", PageHandler{ActivityFeedRenew}},
      {Post, "/activity/feed/end", PageHandler{ActivityFeedEnd}},
      {Get, R"(/activity/([0-9a-f]{64})\.atom)", PublicHandler{ActivityFeedFile}},
      {Get, base + "activity", ApiHandler{api::Activity}},
      // For the operator: whether this process can serve, and what it has done.
      {Get, "/healthz", PublicHandler{HealthPage}},
      {Get, "/metrics", PublicHandler{MetricsPage}},
      // Webhooks (administrators): the pages and the API.
      {Get, "/admin/hooks", PageHandler{admin::HooksPage}},
      {Post, "/admin/hooks", PageHandler{admin::HookAddSave}},
      {Get, "/admin/hook", PageHandler{admin::HookPage}},
      {Post, "/admin/hook/edit", PageHandler{admin::HookEditSave}},
      {Post, "/admin/hook/delete", PageHandler{admin::HookDeleteSave}},
      {Get, base + "hooks", ApiHandler{api::Hooks}},
      {Post, base + "hooks", ApiHandler{api::AddHook}},
      {Get, base + "hooks/deliveries", ApiHandler{api::HookDeliveries}},
      {Post, base + "hooks/deliver", ApiHandler{api::DeliverHooks}},
      {Patch, base + R"(hooks/(\d+))", ApiHandler{api::EditHook}},
      {Delete, base + R"(hooks/(\d+))", ApiHandler{api::RemoveHook}},
      // Comments on an action, with mentions.
      {Post, R"(/action/(\d+)/comment)", RowPageHandler{CommentSave}, "action"},
      {Post, action + "/comments", ApiHandler{api::CommentAction}},
  };
  return routes;
}

namespace {

std::string_view MethodName(Method method) {
  switch (method) {
    case Method::Get:
      return "GET";
    case Method::Post:
      return "POST";
    case Method::Patch:
      return "PATCH";
    case Method::Delete:
      return "DELETE";
    case Method::Put:
      return "PUT";
  }
  return {};
}

// Runs route's handler behind the guard its kind needs.
void Run(Site& site, const Route& route, const Request& rq, Response& rs) {
  struct Guard {
    Site& site;
    const Route& route;
    const Request& rq;
    Response& rs;
    void operator()(PublicHandler page) const { page(site, rq, rs); }
    void operator()(PageHandler page) const { ServeSignedIn(site, rq, rs, page); }
    void operator()(RowPageHandler page) const {
      ServeSignedIn(site, rq, rs,
                    [&](Visit& visit) { page(visit, IdOf(rq.matches[1], route.idField)); });
    }
    void operator()(ApiHandler call) const { ServeApiCall(site, rq, rs, call); }
  };
  std::visit(Guard{site, route, rq, rs}, route.handler);
}

}  // namespace

Router::Router(Site& site) : site_(site) {
  for (const Route& route : RouteTable()) routes_.push_back({&route, std::regex(route.pattern)});
}

std::string_view Router::Answer(Request& request, Response& response) const {
  const std::string_view method =
      request.method == "HEAD" ? std::string_view("GET") : std::string_view(request.method);
  if (!ParseTargetAndBody(request)) {
    SendServerError(request.path, response, 400);
    return {};
  }
  for (const Compiled& compiled : routes_) {
    std::smatch match;
    if (MethodName(compiled.route->method) != method ||
        !std::regex_match(request.path, match, compiled.pattern)) {
      continue;
    }
    request.matches.assign(match.begin(), match.end());
    try {
      Run(site_, *compiled.route, request, response);
    } catch (const std::exception& error) {
      std::cerr << "kvaction serve: " << error.what() << '\n';
      response = Response{};
      SendServerError(request.path, response, 500);
    }
    if (response.status >= 400 && response.body.empty()) {
      SendServerError(request.path, response, response.status);
    }
    return compiled.route->pattern;
  }
  SendServerError(request.path, response, 404);
  return {};
}

void SendServerError(std::string_view path, Response& response, int status) {
  AddSecurityHeaders(response);
  if (IsApiPath(path)) {
    const int32_t number = status == 404   ? app::kNotFound
                           : status >= 500 ? app::kNotStored
                                           : app::kInvalidInput;
    return SendApiError(response, status, number, ApiStatusText(status));
  }
  switch (status) {
    case 404:
      return SendErrorPage(response, status, "There is no such page.");
    case 408:
      return SendErrorPage(response, status, "The request came too slowly.");
    case 413:
      return SendErrorPage(response, status, "The upload is larger than this server accepts.");
    case 431:
      return SendErrorPage(response, status,
                           "The request's headers are larger than this server "
                           "accepts.");
    case 500:
      return SendErrorPage(response, status, "The server could not complete this request.");
    case 503:
      return SendErrorPage(response, status, "The server is busy. Please try again in a moment.");
    default:
      return SendErrorPage(response, status, "The request could not be read.");
  }
}

}  // namespace web
