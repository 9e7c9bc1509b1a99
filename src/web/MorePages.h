#pragma once
// The pages beyond reading and editing one action: creating, copying and deleting actions,
// removing attachments, the list's filters and saved queries, the alerts and due lists, and a
// person's own settings. Like the other pages, each only translates between forms and app/.
#include <cstdint>
#include <optional>
#include <string>

#include <mstch/mstch.hpp>

#include "app/Lists.h"
#include "web/Site.h"

namespace web {

/// The list a request asks for: a saved query and ad-hoc filters from the query string.
struct ListChoice {
  std::optional<int32_t> queryID;
  app::ListFilter filter;
  std::string query;  ///< the same as "&name=value…", for links that keep the choice
  [[nodiscard]] bool Any() const { return queryID || !query.empty(); }
};
/// Reads the list's choice; raises kInvalidInput naming a malformed filter.
[[nodiscard]] ListChoice ListChoiceOf(const httplib::Request& request);
/// The context the list's filter form, saved-query picker and save form need.
void AddListControls(Visit& visit, const ListChoice& choice, mstch::map& context);

void NewActionForm(Visit& visit);
void NewActionSave(Visit& visit);
void CopyAction(Visit& visit, int32_t actionID);
void DeleteConfirm(Visit& visit, int32_t actionID);
void DeleteAction(Visit& visit, int32_t actionID);
void AttachmentRemove(Visit& visit, int32_t attachmentID);
/// What the action page adds for these pages: whether Copy and Delete are offered.
void AddActionControls(Visit& visit, int32_t actionID, mstch::map& context);

void QueriesPage(Visit& visit);
void QuerySave(Visit& visit);
void QueryShare(Visit& visit, int32_t queryID);
void QueryDelete(Visit& visit, int32_t queryID);

void AlertsPage(Visit& visit);

void SettingsPage(Visit& visit);
void PasswordSave(Visit& visit);
void ValuesSave(Visit& visit);

}  // namespace web
