#include "kvdata/WorkgroupDirectory.h"

#include <fmt/format.h>

#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/RightSet.h"
#include "kvdata/ServerState.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

[[noreturn]] void Refuse(std::string description) {
  throw vb::ComError(kBadArgument, std::string(kWorkgroupSource), std::move(description));
}

[[noreturn]] void RefuseUnknownUser(std::string_view userID) {
  Refuse(fmt::format("There is no user \"{}\".", userID));
}

ado::RecordsetPtr ReadOnly(DataConnection& connection, const std::string& sql) {
  return connection.OpenRecordset(sql, ado::adOpenForwardOnly, ado::adUseServer,
                                  ado::adLockReadOnly);
}

ado::RecordsetPtr UserRow(DataConnection& connection, std::string_view userID, int32_t lockType) {
  auto rs = connection.OpenRecordset(
      "select UserID, GroupID from Users where UserID=" + DataUtility::SqlText(userID),
      ado::adOpenKeyset, ado::adUseServer, lockType);
  // Users are keyed without regard to letter case; their IDs are compared exactly.
  while (!rs->IsEOF() && vb::TextOf(rs->Fields().Item("UserID").Value()) != userID) {
    rs->MoveNext();
  }
  if (rs->IsEOF()) RefuseUnknownUser(userID);
  return rs;
}

ado::RecordsetPtr GroupRow(DataConnection& connection, int32_t groupID) {
  auto rs =
      ReadOnly(connection, fmt::format("select * from ActionGroups where GroupID={}", groupID));
  if (rs->IsEOF()) Refuse(fmt::format("There is no workgroup {}.", groupID));
  return rs;
}

}  // namespace

int32_t ReadUserWorkgroup(DataConnection& connection, std::string_view userID) {
  // Read on every rights question: straight from the engine with the ID bound, no record set.
  constexpr std::string_view kSelect =
      R"(select "UserID", "GroupID" from "Users" where "UserID"=?)";
  const vb::Variant id[] = {vb::Variant(userID)};
  for (const auto& row : connection.Engine().Execute(kSelect, id).rows) {
    // Users are keyed without regard to letter case; their IDs are compared exactly.
    if (vb::TextOf(row[0]) != userID) continue;
    return row[1].IsNull() ? 0 : vb::CLng(row[1]);
  }
  RefuseUnknownUser(userID);
}

void WriteUserWorkgroup(DataConnection& connection, std::string_view userID, int32_t groupID) {
  DataConnection::Transaction transaction(connection);
  (void)GroupRow(connection, groupID);
  UserRow(connection, userID, ado::adLockOptimistic)->Update({"GroupID"}, {groupID});
  transaction.Commit();
}

std::string ReadWorkgroupRightList(DataConnection& connection, int32_t groupID) {
  if (groupID == kSuperUserGroup) return RightSet::Every().ToString();
  return vb::TextOf(GroupRow(connection, groupID)->Fields().Item("RightList").Value());
}

WorkgroupDirectory::WorkgroupDirectory(std::shared_ptr<const ServerState> state)
    : state_(std::move(state)) {}

int32_t WorkgroupDirectory::UserWorkgroup(std::string_view cUserID) const {
  return ReadUserWorkgroup(state_->Open(kWorkgroupSource), cUserID);
}

void WorkgroupDirectory::SetUserWorkgroup(std::string_view cUserID, int32_t nGroupID) {
  WriteUserWorkgroup(state_->Open(kWorkgroupSource), cUserID, nGroupID);
}

std::string WorkgroupDirectory::WorkgroupRightList(int32_t nGroupID) const {
  return ReadWorkgroupRightList(state_->Open(kWorkgroupSource), nGroupID);
}

int32_t WorkgroupDirectory::CreateWorkgroup(std::string_view cName, std::string_view cRightList) {
  const auto rights = RightSet::Parse(cRightList, kWorkgroupSource);
  if (cName.empty()) Refuse("A workgroup needs a name.");
  auto& connection = state_->Open(kWorkgroupSource);
  const auto rs = connection.OpenRecordset("select * from ActionGroups where GroupID=0");
  rs->AddNew({"GroupName", "RightList"}, {cName, rights.ToString()});
  return vb::CLng(rs->Fields().Item("GroupID").Value());
}

ado::RecordsetPtr WorkgroupDirectory::WorkgroupList() const {
  return ReadOnly(state_->Open(kWorkgroupSource),
                  "select GroupID, GroupName, RightList from ActionGroups order by GroupID");
}

}  // namespace kvdata
