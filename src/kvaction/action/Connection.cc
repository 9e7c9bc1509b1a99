// Opening and verifying the action database, and logging a user in.
#include <array>
#include <string>
#include <vector>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/schema/Schema.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"
#include "vb/NeverDestroyed.h"

namespace kvaction {
namespace {

constexpr std::string_view kOpenSource = "clsAction.OpenConnection";
constexpr int32_t kNotActionDatabase = vb::kObjectError + 1003;
constexpr int32_t kVersionRejected = vb::kObjectError + 1004;
constexpr std::string_view kCrLf = "\r\n";

// The tables that mark a database as an action database, in the order they are checked.
const std::vector<std::string>& ActionTables() {
  static const vb::NeverDestroyed<std::vector<std::string>> tables(
      kvdata::schema::kActionTables.begin(), kvdata::schema::kActionTables.end());
  return tables.Get();
}

// Defaults a profile receives at its first login, each a 16-bit integer, in this order.
struct ProfileDefault {
  std::string_view key;
  int16_t value;
};
constexpr std::array<ProfileDefault, 3> kProfileDefaults = {
    {{"DefaultDueDays", 10}, {"AlertDays", 5}, {"AutoNotifyInterval", 60}}};

// A stored version is accepted when it is not ordinally below the required one and belongs to
// the same major version (its first character is "1").
bool VersionAccepted(std::string_view stored, std::string_view required) {
  return !stored.empty() && stored.front() == '1' && vb::CompareOrdinal(stored, required) >= 0;
}

vb::ComError NotActionDatabase(const std::string& databaseName) {
  return {kNotActionDatabase, std::string(kOpenSource),
          "The file: " + databaseName + std::string(kCrLf) +
              "does not appear to be a Velmora Database."};
}

vb::ComError VersionRejected(const std::string& databaseName, std::string_view required) {
  const std::string crlf(kCrLf);
  return {kVersionRejected, std::string(kOpenSource),
          "The file: " + crlf + crlf + databaseName + crlf + crlf + "must be updated to version " +
              std::string(required) + crlf + "to work with this release of the software."};
}

// Every data server the object creates works with the object's clock and short date form.
void Configure(kvdata::DataServer& server, const std::shared_ptr<const vb::Clock>& clock,
               const vb::Locale& locale) {
  server.SetClock(clock);
  server.SetLocale(locale);
}

// Creates the user directory and connects it to the database of the data server's current
// profile: through the data server's own connection when that is the profile's database, so
// that a client holds one session, not two (and on SQLite the directory's reads do not find
// their pages dropped by every write of the other connection). Failures become the trap's
// pending error; a directory created but not connected stays in user.
void AttachUserDirectory(vb::ErrorTrap& trap, UserPtr& user, const DataServerPtr& server,
                         const std::shared_ptr<const vb::Clock>& clock, const vb::Locale& locale) {
  trap.Assign(user, [] { return std::make_shared<kvuser::User>(); });
  trap.Run([&] {
    auto profile = vb::Require(server)->Profile();
    Configure(*vb::Require(user)->Server(), clock, locale);
    if (profile && profile->ConnectionString() == server->Connection()->ConnectionString()) {
      user->Share(*server, &profile);
    } else {
      user->Connect({}, &profile);
    }
  });
}

}  // namespace

void Action::OpenConnection(std::string_view cConnectionString, UserProfilePtr* oProfile) {
  State& s = *state_;
  vb::ErrorTrap trap;
  trap.Run([&] {
    s.dataServer = std::make_shared<kvdata::DataServer>();
    Configure(*s.dataServer, s.clock, s.locale);
  });
  trap.Run([&] { vb::Require(s.dataServer)->OpenDatabase(cConnectionString, oProfile); });
  // The name is read from an open database only, so that a failed open reaches the caller with
  // the data server's own error rather than with the closed connection's. A data server that
  // could not open stays in the member, unopened.
  std::string databaseName;
  if (!trap.HasPending()) {
    trap.Assign(databaseName, [&] { return s.dataServer->Connection()->DatabaseName(); });
  }
  trap.RaiseIfPending();

  const std::string required = RequiredDatabaseVersion();
  if (!trap.Run([&] { s.dataServer->VerifyTables(ActionTables()); })) {
    trap.Run([&] { s.dataServer->CloseDatabase(); });
    s.dataServer.reset();
    throw NotActionDatabase(databaseName);
  }
  // A missing or unreadable version reads as the empty text, which is rejected.
  std::string version;
  trap.Assign(version, [&] { return vb::CStr(s.dataServer->Settings()->Value("Version")); });
  if (!VersionAccepted(version, required)) {
    trap.Run([&] { s.dataServer->CloseDatabase(); });
    s.dataServer.reset();
    throw VersionRejected(databaseName, required);
  }

  // An existing user directory is kept as it is (not reconnected); a failed connect is not
  // reported, the open has succeeded.
  if (!s.user) AttachUserDirectory(trap, s.user, s.dataServer, s.clock, s.locale);
}

void Action::Login(std::string_view cUserName, std::string_view cPassword, UserProfilePtr* oProfile,
                   std::string_view cLoginID) {
  State& s = *state_;
  vb::ErrorTrap trap;
  if (!s.dataServer && oProfile != nullptr && *oProfile) {
    trap.Run([&] { OpenConnection({}, oProfile); });
    trap.RaiseIfPending();
  }
  if (!s.user) AttachUserDirectory(trap, s.user, s.dataServer, s.clock, s.locale);
  trap.Run([&] { vb::Require(s.user)->Login(cUserName, cPassword, oProfile, cLoginID); });
  trap.RaiseIfPending();

  // From here on nothing is reported: the user is logged in even when the hand-over of the
  // profile or its defaults fail.
  trap.Run([&] {
    auto loggedIn = s.user->Server()->Profile();
    vb::Require(s.dataServer)->SetProfile(&loggedIn);
  });
  UserProfilePtr profile;
  trap.Assign(profile, [&] { return vb::Require(s.dataServer)->Profile(); });
  bool isNew = false;
  trap.Assign(isNew, [&] { return vb::Require(profile)->IsNew(); });
  if (isNew) {
    for (const auto& entry : kProfileDefaults) {
      trap.Run([&] { profile->Value(entry.key, vb::Variant(entry.value)); });
    }
  }
  // Keeps the directory's record of the workgroup in step with the profile.
  trap.Run([&] {
    const int32_t groupID = vb::Require(profile)->GroupID();
    const auto directoryProfile = vb::Require(s.user->Profile());
    if (directoryProfile->GroupID() != groupID) {
      directoryProfile->Value("GroupID", vb::Variant(groupID));
    }
  });
}

}  // namespace kvaction
