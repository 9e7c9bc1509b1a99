#include "kvuser/User.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "kvuser/Errors.h"
#include "vb/Convert.h"

namespace kvuser {
namespace {

[[noreturn]] void Raise(UserError number, std::string description) {
  throw vb::ComError(number, std::string(kUserSource), std::move(description));
}

bool PasswordMatches(const vb::Variant& hash, std::string_view password,
                     kvdata::PasswordCost cost) {
  // A missing hash is checked against a decoy of the same cost, so that the time a refusal takes
  // does not tell which user IDs exist.
  if (hash.IsNull() || vb::TextOf(hash).empty()) {
    (void)kvdata::VerifyPassword(kvdata::DecoyHash(cost), password);
    return password.empty();
  }
  return kvdata::VerifyPassword(vb::TextOf(hash), password);
}

constexpr std::array<std::string_view, 5> kReadableFields = {"UserID", "UserName", "Email",
                                                             "GroupID", "Created"};

/// The column a readable field name (any letter case) stands for; raises for any other name.
std::string_view RequireReadable(std::string_view name) {
  const auto field = std::find_if(kReadableFields.begin(), kReadableFields.end(),
                                  [&](auto readable) { return vb::EqualsText(readable, name); });
  if (field == kReadableFields.end()) {
    Raise(kBadUserArgument, fmt::format("\"{}\" is not a field of the user directory.", name));
  }
  return *field;
}

}  // namespace

User::User(kvdata::PasswordCost cost)
    : cost_(cost), server_(std::make_shared<kvdata::DataServer>()) {}

void User::Connect(std::string_view cConnectionString,
                   std::shared_ptr<kvdata::UserProfile>* profile) {
  server_->OpenDatabase(cConnectionString, profile);
}

void User::Share(const kvdata::DataServer& server, std::shared_ptr<kvdata::UserProfile>* profile) {
  server_->ShareDatabase(server, profile);
}

kvdata::DataConnection& User::Connection() const {
  const auto profile = server_->Profile();
  if (!profile) Raise(kNotConnected, "The user directory is not connected to a database.");
  return *server_->Connection();
}

ado::RecordsetPtr User::UserRow(std::string_view userID, int32_t lockType) const {
  auto rs = Connection().OpenRecordset(
      "select * from Users where UserID=" + kvdata::DataUtility::SqlText(userID), ado::adOpenKeyset,
      ado::adUseServer, lockType);
  // The table's key ignores letter case; user IDs are compared exactly.
  while (!rs->IsEOF() && vb::TextOf(rs->Fields().Item("UserID").Value()) != userID) {
    rs->MoveNext();
  }
  if (rs->IsEOF()) Raise(kUnknownUser, fmt::format("There is no user \"{}\".", userID));
  return rs;
}

std::string User::Hash(std::string_view password) const {
  return password.empty() ? std::string() : kvdata::HashPassword(password, cost_);
}

void User::Login(std::string_view cUserName, std::string_view cPassword,
                 std::shared_ptr<kvdata::UserProfile>* profile, std::string_view cLoginID) {
  vb::Variant hash;
  bool known = true;
  try {
    hash = UserRow(cUserName, ado::adLockReadOnly)->Fields().Item("PasswordHash").Value();
  } catch (const vb::ComError& e) {
    if (e.number() != kUnknownUser) throw;
    known = false;
    hash = std::string(kvdata::DecoyHash(cost_));
  }
  if (!PasswordMatches(hash, cPassword, cost_) || !known) {
    Raise(kLoginFailed, std::string(kLoginFailedText));
  }
  auto user = kvdata::UserProfile::ForUser(server_->Connection(), cUserName);
  user->LoginID(std::string(cLoginID));
  server_->SetProfile(&user);
  if (profile) *profile = user;
}

std::shared_ptr<kvdata::UserProfile> User::Profile() const { return server_->Profile(); }

vb::Variant User::UserField(std::string_view cUserID, std::string_view cFieldName) const {
  RequireReadable(cFieldName);
  return UserRow(cUserID, ado::adLockReadOnly)->Fields().Item(cFieldName).Value();
}

std::map<std::string, vb::Variant> User::UserFields(std::span<const std::string> userIDs,
                                                    std::string_view cFieldName) const {
  const std::string_view field = RequireReadable(cFieldName);
  std::map<std::string, vb::Variant> found;
  if (userIDs.empty()) return found;
  // One statement with the IDs bound, straight to the engine: a few short rows, read at once.
  const std::string sql =
      fmt::format(R"(select "UserID", {} from "Users" where {})", kvdata::engine::QuoteName(field),
                  kvdata::engine::EqualsAnyBound("UserID", userIDs.size()));
  const std::vector<vb::Variant> ids(userIDs.begin(), userIDs.end());
  for (auto& row : Connection().Engine().Execute(sql, ids).rows) {
    // The table's key ignores letter case; user IDs are compared exactly.
    std::string id = vb::TextOf(row[0]);
    if (std::find(userIDs.begin(), userIDs.end(), id) == userIDs.end()) continue;
    found.insert_or_assign(std::move(id), std::move(row[1]));
  }
  return found;
}

void User::RenameUser(std::string_view cUserID, std::string_view cNewName) {
  UserRow(cUserID, ado::adLockOptimistic)->Update({"UserName"}, {cNewName});
}

void User::RemoveUser(std::string_view cUserID, ado::RecordsetPtr* rsUsers) {
  UserRow(cUserID, ado::adLockOptimistic)->Delete();
  if (rsUsers) *rsUsers = UserList();
}

void User::AddUser(std::string_view cUserID, std::string_view cUserName, std::string_view cPassword,
                   int32_t nGroupID, std::string_view cEmail) {
  if (cUserID.empty()) Raise(kBadUserArgument, "A user needs an ID.");
  auto& connection = Connection();
  kvdata::DataConnection::Transaction transaction(connection);
  (void)kvdata::ReadWorkgroupRightList(connection, nGroupID);  // the workgroup must exist
  const auto rs = connection.OpenRecordset("select * from Users where UserID=" +
                                           kvdata::DataUtility::SqlText(cUserID));
  if (!rs->IsEOF()) {
    Raise(kBadUserArgument, fmt::format("The user ID \"{}\" is already taken.", cUserID));
  }
  const auto hash = Hash(cPassword);
  rs->AddNew({"UserID", "UserName", "Email", "PasswordHash", "GroupID", "Created"},
             {cUserID, cUserName, cEmail.empty() ? vb::Variant(vb::Null) : vb::Variant(cEmail),
              hash.empty() ? vb::Variant(vb::Null) : vb::Variant(hash), nGroupID,
              connection.Clock().Now()});
  transaction.Commit();
}

void User::SetPassword(std::string_view cUserID, std::string_view cPassword) {
  const auto hash = Hash(cPassword);
  UserRow(cUserID, ado::adLockOptimistic)
      ->Update({"PasswordHash"}, {hash.empty() ? vb::Variant(vb::Null) : vb::Variant(hash)});
}

ado::RecordsetPtr User::UserList() const {
  return Connection().OpenRecordset(
      "select UserID, UserName, Email, GroupID from Users order by UserID", ado::adOpenStatic,
      ado::adUseClient, ado::adLockReadOnly);
}

}  // namespace kvuser
