#include "kvaction/alerts/AlertStatements.h"

#include <fmt/format.h>

#include "kvaction/Enums.h"
#include "kvdata/DataUtility.h"

namespace kvaction {
namespace {

std::string AssignedCount(std::string_view userID) {
  return fmt::format(
      "select count(Actionnumber) from actions where dateclosed is null and ((AssigneeID = {}))",
      kvdata::DataUtility::SqlText(userID));
}

}  // namespace

// Overdue for the user, or flagged while it is the user's turn: the assignee's below
// rsOriginatorReview, the originator's from it on.
std::string AttentionCondition(std::string_view userID, kvdata::sql::Dialect dialect) {
  const std::string q = kvdata::DataUtility::SqlText(userID);
  const bool server = dialect == kvdata::sql::Dialect::Server;
  const std::string_view open = server ? "dateclosed is Null" : "isnull(dateclosed)";
  const std::string_view today = server ? "getdate()" : "date()";
  return fmt::format(
      "{0} and ("
      "(dateDue < {1} and (AssigneeID={2} or OriginatorID={2})) "
      "or "
      "(Alert <> 0 and AssigneeID = {2} and Reviewed < {3}) "
      " or "
      "(Alert <> 0 and  OriginatorID = {2} and Reviewed >= {3})"
      ")",
      open, today, q, static_cast<int32_t>(rsOriginatorReview));
}

std::string AlertsStatement(std::string_view userID, std::string_view databaseID, int16_t mode,
                            kvdata::sql::Dialect dialect) {
  std::string statement;
  if (mode == 0) {
    statement =
        "select count(ActionNumber) from actions where " + AttentionCondition(userID, dialect);
  }
  if (mode == 1) statement = AssignedCount(userID);
  if (!databaseID.empty())
    statement += " and referenceID=" + kvdata::DataUtility::SqlText(databaseID);
  return statement;
}

vb::Date AlertCutoff(const vb::Date& today, int16_t dueDays) {
  return dueDays > 0 ? today.AddDays(dueDays) : today;
}

std::string AlertRecordsStatement(std::string_view cutoffDate) {
  return fmt::format("select * from actions where dateclosed is null and datedue < datevalue('{}')",
                     cutoffDate);
}

std::string AlertFlagStatement(int32_t actionID, bool value) {
  return fmt::format("Update Actions set alert = {} where ActionID={}", value ? "True" : "False",
                     actionID);
}

}  // namespace kvaction
