#include "kvdata/QueryStore.h"

#include <fmt/format.h>

#include "kvdata/DataUtility.h"
#include "kvdata/ServerState.h"
#include "vb/Convert.h"

namespace kvdata {

QueryStore::QueryStore(std::shared_ptr<const ServerState> state) : state_(std::move(state)) {}

ado::RecordsetPtr QueryStore::QueryRecordset(int32_t nQueryID, int32_t cursorType,
                                             int32_t cursorLocation, int32_t lockType) const {
  return state_->Open(kQuerySource)
      .OpenRecordset("select * from ActionQueries where QueryID=" + std::to_string(nQueryID),
                     cursorType, cursorLocation, lockType);
}

void QueryStore::RemoveUserQueries(std::string_view cUserID) {
  state_->Open(kQuerySource)
      .Execute("delete from ActionQueries where UserID=" + DataUtility::SqlText(cUserID));
}

int32_t QueryStore::CreateQuery(std::string_view cName,
                                const std::vector<std::pair<std::string, vb::Variant>>& criteria) {
  auto& connection = state_->Open(kQuerySource);
  std::vector<std::string> fields{"UserID", "Name"};
  std::vector<vb::Variant> values{state_->CurrentUserID(), cName};
  for (const auto& [field, value] : criteria) {
    fields.push_back(field);
    values.push_back(value);
  }
  const auto rs = connection.OpenRecordset("select * from ActionQueries where QueryID=0");
  rs->AddNew(fields, values);
  return vb::CLng(rs->Fields().Item("QueryID").Value());
}

ado::RecordsetPtr QueryStore::QueryList(std::string_view cUserID) const {
  std::string sql = "select QueryID, Name, UserID from ActionQueries";
  if (!cUserID.empty()) sql += " where UserID=" + DataUtility::SqlText(cUserID);
  return state_->Open(kQuerySource)
      .OpenRecordset(sql + " order by Name", ado::adOpenStatic, ado::adUseClient,
                     ado::adLockReadOnly);
}

void QueryStore::DeleteQuery(int32_t nQueryID) {
  state_->Open(kQuerySource)
      .Execute(fmt::format("delete from ActionQueries where QueryID={}", nQueryID));
}

}  // namespace kvdata
