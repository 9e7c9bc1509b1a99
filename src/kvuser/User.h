#pragma once
// The user directory (table Users of the action database): who may log in, with which password
// (libsodium Argon2id hashes), in which workgroup.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "kvdata/Password.h"
#include "vb/Variant.h"

namespace kvdata {
class DataConnection;
class DataServer;
class UserProfile;
}  // namespace kvdata

namespace kvuser {

class User {
 public:
  /// A directory with its own data server, not yet connected. cost is the work of the password
  /// hashes it makes (Minimum only for tests and tools).
  explicit User(kvdata::PasswordCost cost = kvdata::PasswordCost::Interactive);

  /// Opens the directory's data server (kvdata::DataServer::OpenDatabase rules: an empty string
  /// takes the profile's database).
  void Connect(std::string_view cConnectionString = {},
               std::shared_ptr<kvdata::UserProfile>* profile = nullptr);
  /// Works on the database the data server has open, through its connection (one session for
  /// both); the profile rules are Connect's.
  void Share(const kvdata::DataServer& server,
             std::shared_ptr<kvdata::UserProfile>* profile = nullptr);
  /// Checks the password of the user whose ID is cUserName (compared exactly). On success the
  /// user's profile (cLoginID kept in it) becomes Server().Profile() and is handed back through
  /// profile. A wrong password, an unknown user or an empty password for a user who has one all
  /// raise kLoginFailed with kLoginFailedText, and nothing changes.
  void Login(std::string_view cUserName, std::string_view cPassword,
             std::shared_ptr<kvdata::UserProfile>* profile = nullptr,
             std::string_view cLoginID = {});
  [[nodiscard]] std::shared_ptr<kvdata::DataServer> Server() const { return server_; }
  /// The profile of the logged-in user (the server's current profile).
  [[nodiscard]] std::shared_ptr<kvdata::UserProfile> Profile() const;

  /// A field of a user's row (UserID, UserName, Email, GroupID, Created); the password hash is
  /// not readable. Raises kUnknownUser or kBadUserArgument.
  [[nodiscard]] vb::Variant UserField(std::string_view cUserID, std::string_view cFieldName) const;
  /// The same field of several users, read in one statement: by user ID (compared exactly), for
  /// the IDs that name a user; the others are left out. Raises kBadUserArgument as UserField.
  [[nodiscard]] std::map<std::string, vb::Variant> UserFields(std::span<const std::string> userIDs,
                                                              std::string_view cFieldName) const;
  /// Changes a user's display name. Raises kUnknownUser.
  void RenameUser(std::string_view cUserID, std::string_view cNewName);
  /// Removes a user; the client's list (when given) is replaced by a fresh UserList. Raises
  /// kUnknownUser.
  void RemoveUser(std::string_view cUserID, ado::RecordsetPtr* rsUsers = nullptr);

  /// Adds a user in a workgroup; an empty password lets the user log in with an empty one.
  /// Raises kBadUserArgument for an empty or taken ID, kvdata's kBadArgument for an unknown
  /// workgroup.
  void AddUser(std::string_view cUserID, std::string_view cUserName, std::string_view cPassword,
               int32_t nGroupID, std::string_view cEmail = {});
  /// Replaces a user's password. Raises kUnknownUser.
  void SetPassword(std::string_view cUserID, std::string_view cPassword);
  /// The users, read-only, by ID: UserID, UserName, Email, GroupID.
  [[nodiscard]] ado::RecordsetPtr UserList() const;

 private:
  [[nodiscard]] kvdata::DataConnection& Connection() const;
  /// The updatable row of a user (compared exactly); raises kUnknownUser.
  [[nodiscard]] ado::RecordsetPtr UserRow(std::string_view userID, int32_t lockType) const;
  [[nodiscard]] std::string Hash(std::string_view password) const;

  kvdata::PasswordCost cost_;
  std::shared_ptr<kvdata::DataServer> server_;
};

}  // namespace kvuser
