#include "kvdata/UserProfile.h"

#include <fmt/format.h>

#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/StoredValue.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

constexpr std::string_view kGroupKey = "GroupID";

// A per-user value's row, read with the user and the key bound: one text for every user and
// key, which both engines run as it is, so it needs no translation.
constexpr std::string_view kReadValue =
    R"(select "ValueType", "ValueText" from "ActionProfiles" where "UserID"=? and "ProfileKey"=?)";

vb::Variant ReadValue(DataConnection& connection, std::string_view userID, std::string_view key) {
  const vb::Variant keys[] = {userID, key};
  return StoredValueIn(connection.Engine().Execute(kReadValue, keys));
}

}  // namespace

UserProfile::UserProfile(std::shared_ptr<DataConnection> connection, std::string userID,
                         std::string userName, RightSet rights)
    : connection_(std::move(connection)),
      userID_(std::move(userID)),
      userName_(std::move(userName)),
      rights_(std::move(rights)) {}

std::shared_ptr<UserProfile> UserProfile::Anonymous(std::shared_ptr<DataConnection> connection) {
  return std::make_shared<UserProfile>(std::move(connection), "", "", RightSet());
}

std::shared_ptr<UserProfile> UserProfile::ForUser(std::shared_ptr<DataConnection> connection,
                                                  std::string_view userID) {
  const auto group = ReadUserWorkgroup(*connection, userID);
  const auto rights = RightSet::Parse(ReadWorkgroupRightList(*connection, group), kProfileSource);
  const auto rs = connection->OpenRecordset(
      "select UserID, UserName from Users where UserID=" + DataUtility::SqlText(userID),
      ado::adOpenForwardOnly, ado::adUseServer, ado::adLockReadOnly);
  std::string name;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (vb::TextOf(rs->Fields().Item("UserID").Value()) == userID) {
      name = vb::TextOf(rs->Fields().Item("UserName").Value());
    }
  }
  return std::make_shared<UserProfile>(std::move(connection), std::string(userID), name, rights);
}

int32_t UserProfile::GroupID() const {
  return IsAnonymous() ? 0 : ReadUserWorkgroup(*connection_, userID_);
}

bool UserProfile::IsNew() const {
  if (IsAnonymous()) return true;
  const auto rs = connection_->OpenRecordset(
      "select ProfileKey from ActionProfiles where UserID=" + DataUtility::SqlText(userID_),
      ado::adOpenForwardOnly, ado::adUseServer, ado::adLockReadOnly);
  return rs->IsEOF();
}

void UserProfile::RightList(std::string_view cRightList) {
  rights_ = RightSet::Parse(cRightList, kProfileSource);
}

std::string UserProfile::Condition(std::string_view key) const {
  return "UserID=" + DataUtility::SqlText(userID_) + " and ProfileKey=" + DataUtility::SqlText(key);
}

vb::Variant UserProfile::Value(std::string_view key) const {
  if (IsAnonymous()) return {};
  if (vb::EqualsText(key, kGroupKey)) return GroupID();
  return ReadValue(*connection_, userID_, key);
}

void UserProfile::Value(std::string_view key, const vb::Variant& value) {
  if (IsAnonymous()) {
    throw vb::ComError(kBadArgument, std::string(kProfileSource),
                       fmt::format("No user is logged in: the value \"{}\" cannot be kept.", key));
  }
  if (vb::EqualsText(key, kGroupKey)) {
    WriteUserWorkgroup(*connection_, userID_, vb::CLng(value));
    return;
  }
  WriteStoredValue(*connection_, "ActionProfiles", Condition(key), {"UserID", "ProfileKey"},
                   {userID_, std::string(key)}, value);
}

const std::string& UserProfile::ConnectionString() const { return connection_->ConnectionString(); }

}  // namespace kvdata
