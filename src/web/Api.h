#pragma once
// The JSON API under /api/v1/: the same app/ functions as the pages, for programs. A client signs
// in once (POST /api/v1/session) and sends the token it gets as "Authorization: Bearer TOKEN";
// cookies are never read here, so a browser cannot be tricked into calling the API and no form
// token is needed. Dates are ISO 8601 both ways. docs/api.md describes every call.
#include <string_view>

#include "web/Http.h"

#include "web/Site.h"

namespace web {

/// The prefix of every API path.
inline constexpr std::string_view kApiPrefix = "/api/v1/";

/// The calls of a signed-in client (Api.cc); docs/api.md describes each. Each may raise
/// vb::ComError, which ServeApiCall turns into a JSON error.
namespace api {
struct Call;
void WhoAmI(Call& call);
void SignOut(Call& call);
void ListActions(Call& call);
void GetAction(Call& call);
void CreateAction(Call& call);
void CopyAction(Call& call);
void EditAction(Call& call);
void MoveAction(Call& call);
void DeleteAction(Call& call);
void ListAttachments(Call& call);
void UploadAttachment(Call& call);
void DownloadAttachment(Call& call);
void RemoveAttachment(Call& call);
void Alerts(Call& call);
void Queries(Call& call);
/// GET activity: the changes across the actions the person may see, newest first (since, before,
/// limit).
void Activity(Call& call);
void Users(Call& call);
void Workgroups(Call& call);
void WatchAction(Call& call);
void UnwatchAction(Call& call);
void ActionWatchers(Call& call);
void BulkChange(Call& call);
void WorkgroupLeads(Call& call);

// The command's calls: what `kvaction --server URL` prints, as it prints it on a local database.
void ActionRows(Call& call);
void AlertRows(Call& call);
void DueRows(Call& call);
void ActionOfNumber(Call& call);
void ActionRecord(Call& call);
void ActionMoves(Call& call);
void ReviewAction(Call& call);
void ActionRights(Call& call);
void Rights(Call& call);
void AttachmentRows(Call& call);
void NoticeRecord(Call& call);
void UserRows(Call& call);
void CreateUser(Call& call);
void EditUser(Call& call);
void SetUserPassword(Call& call);
void DeleteUser(Call& call);
void WorkgroupRows(Call& call);
void CreateWorkgroup(Call& call);
void EditWorkgroup(Call& call);
void DeleteWorkgroup(Call& call);
void ImportActions(Call& call);
void QueryRows(Call& call);
void CreateQuery(Call& call);
void ShareQuery(Call& call);
void DeleteQuery(Call& call);
void Hooks(Call& call);
void AddHook(Call& call);
void EditHook(Call& call);
void RemoveHook(Call& call);
void HookDeliveries(Call& call);
void DeliverHooks(Call& call);
void Fields(Call& call);
void SettingsList(Call& call);
void SettingGet(Call& call);
void SettingSet(Call& call);
void OutboxList(Call& call);
void SetReminders(Call& call);
void SendNotice(Call& call);

void CommentAction(Call& call);
}  // namespace api

/// Runs call for the client whose bearer token names a stored, unexpired session.
void ServeApiCall(Site& site, const web::Request& request, web::Response& response,
                  void (*call)(api::Call&));
/// Signing in (POST /api/v1/session), throttled like the sign-in form.
void ApiSignIn(Site& site, const web::Request& request, web::Response& response);

/// Whether path belongs to the API (its answers, errors included, are JSON).
[[nodiscard]] bool IsApiPath(std::string_view path);

/// What an error the HTTP layer answers by itself (no route, a body too large or unreadable)
/// means for an API client.
[[nodiscard]] std::string_view ApiStatusText(int status);

/// Sends {"error": {"number": N, "message": M}} with status; number is one of app's error
/// numbers (app::kInvalidInput for a malformed request, app::kNotFound for an unknown path).
void SendApiError(web::Response& response, int status, int32_t number, std::string_view message);

}  // namespace web
