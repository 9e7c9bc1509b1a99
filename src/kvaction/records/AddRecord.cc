// Creating an action: the next number, the values every new action gets, the caller's defaults
// laid over them, the stored row and its creation event. The numbering read, the insert and the
// event form one write transaction under the numbering lock, so that clients creating actions at
// the same time never store the same number.
#include <optional>
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/records/RecordWrites.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/EventLog.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

// How many numbers one creation tries before it gives up.
constexpr int kAttempts = 4;

constexpr std::string_view kHighestNumber =
    "select top 1 * from actions order by ActionNumber desc";
constexpr std::string_view kNoActions = "select * from actions where ActionNumber=0";
constexpr std::string_view kCreatedText = "Record Created";

// What every new action gets before the caller's defaults.
struct NewActionValues {
  std::string userID;
  std::string userName;
  int16_t dueOffset = 0;
  std::string referenceID;
  std::string reference;
  vb::Date today;
};

// The highest stored number; a missing number counts as 0 (the digit 0 is put in front of its
// text, so Null reads as 0 and 12 as 012). Read inside the numbering lock, through a record set
// that is closed before the new row is added.
int32_t HighestNumber(kvdata::DataConnection& connection) {
  const RecordsetPtr rs = connection.OpenRecordset(kHighestNumber, 1, 2, 3);
  int32_t number = 0;
  if (!rs->IsEOF() && !rs->IsBOF()) {
    const vb::Variant& cell = (*rs)["ActionNumber"].Value();
    // A stored whole number that is not negative reads as itself behind the digit 0.
    if (const auto* whole = std::get_if<int32_t>(&cell.storage());
        whole != nullptr && *whole >= 0) {
      number = *whole;
    } else {
      std::string digits = "0";
      digits += vb::TextOf(cell);
      number = vb::CLng(digits);
    }
  }
  rs->Close();
  return number;
}

// Adds the new row to rs with its number and the values every new action gets.
void StartNewRow(ado::Recordset& rs, int32_t number, const NewActionValues& values) {
  rs.AddNew();
  rs["ActionNumber"].Value(number);
  if (!values.referenceID.empty()) rs["ReferenceID"].Value(values.referenceID);
  if (!values.reference.empty()) rs["Reference"].Value(values.reference);
  if (!values.userID.empty()) rs["OriginatorID"].Value(values.userID);
  if (!values.userName.empty()) rs["Originator"].Value(values.userName);
  rs["DateOpened"].Value(values.today);
  if (values.dueOffset != 0) rs["DateDue"].Value(values.today.AddDays(values.dueOffset));
  rs["Alert"].Value(true);
}

// Copies each non-null value of defaults into the updatable column of the same name of the new
// row, the number included. A column the table lacks, or a value it refuses, is passed over.
void LayDefaults(ado::Recordset& rs, ado::Recordset& defaults, vb::ErrorTrap& trap) {
  int32_t count = 0;
  trap.Assign(count, [&] { return defaults.Fields().Count(); });
  for (int32_t i = 0; i < count; ++i) {
    trap.Run([&] {
      const ado::Field source = defaults.Fields().Item(i);
      const vb::Variant value = source.Value();
      ado::Field target = rs.Fields().Item(source.Name());
      if (IsUpdatable(target) && !value.IsNull()) target.Value(value);
    });
  }
}

}  // namespace

// Continue-on-error throughout: every failure shows as the result 0 and none reaches the caller.
// A creation that fails leaves nothing behind: no row in rs, no row or event in the database.
int32_t Action::addRecord(RecordsetPtr* rs, const RecordsetPtr& rsDefaults,
                          std::string_view cReference) {
  const State& s = *state_;
  vb::ErrorTrap trap;
  std::shared_ptr<kvdata::DataConnection> connection;
  if (!trap.Assign(connection, [&] { return vb::Require(s.dataServer)->Connection(); })) return 0;

  NewActionValues values;
  values.referenceID = s.referenceID;
  values.reference = std::string(cReference);
  values.today = s.clock->Today();
  std::shared_ptr<kvdata::UserProfile> profile;
  trap.Run([&] {
    profile = vb::Require(s.dataServer->Profile());
    values.userID = profile->UserID();
    values.userName = profile->UserName();
  });
  trap.Assign(values.dueOffset,
              [&] { return vb::CInt(vb::Require(profile)->Value("DefaultDueDays")); });
  if (values.dueOffset == 0) {
    trap.Assign(values.dueOffset,
                [&] { return vb::CInt(s.dataServer->Settings()->Value("DueDays")); });
  }

  // The highest number is read under the numbering lock (on SQLite the write transaction's
  // BEGIN IMMEDIATE, on PostgreSQL an advisory lock sent with that read), which holds until the
  // row and its event are committed.
  std::optional<kvdata::DataConnection::Transaction> transaction;
  if (!trap.Run([&] {
        transaction.emplace(*connection);
        LockNumbering(*connection);
      })) {
    return 0;
  }
  int32_t number = 0;
  trap.Assign(number, [&] { return HighestNumber(*connection); });
  RecordsetPtr target = rs != nullptr ? *rs : nullptr;
  if (!target) trap.Assign(target, [&] { return connection->OpenRecordset(kNoActions, 1, 2, 3); });
  if (rs != nullptr) *rs = target;

  // Each attempt takes the next number; one that fails leaves no row behind.
  bool started = false;
  for (int attempt = 0; attempt < kAttempts && !started; ++attempt) {
    ++number;
    started = trap.Run([&] { StartNewRow(*vb::Require(target), number, values); });
    if (!started) trap.Run([&] { vb::Require(target)->CancelUpdate(); });
  }
  if (!started) return 0;
  if (rsDefaults) LayDefaults(*target, *rsDefaults, trap);
  // From here on a creation that stops takes its new row back out of rs.
  const auto abandon = [&] {
    trap.Run([&] { target->CancelUpdate(); });
    return 0;
  };

  int32_t actionID = 0;
  const bool stored = trap.Run([&] {
    target->Update();
    actionID = vb::CLng((*target)["ActionID"].Value());
  });
  if (!stored) return abandon();
  // The row and its creation event are one: without the event the creation is undone.
  const bool recorded = trap.Run([&] {
    s.dataServer->Events()->AddEvent(evRecordCreated, actionID, kCreatedText);
    transaction->Commit();
  });
  return recorded ? actionID : 0;
}

}  // namespace kvaction
