#pragma once
// Administration: users (rights 41, 42, 70), workgroups (43), settings and raw SQL (SuperUser
// only). Every change is recorded as an administration event in the history (ActionID 0).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "app/Actions.h"
#include "app/Session.h"
#include "vb/Variant.h"

namespace app {

/// History event codes of administration changes (ActionID 0) and of the action events the
/// library itself does not write.
enum AppEvent : int32_t {
  evAttachmentAdded = 20,    ///< "Attachment N added: DESCRIPTION"
  evAttachmentRemoved = 21,  ///< "Attachment N removed: DESCRIPTION"
  evCopiedFrom = 22,         ///< on the copy: "Copied from N"
  evUserChanged = 30,        ///< "User U added|changed|deleted …"
  evPasswordChanged = 31,    ///< "Password of U changed"
  evWorkgroupChanged = 32,   ///< "Workgroup G added|changed|deleted …"
  evSettingChanged = 33,     ///< "Setting K changed"
  evHookChanged = 34,        ///< "Webhook N added|changed|removed: …"
};

/// A new user; group nullopt means the default workgroup.
struct NewUser {
  std::string userID;
  std::string userName;
  std::string password;  ///< at least kMinPasswordLength characters
  std::string email;
  std::optional<int32_t> group;
};
/// Adds a user (right 41; into -1 only a SuperUser).
void UserAdd(Session& session, const NewUser& user);

/// Changes to a user; unset members stay.
struct UserChanges {
  std::optional<std::string> userName;
  std::optional<std::string> email;
  std::optional<int32_t> group;
};
/// Edits a user (right 41; workgroup moves follow SetWorkgroup; the last SuperUser stays -1).
void UserEdit(Session& session, std::string_view userID, const UserChanges& changes);
/// The person's own name and e-mail address, as "My settings" shows them (no right needed).
struct OwnDetails {
  std::string userName;
  std::string email;
  bool mayChange = false;  ///< right 70 (OwnDetailsEdit)
};
[[nodiscard]] OwnDetails OwnDetailsOf(Session& session);
/// Every problem of a new name and address at once (the checks OwnDetailsEdit makes), for a form
/// to show beside its fields "name" and "email".
[[nodiscard]] FieldErrors CheckOwnDetails(std::string_view userName, std::string_view email);
/// Changes the person's own name or e-mail address (right 70, as one's own password; unset
/// members stay). The same checks as UserEdit: a name is required, an address has an '@'.
void OwnDetailsEdit(Session& session, std::optional<std::string> userName,
                    std::optional<std::string> email);
/// Deletes a user (right 42). Open actions the user is assignee or originator of need
/// reassignTo (a known user), else kRefused naming them. The last SuperUser cannot go.
void UserDelete(Session& session, std::string_view userID, std::string_view reassignTo = {});
/// Sets a password: one's own with right 70, another's with 41 (a SuperUser's only by a
/// SuperUser). Ends that user's stored sessions.
void UserPassword(Session& session, std::string_view userID, std::string_view password);
/// The users: UserID, UserName, Email, GroupID to whoever holds right 41, 42 or 43; UserID and
/// UserName alone to whoever else may pick users for actions (right 50, 58 or 59).
/// Anyone else is refused.
[[nodiscard]] ado::RecordsetPtr UserList(Session& session);

/// Creates a workgroup (right 43): a unique name and right numbers from the catalogue.
int32_t WorkgroupAdd(Session& session, std::string_view name, const std::vector<int32_t>& rights);
/// Renames a workgroup or replaces its rights (right 43; -1 stays as it is).
void WorkgroupEdit(Session& session, int32_t groupID, std::optional<std::string> name,
                   std::optional<std::vector<int32_t>> rights);
/// Deletes an empty workgroup (right 43; not -1, not the default one).
void WorkgroupDelete(Session& session, int32_t groupID);
/// The workgroups: GroupID, GroupName, RightList (right 41, 42 or 43).
[[nodiscard]] ado::RecordsetPtr WorkgroupList(Session& session);

/// The library behind the session and who is signed in: what `kvaction info` prints.
struct AboutSession {
  std::string version;                  ///< this build's library version
  std::string requiredDatabaseVersion;  ///< the schema version it demands
  std::string userID;
  int32_t alerts = 0;  ///< the person's alert count
};
[[nodiscard]] AboutSession About(Session& session);

/// The setting keys the product knows, with the type of their values.
[[nodiscard]] const std::vector<std::string>& SettingKeys();
/// The form of a setting's value (adBoolean, adSmallInt, adInteger or adVarWChar) and whether a
/// person may change it. Raises kInvalidInput for an unknown key.
struct SettingForm {
  ado::DataTypeEnum type = ado::adVarWChar;
  bool settable = true;
  std::string group;  ///< the heading the settings page shows it under
  std::string label;  ///< what it is called there
  std::string help;   ///< one line on what it does and the form of its value
};
[[nodiscard]] SettingForm SettingFormOf(std::string_view key);
/// The groups of SettingForm in the order the settings page shows them.
[[nodiscard]] const std::vector<std::string>& SettingGroups();
/// A setting (SuperUser). Raises kInvalidInput for an unknown key.
[[nodiscard]] vb::Variant SettingGet(Session& session, std::string_view key);
/// Sets a setting from its text form (SuperUser), checked against the key's type, and saves.
void SettingSet(Session& session, std::string_view key, std::string_view value);

/// A setting's key and the text of its new value.
using SettingText = std::pair<std::string, std::string>;
/// Sets several settings at once (SuperUser), as one form saves them: every value is checked as
/// SettingSet checks it (an empty text unsets any key) and the problems are returned all together
/// (nothing is stored then); otherwise the values that differ from the stored ones are stored in
/// one transaction, each recorded.
[[nodiscard]] FieldErrors SettingsSet(Session& session, const std::vector<SettingText>& values);

/// Runs one SQL statement as it is (SuperUser only). An administrator's tool that bypasses every
/// rule of this layer: no rights per action, no input checks, no history. Returns the rows of a
/// query, nothing for other statements.
ado::RecordsetPtr Sql(Session& session, std::string_view statement);

}  // namespace app
