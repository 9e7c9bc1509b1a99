#pragma once
// The administration pages (AdminPages.cc): users, workgroups with the rights catalogue, settings
// and display labels. Each may raise vb::ComError; the server turns it into an error page.
#include "app/Session.h"
#include "web/Site.h"

namespace web {

/// Whether the person may open the administration pages (rights 41, 42 or 43; a SuperUser).
[[nodiscard]] bool MayAdminister(app::Session& session);

namespace admin {

void AdminPage(Visit& visit);
void UsersPage(Visit& visit);
void UserAddSave(Visit& visit);
void UserPage(Visit& visit);
void UserEditSave(Visit& visit);
void UserPasswordSave(Visit& visit);
void UserDeleteSave(Visit& visit);
void WorkgroupsPage(Visit& visit);
void WorkgroupAddSave(Visit& visit);
void WorkgroupPage(Visit& visit);
void WorkgroupEditSave(Visit& visit);
void WorkgroupDeleteSave(Visit& visit);
/// The leads of a workgroup, who watch every action of its members.
void WorkgroupLeadsSave(Visit& visit);
void SettingsPage(Visit& visit);
void SettingsSave(Visit& visit);
void ValidValuesSave(Visit& visit);
void LabelsSave(Visit& visit);

}  // namespace admin
}  // namespace web
