#pragma once
// The profile of the user a data server works for: identity, workgroup, rights and per-user
// values (table ActionProfiles). A profile keeps the connection it was made on, so it stays
// usable when it is handed to another data server on the same database.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kvdata/RightSet.h"
#include "vb/Variant.h"

namespace kvdata {

class DataConnection;

class UserProfile {
 public:
  /// The profile of no one, held by a data server until a user logs in: no ID, no rights, no
  /// values (reading gives Empty, writing raises kBadArgument).
  [[nodiscard]] static std::shared_ptr<UserProfile> Anonymous(
      std::shared_ptr<DataConnection> connection);
  /// The profile of a user of the directory, with the rights of his or her workgroup. Raises
  /// kBadArgument when the user is not in the directory.
  [[nodiscard]] static std::shared_ptr<UserProfile> ForUser(
      std::shared_ptr<DataConnection> connection, std::string_view userID);

  [[nodiscard]] const std::string& UserID() const { return userID_; }
  [[nodiscard]] const std::string& UserName() const { return userName_; }
  /// The user's workgroup as the directory holds it now (0 for the anonymous profile).
  [[nodiscard]] int32_t GroupID() const;
  /// True until the first per-user value of this user is written.
  [[nodiscard]] bool IsNew() const;
  /// Whether the profile's rights are every right (the SuperUser workgroup's).
  [[nodiscard]] bool AllRights() const { return rights_.IsEvery(); }
  [[nodiscard]] bool HasRight(int32_t nRight) const { return rights_.Has(nRight); }
  /// Replaces the profile's rights for this session (RightSet text form); nothing is stored.
  void RightList(std::string_view cRightList);
  [[nodiscard]] std::string RightList() const { return rights_.ToString(); }

  /// A per-user value, with the type it was written with; Empty when never written. The key
  /// "GroupID" reads the workgroup.
  [[nodiscard]] vb::Variant Value(std::string_view key) const;
  /// Stores a per-user value at once (Empty removes it). The key "GroupID" moves the user to
  /// that workgroup in the directory instead.
  void Value(std::string_view key, const vb::Variant& value);

  /// The connection string of the database the profile belongs to.
  [[nodiscard]] const std::string& ConnectionString() const;
  /// The login ID given when the user logged in (passed through, not interpreted).
  [[nodiscard]] const std::string& LoginID() const { return loginID_; }
  void LoginID(std::string loginID) { loginID_ = std::move(loginID); }

  UserProfile(std::shared_ptr<DataConnection> connection, std::string userID, std::string userName,
              RightSet rights);

 private:
  [[nodiscard]] std::string Condition(std::string_view key) const;
  [[nodiscard]] bool IsAnonymous() const { return userID_.empty(); }

  std::shared_ptr<DataConnection> connection_;
  std::string userID_;
  std::string userName_;
  RightSet rights_;
  std::string loginID_;
};

}  // namespace kvdata
