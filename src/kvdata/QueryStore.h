#pragma once
// The saved queries (table ActionQueries): each a set of criteria over the actions table, owned
// by the user who saved it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "vb/Variant.h"

namespace kvdata {

struct ServerState;

class QueryStore {
 public:
  explicit QueryStore(std::shared_ptr<const ServerState> state);

  /// The saved query's row ("select * from ActionQueries where QueryID=" + ID) opened with the
  /// given ADO options; at EOF when there is no such query.
  [[nodiscard]] ado::RecordsetPtr QueryRecordset(int32_t nQueryID, int32_t cursorType = 1,
                                                 int32_t cursorLocation = 2,
                                                 int32_t lockType = 3) const;
  /// Removes every query owned by a user.
  void RemoveUserQueries(std::string_view cUserID);

  /// Saves a query owned by the current user, with criteria given as column name and value
  /// (AssignedTo, ApplyStatus, Status, DueDays, Assignee, …); returns its QueryID. An unknown
  /// column raises ADO's kItemNotFound and nothing is saved.
  int32_t CreateQuery(std::string_view cName,
                      const std::vector<std::pair<std::string, vb::Variant>>& criteria);
  /// The queries of one user (all users when empty), read-only, by name: QueryID, Name, UserID.
  [[nodiscard]] ado::RecordsetPtr QueryList(std::string_view cUserID = {}) const;
  /// Removes one query (no error when there is none).
  void DeleteQuery(int32_t nQueryID);

 private:
  std::shared_ptr<const ServerState> state_;
};

}  // namespace kvdata
