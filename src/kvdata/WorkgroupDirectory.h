#pragma once
// The workgroups of an action database (table ActionGroups) and the workgroup of each user
// (Users.GroupID). Workgroup -1 is SuperUser and holds every right.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ado/Recordset.h"

namespace kvdata {

class DataConnection;
struct ServerState;

/// The SuperUser workgroup's ID.
inline constexpr int32_t kSuperUserGroup = -1;

class WorkgroupDirectory {
 public:
  explicit WorkgroupDirectory(std::shared_ptr<const ServerState> state);

  /// The workgroup of a user. Raises kBadArgument when the user is not in the directory.
  [[nodiscard]] int32_t UserWorkgroup(std::string_view cUserID) const;
  /// Moves a user into a workgroup. Raises kBadArgument when the user or the workgroup does not
  /// exist (nothing is changed then).
  void SetUserWorkgroup(std::string_view cUserID, int32_t nGroupID);
  /// The right list of a workgroup (RightSet text form; "*" for SuperUser). Raises kBadArgument
  /// when there is no such workgroup.
  [[nodiscard]] std::string WorkgroupRightList(int32_t nGroupID) const;

  /// Creates a workgroup with a right list (RightSet text form, validated) and returns its ID.
  int32_t CreateWorkgroup(std::string_view cName, std::string_view cRightList);
  /// The workgroups, read-only, ordered by ID: GroupID, GroupName, RightList.
  [[nodiscard]] ado::RecordsetPtr WorkgroupList() const;

 private:
  std::shared_ptr<const ServerState> state_;
};

/// The directory's rules over a given connection, for the profiles that carry their own.
[[nodiscard]] int32_t ReadUserWorkgroup(DataConnection& connection, std::string_view userID);
void WriteUserWorkgroup(DataConnection& connection, std::string_view userID, int32_t groupID);
[[nodiscard]] std::string ReadWorkgroupRightList(DataConnection& connection, int32_t groupID);

}  // namespace kvdata
