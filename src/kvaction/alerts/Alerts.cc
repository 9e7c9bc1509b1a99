// The alert count of a user, the list of due actions, and the alert flag of one action.
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/alerts/AlertStatements.h"
#include "kvaction/queries/ListGuards.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/UserProfile.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

constexpr std::string_view kAlertsSource = "Action.Alerts, ";

/// The first value of a count's record set, 0 when it has no row. Failures while reading are
/// never reported: the count then stays 0, and the record set is closed in any case.
int32_t ReadCount(ado::Recordset& counted) {
  int32_t count = 0;
  vb::ErrorTrap reading;
  reading.Run([&] {
    if (!counted.IsEOF()) count = vb::CLng(counted.Fields().Item(0).Value());
  });
  reading.Run([&] { counted.Close(); });
  return count;
}

}  // namespace

// Every step runs even after a failure; the first test comes after the record set is opened, and
// it reports the failure under this operation's name.
int32_t Action::Alerts(std::string_view cUserID, std::string_view cDBID, int16_t nMode) {
  vb::ErrorTrap trap;
  std::string userID(cUserID);
  if (userID.empty()) trap.Assign(userID, [&] { return vb::Require(UserProfile())->UserID(); });

  std::shared_ptr<kvdata::DataConnection> connection;
  trap.Assign(connection, [&] { return vb::Require(state_->dataServer)->Connection(); });
  std::string statement;
  trap.Assign(statement, [&] {
    return AlertsStatement(userID, cDBID, nMode, vb::Require(connection)->Dialect());
  });
  RecordsetPtr counted;
  trap.Assign(counted,
              [&] { return OpenActionsList(*vb::Require(connection), statement, 3, 2, 1); });
  trap.RaiseIfPending(kAlertsSource);

  return counted ? ReadCount(*counted) : 0;
}

// The user, reference and mode are accepted for the interface's sake: the list holds every open
// action due before the cut-off day, whoever it belongs to.
RecordsetPtr Action::AlertRecords(std::string_view /*cUserID*/, std::string_view /*cDBID*/,
                                  int16_t /*nMode*/, int16_t nDueDays) {
  const auto connection = vb::Require(state_->dataServer)->Connection();
  const vb::Date cutoff = AlertCutoff(state_->clock->Today(), nDueDays);
  return OpenActionsList(*connection, AlertRecordsStatement(state_->locale.FormatShortDate(cutoff)),
                         3, 3, 4);
}

// The flag changes without a history line.
void Action::Alert(int32_t nActionID, bool value) {
  int32_t recordsAffected = 0;
  (void)vb::Require(state_->dataServer)
      ->Connection()
      ->Execute(AlertFlagStatement(nActionID, value), &recordsAffected, 1);
}

}  // namespace kvaction
