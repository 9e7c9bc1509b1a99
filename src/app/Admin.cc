// Administration: users, workgroups, settings and raw SQL, each checked and recorded.
#include "app/Admin.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Mailer.h"
#include "app/Rights.h"
#include "app/Schedule.h"
#include "app/TimeZone.h"
#include "kvaction/Enums.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;
using kvdata::kSuperUserGroup;

// The rights of the people who pick users for actions (add, assign, change the originator),
// and of the maintainers (internal::kMaintenanceRights).
constexpr std::array<int32_t, 6> kPickers = {
    kvaction::arAddActions,   kvaction::arEditAssignee, kvaction::arEditOriginator,
    kvaction::arAddEditUsers, kvaction::arDeleteUsers,  kvaction::arChangeWorkgroups};

constexpr int32_t kIdSize = 50;
constexpr int32_t kNameSize = 100;

ado::RecordsetPtr UserRow(Session& session, std::string_view userID) {
  auto rs = internal::WritableRows(
      session, "select * from Users where UserID = " + DataUtility::SqlText(userID));
  if (rs->IsEOF()) throw NotFound("user", "ID", userID);
  return rs;
}

int32_t GroupOf(ado::Recordset& user) { return vb::CLng(user["GroupID"].Value()); }

int32_t SuperUsers(Session& session) {
  return internal::Count(
      session, fmt::format("select count(*) as n from Users where GroupID = {}", kSuperUserGroup));
}

// Only a SuperUser moves people into or out of the SuperUser workgroup; the last one stays.
void CheckMove(Session& session, std::string_view userID, int32_t from, int32_t to) {
  if (from == to) return;
  if ((from == kSuperUserGroup || to == kSuperUserGroup) && !internal::IsSuper(session)) {
    throw Refusal(
        to == kSuperUserGroup ? "assigning SuperUser privileges" : "revoking SuperUser privileges",
        kvaction::arSuperUser);
  }
  if (!internal::WorkgroupExists(session, to)) {
    throw NotFound("workgroup", "ID", fmt::format("{}", to));
  }
  if (from == kSuperUserGroup && SuperUsers(session) <= 1) {
    throw RefusalText(fmt::format("Refused: {} is the last SuperUser.", userID));
  }
}

int32_t DefaultWorkgroup(Session& session) {
  const vb::Variant id = session.action().DataServer()->Settings()->Value("DefaultWorkgroup");
  if (id.IsEmpty() || id.IsNull()) {
    throw Invalid("group", {},
                  "required: this database has no default workgroup (run the upgrade)");
  }
  return vb::CLng(id);
}

void CheckUserTexts(std::string_view name, std::string_view email) {
  internal::CheckSize("name", name, kNameSize);
  internal::CheckEmail(email);
}

void EndSessions(Session& session, std::string_view userID) {
  (void)internal::Connection(session).Execute("delete from ActionSessions where UserID = " +
                                              DataUtility::SqlText(userID));
}

std::string RightListText(const std::vector<int32_t>& rights) {
  std::vector<int32_t> sorted = rights;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (const int32_t right : sorted) {
    if (RightName(right).empty()) {
      throw Invalid("rights", fmt::format("{}", right), "a right number of the catalogue");
    }
  }
  return fmt::format("{}", fmt::join(sorted, ","));
}

void CheckWorkgroupName(Session& session, std::string_view name, int32_t except) {
  if (name.empty()) throw Invalid("name", {}, "a workgroup name is required");
  internal::CheckSize("name", name, kNameSize);
  const auto rs = internal::ReadRows(session, "select GroupID, GroupName from ActionGroups");
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (vb::CLng((*rs)["GroupID"].Value()) != except &&
        vb::EqualsText(vb::TextOf((*rs)["GroupName"].Value()), name)) {
      throw Invalid("name", name, "a new workgroup name (it is taken)");
    }
  }
}

ado::RecordsetPtr GroupRow(Session& session, int32_t groupID) {
  auto rs = internal::WritableRows(
      session, fmt::format("select * from ActionGroups where GroupID = {}", groupID));
  if (rs->IsEOF()) throw NotFound("workgroup", "ID", fmt::format("{}", groupID));
  return rs;
}

// The keys a person may read and set, with the form of their values and the words the settings
// page shows: its group, a label and a line of help.
struct SettingKey {
  std::string_view key;
  ado::DataTypeEnum type;
  std::string_view group;
  std::string_view label;
  std::string_view help;
  bool settable = true;
};
constexpr std::string_view kMail = "E-mail notices";
constexpr std::string_view kRelay = "Mail relay";
constexpr std::string_view kReminders = "Daily reminders";
constexpr std::string_view kFiles = "Attachments";
constexpr std::string_view kDefaults = "New actions and new users";
constexpr std::string_view kAbout = "About this database";
constexpr std::string_view kWeb = "Web server (read when it starts)";
constexpr std::array<SettingKey, 29> kSettings = {{
    {"SMTPHost", ado::adVarWChar, kRelay, "Relay address",
     "host, host:port or an smtp:// or smtps:// address. Empty: nothing is delivered."},
    {"SMTPDefault", ado::adBoolean, kMail, "Send through the relay by default",
     "Whether programs that send mail use the relay below unless told otherwise."},
    {"AutoEmail", ado::adBoolean, kMail, "Send a notice on every change",
     "Mails the other party of an action whenever it changes."},
    {"AttachmentPath", ado::adVarWChar, kFiles, "Folder for uploaded files",
     "A folder on the server; uploading files needs it."},
    {"AttachmentURL", ado::adVarWChar, kFiles, "Base address of attachments",
     "For other programs: where they reach attached files."},
    {"AttachmentMode", ado::adSmallInt, kFiles, "Attachment address mode",
     "0: attachment lists carry the base address above; any other number: no address."},
    {"DueDays", ado::adSmallInt, kDefaults, "Days until a new action is due",
     "Used for people who did not choose their own number of days."},
    {"DefaultWorkgroup", ado::adInteger, kDefaults, "Workgroup of new users",
     "The workgroup a new user joins unless another is chosen."},
    {"WebURL", ado::adVarWChar, kMail, "Address of this web site",
     "Notices and reminders link to each action under it, e.g. https://actions.example.org/. "
     "Empty: no links."},
    // Delivery and reminders (docs/notifications.md); the relay's password is never stored.
    {"SMTPSecurity", ado::adVarWChar, kRelay, "Encryption",
     "none, starttls (required) or tls (implicit, usually port 465)."},
    {"SMTPUser", ado::adVarWChar, kRelay, "Relay login name",
     "Empty: no login. The password is given to the server, never stored here."},
    {"SMTPCAFile", ado::adVarWChar, kRelay, "Trusted certificates file",
     "A PEM file of a private relay's certificate authority. Empty: the system's."},
    {"SMTPTimeout", ado::adSmallInt, kRelay, "Delivery time limit (seconds)",
     "How long one delivery may take. Empty: 60."},
    {"TimeZone", ado::adVarWChar, kReminders, "Time zone",
     "A name such as Europe/Berlin; whose date is today and whose clock the time below reads."},
    {"ReminderTime", ado::adVarWChar, kReminders, "Time of day",
     "HH:MM (24-hour) at which the server sends the day's reminders. Empty: none are sent."},
    {"ReminderFrom", ado::adVarWChar, kReminders, "Sender address",
     "The From address of reminder mails."},
    {"Version", ado::adVarWChar, kAbout, "Database version", "Written when the database was made.",
     false},
    // The web server's deadlines and limits; an option of `kvaction serve` overrides each.
    {"WebHeadTimeout", ado::adSmallInt, kWeb, "Request head deadline (seconds)",
     "A request's line and headers must arrive within it. Empty: 10."},
    {"WebBodyTimeout", ado::adSmallInt, kWeb, "Body deadline (seconds)",
     "A body or an answer must move within it, plus its size at the rate below. Empty: 10."},
    {"WebMinBodyRate", ado::adSmallInt, kWeb, "Slowest body (KiB a second)",
     "The rate a body or an answer must keep. Empty: 32."},
    {"WebIdleTimeout", ado::adSmallInt, kWeb, "Idle connection time (seconds)",
     "How long a kept-alive connection may wait for its next request. Empty: 60."},
    {"WebMaxConnections", ado::adSmallInt, kWeb, "Open connections",
     "Past it the connection idle longest is closed. Empty: 4096."},
    {"WebMaxConnectionsPerAddress", ado::adSmallInt, kWeb, "Connections per client address",
     "This machine's (a proxy's) are not counted. Empty: 64."},
    {"WebMaxHeadKiB", ado::adSmallInt, kWeb, "Largest request head (KiB)",
     "The request line and all headers together. Empty: 16."},
    {"WebMaxFormKiB", ado::adSmallInt, kWeb, "Largest form (KiB)",
     "A form's fields together, e.g. a long description. Empty: 1024."},
    {"WebMaxUploadMiB", ado::adSmallInt, kWeb, "Largest uploaded file (MiB)",
     "The size of one attached file. Empty: 10."},
    {"WebWorkers", ado::adSmallInt, kWeb, "Workers",
     "Requests run at once, each with a database connection. Empty: 8."},
    {"WebQueueLimit", ado::adSmallInt, kWeb, "Waiting requests",
     "Requests waiting for a worker; one more is answered 503 at once. Empty: 64."},
    {"WebStopTimeout", ado::adSmallInt, kWeb, "Stop time (seconds)",
     "How long a stopping server finishes its requests before closing them. Empty: 30."},
}};

const SettingKey& KnownSetting(std::string_view key) {
  for (const auto& entry : kSettings) {
    if (vb::EqualsText(entry.key, key)) return entry;
  }
  throw Invalid("setting", key, fmt::format("a known key ({})", fmt::join(SettingKeys(), ", ")));
}

vb::Variant SettingValue(Session& session, const SettingKey& key, std::string_view text) {
  switch (key.type) {
    case ado::adBoolean: {
      const std::string word = vb::LCase(text);
      if (word == "true" || word == "1" || word == "yes") return vb::Variant(true);
      if (word == "false" || word == "0" || word == "no") return vb::Variant(false);
      throw Invalid(key.key, text, "true or false");
    }
    case ado::adSmallInt:
    case ado::adInteger: {
      const bool digits =
          !text.empty() && text.size() < 6 &&
          std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (!digits) throw Invalid(key.key, text, "a whole number from 0 to 32767");
      const int32_t number = std::stoi(std::string(text));
      if (number > 32767) throw Invalid(key.key, text, "a whole number from 0 to 32767");
      if (key.key == "DefaultWorkgroup" &&
          (number == 0 || !internal::WorkgroupExists(session, number))) {
        throw Invalid(key.key, text, "the ID of a workgroup other than SuperUser");
      }
      return key.type == ado::adSmallInt ? vb::Variant(static_cast<int16_t>(number))
                                         : vb::Variant(number);
    }
    default:
      internal::CheckSize(key.key, text, 255);
      // The server's reminder schedule reads these two; a value it cannot read is refused here.
      if (!text.empty() && key.key == kTimeZoneSetting && !TimeZone::Exists(text)) {
        throw Invalid(key.key, text, "a time zone name such as Europe/Berlin");
      }
      if (!text.empty() && key.key == kReminderTimeSetting && !MinutesOfDay(text)) {
        throw Invalid(key.key, text, "a time of day HH:MM (24-hour)");
      }
      if (!text.empty() && key.key == "SMTPHost") RequireRelayAddress(text);
      return text.empty() ? vb::Variant() : vb::Variant(std::string(text));
  }
}

}  // namespace

void UserAdd(Session& session, const NewUser& user) {
  internal::Require(session, kvaction::arAddEditUsers, "adding a user");
  if (user.userID.empty()) throw Invalid("user", {}, "a user ID is required");
  internal::CheckSize("user", user.userID, kIdSize);
  CheckUserTexts(user.userName, user.email);
  internal::CheckPassword(user.password);
  const int32_t group = user.group ? *user.group : DefaultWorkgroup(session);
  if (group == kSuperUserGroup && !internal::IsSuper(session)) {
    throw Refusal("assigning SuperUser privileges", kvaction::arSuperUser);
  }
  if (!internal::WorkgroupExists(session, group)) {
    throw NotFound("workgroup", "ID", fmt::format("{}", group));
  }
  if (internal::Count(session, "select count(*) as n from Users where UserID = " +
                                   DataUtility::SqlText(user.userID)) > 0) {
    throw Invalid("user", user.userID, "a new user ID (it is taken)");
  }
  const std::string hash = kvdata::HashPassword(user.password, session.options().cost);
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    const auto rs = internal::WritableRows(connection, "select * from Users where UserID = ''");
    std::vector<std::string> names = {"UserID", "UserName", "PasswordHash", "GroupID", "Created"};
    std::vector<vb::Variant> values = {user.userID,
                                       user.userName.empty() ? user.userID : user.userName, hash,
                                       group, session.options().clock->Now()};
    if (!user.email.empty()) {
      names.emplace_back("Email");
      values.emplace_back(user.email);
    }
    rs->AddNew(names, values);
    internal::Record(session, evUserChanged, 0,
                     fmt::format("User {} added in workgroup {}", user.userID, group));
  });
}

namespace {

// Stores a user's changes once they were allowed; from is the user's workgroup now.
void StoreUserChanges(Session& session, std::string_view userID, int32_t from,
                      const UserChanges& changes) {
  CheckUserTexts(changes.userName.value_or(""), changes.email.value_or(""));
  if (changes.group) CheckMove(session, userID, from, *changes.group);
  // The directory renames through a connection of its own, so the rename runs before the
  // transaction below rather than inside it (SQLite would wait on its own write lock).
  std::vector<std::string> said;
  if (changes.userName && !changes.userName->empty()) {
    session.action().ChangeUserName(userID, *changes.userName);
    said.push_back("name to " + *changes.userName);
  }
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    if (changes.group && *changes.group != from) {
      session.action().SetWorkgroup(userID, *changes.group);
      said.push_back(fmt::format("workgroup {} to {}", from, *changes.group));
    }
    if (changes.email) {
      const auto rs = UserRow(session, userID);
      (*rs)["Email"].Value(changes.email->empty() ? vb::Variant(vb::Null)
                                                  : vb::Variant(*changes.email));
      rs->Update();
      said.emplace_back("e-mail");
    }
    if (!said.empty()) {
      internal::Record(session, evUserChanged, 0,
                       fmt::format("User {} changed: {}", userID, fmt::join(said, ", ")));
    }
  });
}

}  // namespace

void UserEdit(Session& session, std::string_view userID, const UserChanges& changes) {
  internal::Require(session, kvaction::arAddEditUsers, "editing a user");
  const auto row = UserRow(session, userID);
  const int32_t from = GroupOf(*row);
  if (from == kSuperUserGroup && !internal::IsSuper(session) &&
      (changes.userName || changes.email)) {
    throw Refusal("editing a SuperUser", kvaction::arSuperUser);
  }
  StoreUserChanges(session, userID, from, changes);
}

FieldErrors CheckOwnDetails(std::string_view userName, std::string_view email) {
  FieldErrors errors;
  const auto check = [&](const std::string& field, const auto& run) {
    try {
      run();
    } catch (const vb::ComError& error) {
      if (KindOf(error) != ErrorKind::InvalidInput) throw;
      const std::string prefix = field + ": ";
      const std::string& description = error.description();
      errors.push_back({field, description.starts_with(prefix) ? description.substr(prefix.size())
                                                               : description});
    }
  };
  check("name", [&] {
    if (userName.empty()) throw Invalid("name", {}, "a name is required");
    internal::CheckSize("name", userName, kNameSize);
  });
  check("email", [&] { internal::CheckEmail(email); });
  return errors;
}

OwnDetails OwnDetailsOf(Session& session) {
  const auto row = UserRow(session, session.userID());
  return {vb::TextOf((*row)["UserName"].Value()), vb::TextOf((*row)["Email"].Value()),
          Can(session, kvaction::arChangePassword)};
}

void OwnDetailsEdit(Session& session, std::optional<std::string> userName,
                    std::optional<std::string> email) {
  internal::Require(session, kvaction::arChangePassword, "changing one's own name or e-mail");
  if (userName && userName->empty()) throw Invalid("name", {}, "a name is required");
  const auto row = UserRow(session, session.userID());
  StoreUserChanges(session, session.userID(), GroupOf(*row),
                   {std::move(userName), std::move(email), std::nullopt});
}

void UserDelete(Session& session, std::string_view userID, std::string_view reassignTo) {
  internal::Require(session, kvaction::arDeleteUsers, "deleting a user");
  const auto row = UserRow(session, userID);
  if (GroupOf(*row) == kSuperUserGroup) {
    if (!internal::IsSuper(session)) throw Refusal("deleting a SuperUser", kvaction::arSuperUser);
    if (SuperUsers(session) <= 1) {
      throw RefusalText(fmt::format("Refused: {} is the last SuperUser.", userID));
    }
  }
  const std::string id = DataUtility::SqlText(userID);
  const auto open = internal::ReadRows(
      session,
      "select ActionID, ActionNumber, AssigneeID, OriginatorID from actions where DateClosed is "
      "null and (AssigneeID = " +
          id + " or OriginatorID = " + id + ") order by ActionNumber");
  std::vector<std::tuple<int32_t, std::string, bool, bool>> actions;
  for (; !open->IsEOF(); open->MoveNext()) {
    actions.emplace_back(vb::CLng((*open)["ActionID"].Value()),
                         vb::TextOf((*open)["ActionNumber"].Value()),
                         vb::TextOf((*open)["AssigneeID"].Value()) == userID,
                         vb::TextOf((*open)["OriginatorID"].Value()) == userID);
  }
  std::string newName;
  if (!actions.empty()) {
    if (reassignTo.empty()) {
      std::vector<std::string> numbers;
      for (const auto& entry : actions) numbers.push_back(std::get<1>(entry));
      throw RefusalText(
          fmt::format("Refused: {} has open actions ({}); name a user to reassign them to.", userID,
                      fmt::join(numbers, ", ")));
    }
    if (reassignTo == userID) throw Invalid("reassignTo", reassignTo, "another user");
    newName = internal::UserName(session, reassignTo);
  }
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    for (const auto& [actionID, number, assignee, originator] : actions) {
      // Only the roles the user held change.
      internal::ColumnValues values;
      for (const auto& [role, held] : {std::pair{std::string("Assignee"), assignee},
                                       std::pair{std::string("Originator"), originator}}) {
        if (!held) continue;
        values.emplace_back(role + "ID", vb::Variant(std::string(reassignTo)));
        values.emplace_back(role, vb::Variant(newName));
      }
      internal::UpdateAction(session, actionID, values);
    }
    EndSessions(session, userID);
    internal::Record(
        session, evUserChanged, 0,
        reassignTo.empty()
            ? fmt::format("User {} deleted", userID)
            : fmt::format("User {} deleted; open actions reassigned to {}", userID, reassignTo));
  });
  session.action().DeleteUser(userID);
}

void UserPassword(Session& session, std::string_view userID, std::string_view password) {
  const bool own = userID == session.userID();
  internal::Require(session, own ? kvaction::arChangePassword : kvaction::arAddEditUsers,
                    own ? "changing one's password" : "changing another user's password");
  const auto row = UserRow(session, userID);
  if (!own && GroupOf(*row) == kSuperUserGroup && !internal::IsSuper(session)) {
    throw Refusal("changing a SuperUser's password", kvaction::arSuperUser);
  }
  internal::CheckPassword(password);
  const std::string hash = kvdata::HashPassword(password, session.options().cost);
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    const auto rs = UserRow(session, userID);
    (*rs)["PasswordHash"].Value(hash);
    rs->Update();
    EndSessions(session, userID);
    internal::Record(session, evPasswordChanged, 0, fmt::format("Password of {} changed", userID));
  });
}

ado::RecordsetPtr UserList(Session& session) {
  // Whoever picks an assignee or an originator needs the IDs and names; addresses and
  // workgroups are for the people who maintain users and workgroups.
  const bool maintainer = internal::HoldsAny(session, internal::kMaintenanceRights);
  if (!maintainer) internal::RequireAny(session, kPickers, "listing users");
  return internal::ReadRows(
      session, maintainer ? "select UserID, UserName, Email, GroupID from Users order by UserID"
                          : "select UserID, UserName from Users order by UserID");
}

int32_t WorkgroupAdd(Session& session, std::string_view name, const std::vector<int32_t>& rights) {
  internal::Require(session, kvaction::arChangeWorkgroups, "adding a workgroup");
  CheckWorkgroupName(session, name, 0);
  const std::string list = RightListText(rights);
  int32_t id = 0;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    id = session.action().DataServer()->Workgroups()->CreateWorkgroup(name, list);
    internal::Record(session, evWorkgroupChanged, 0,
                     fmt::format("Workgroup {} ({}) added with rights {}", id, name, list));
  });
  return id;
}

void WorkgroupEdit(Session& session, int32_t groupID, std::optional<std::string> name,
                   std::optional<std::vector<int32_t>> rights) {
  internal::Require(session, kvaction::arChangeWorkgroups, "editing a workgroup");
  if (groupID == kSuperUserGroup) {
    throw RefusalText("Refused: the SuperUser workgroup holds every right and keeps its name.");
  }
  (void)GroupRow(session, groupID);
  if (name) CheckWorkgroupName(session, *name, groupID);
  const std::optional<std::string> list =
      rights ? std::optional<std::string>(RightListText(*rights)) : std::nullopt;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    const auto rs = GroupRow(session, groupID);
    if (name) (*rs)["GroupName"].Value(*name);
    if (list) (*rs)["RightList"].Value(*list);
    rs->Update();
    internal::Record(
        session, evWorkgroupChanged, 0,
        fmt::format("Workgroup {} changed:{}{}", groupID, name ? " name " + *name : std::string(),
                    list ? " rights " + *list : std::string()));
  });
}

void WorkgroupDelete(Session& session, int32_t groupID) {
  internal::Require(session, kvaction::arChangeWorkgroups, "deleting a workgroup");
  if (groupID == kSuperUserGroup) throw RefusalText("Refused: the SuperUser workgroup stays.");
  (void)GroupRow(session, groupID);
  const vb::Variant fallback = session.action().DataServer()->Settings()->Value("DefaultWorkgroup");
  if (!fallback.IsEmpty() && !fallback.IsNull() && vb::CLng(fallback) == groupID) {
    throw RefusalText("Refused: the default workgroup stays (choose another default first).");
  }
  const int32_t members = internal::Count(
      session, fmt::format("select count(*) as n from Users where GroupID = {}", groupID));
  if (members > 0) {
    throw RefusalText(
        fmt::format("Refused: workgroup {} still has {} member(s).", groupID, members));
  }
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    (void)internal::Connection(session).Execute(
        fmt::format("delete from ActionGroups where GroupID = {}", groupID));
    internal::Record(session, evWorkgroupChanged, 0, fmt::format("Workgroup {} deleted", groupID));
  });
}

ado::RecordsetPtr WorkgroupList(Session& session) {
  internal::RequireAny(session, internal::kMaintenanceRights, "listing workgroups");
  return session.action().DataServer()->Workgroups()->WorkgroupList();
}

const std::vector<std::string>& SettingKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> all;
    for (const auto& entry : kSettings) all.emplace_back(entry.key);
    return all;
  }();
  return keys;
}

const std::vector<std::string>& SettingGroups() {
  static const std::vector<std::string> groups = {
      std::string(kMail),     std::string(kRelay), std::string(kReminders), std::string(kFiles),
      std::string(kDefaults), std::string(kWeb),   std::string(kAbout)};
  return groups;
}

SettingForm SettingFormOf(std::string_view key) {
  const SettingKey& known = KnownSetting(key);
  return {known.type, known.settable, std::string(known.group), std::string(known.label),
          std::string(known.help)};
}

vb::Variant SettingGet(Session& session, std::string_view key) {
  internal::RequireSuper(session, "reading settings");
  const SettingKey& known = KnownSetting(key);
  return session.action().DataServer()->Settings()->Value(known.key);
}

void SettingSet(Session& session, std::string_view key, std::string_view value) {
  internal::RequireSuper(session, "changing settings");
  const SettingKey& known = KnownSetting(key);
  if (!known.settable) throw Invalid("setting", key, "a key that can be changed");
  const vb::Variant stored = SettingValue(session, known, value);
  const auto settings = session.action().DataServer()->Settings();
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    settings->Value(known.key, stored);
    settings->Save();
    internal::Record(session, evSettingChanged, 0, fmt::format("Setting {} changed", known.key));
  });
}

FieldErrors SettingsSet(Session& session, const std::vector<SettingText>& values) {
  internal::RequireSuper(session, "changing settings");
  const auto settings = session.action().DataServer()->Settings();
  FieldErrors errors;
  std::vector<std::pair<const SettingKey*, vb::Variant>> changed;
  for (const auto& [key, text] : values) {
    try {
      const SettingKey& known = KnownSetting(key);
      if (!known.settable) throw Invalid("setting", key, "a key that can be changed");
      // A form sends every field: an empty one leaves the setting unset, whatever its type.
      vb::Variant value = text.empty() ? vb::Variant() : SettingValue(session, known, text);
      const vb::Variant now = settings->Value(known.key);
      const auto textOf = [](const vb::Variant& v) {
        return v.IsNull() || v.IsEmpty() ? std::string() : vb::TextOf(v);
      };
      if (textOf(value) != textOf(now)) changed.emplace_back(&known, std::move(value));
    } catch (const vb::ComError& error) {
      if (KindOf(error) != ErrorKind::InvalidInput) throw;
      const std::string prefix = key + ": ";
      const std::string& description = error.description();
      errors.push_back(
          {key, description.starts_with(prefix) ? description.substr(prefix.size()) : description});
    }
  }
  if (!errors.empty() || changed.empty()) return errors;
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    for (const auto& [known, value] : changed) {
      settings->Value(known->key, value);
      internal::Record(session, evSettingChanged, 0, fmt::format("Setting {} changed", known->key));
    }
    settings->Save();
  });
  return errors;
}

ado::RecordsetPtr Sql(Session& session, std::string_view statement) {
  internal::RequireSuper(session, "running SQL");
  return internal::Connection(session).Execute(statement);
}

}  // namespace app
