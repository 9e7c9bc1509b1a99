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
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

// How many numbers one creation tries before it gives up.
constexpr int kAttempts = 4;

// The highest number, in a text both engines run as it is (it needs no translation).
constexpr std::string_view kHighestNumber =
    R"(select "ActionNumber" from "actions" order by "ActionNumber" desc LIMIT 1)";
constexpr std::string_view kNoActions = "select * from actions where ActionNumber=0";
constexpr std::string_view kCreatedText = "Record Created";
constexpr std::string_view kNumberColumn = "ActionNumber";

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
// text, so Null reads as 0 and 12 as 012). One value read inside the numbering lock: the engine
// answers it directly, without a record set.
int32_t HighestNumber(kvdata::DataConnection& connection) {
  const kvdata::engine::Result highest = connection.Engine().Execute(kHighestNumber);
  if (highest.rows.empty() || highest.rows.front().empty()) return 0;
  const vb::Variant& cell = highest.rows.front().front();
  // A stored whole number that is not negative reads as itself behind the digit 0.
  if (const auto* whole = std::get_if<int32_t>(&cell.storage()); whole != nullptr && *whole >= 0) {
    return *whole;
  }
  std::string digits = "0";
  digits += vb::TextOf(cell);
  return vb::CLng(digits);
}

// Adds the new row to rs with the values every new action gets but its number, which is set
// under the numbering lock.
void StartNewRow(ado::Recordset& rs, const NewActionValues& values) {
  rs.AddNew();
  if (!values.referenceID.empty()) rs["ReferenceID"].Value(values.referenceID);
  if (!values.reference.empty()) rs["Reference"].Value(values.reference);
  if (!values.userID.empty()) rs["OriginatorID"].Value(values.userID);
  if (!values.userName.empty()) rs["Originator"].Value(values.userName);
  rs["DateOpened"].Value(values.today);
  if (values.dueOffset != 0) rs["DateDue"].Value(values.today.AddDays(values.dueOffset));
  rs["Alert"].Value(true);
}

// Copies each non-null value of defaults into the updatable column of the same name of the new
// row. A column the table lacks, or a value it refuses, is passed over. Returns whether the
// defaults gave the row its number.
bool LayDefaults(ado::Recordset& rs, ado::Recordset& defaults, vb::ErrorTrap& trap) {
  int32_t count = 0;
  bool numbered = false;
  trap.Assign(count, [&] { return defaults.Fields().Count(); });
  for (int32_t i = 0; i < count; ++i) {
    trap.Run([&] {
      const ado::Field source = defaults.Fields().Item(i);
      const vb::Variant value = source.Value();
      ado::Field target = rs.Fields().Item(source.Name());
      if (IsUpdatable(target) && !value.IsNull()) {
        target.Value(value);
        numbered = numbered || vb::EqualsText(source.Name(), kNumberColumn);
      }
    });
  }
  return numbered;
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

  // Everything that does not need the number is done before the write transaction starts: on
  // SQLite BEGIN IMMEDIATE is the numbering lock, and other clients wait only from the highest
  // number to the commit.
  RecordsetPtr target = rs != nullptr ? *rs : nullptr;
  if (!target) trap.Assign(target, [&] { return connection->OpenRecordset(kNoActions, 1, 2, 3); });
  // Each attempt that fails uses up a number, as when the number was set first.
  int32_t failed = 0;
  while (!trap.Run([&] { StartNewRow(*vb::Require(target), values); })) {
    trap.Run([&] { vb::Require(target)->CancelUpdate(); });
    if (++failed == kAttempts) return 0;
  }
  bool numbered = false;
  if (rsDefaults) numbered = LayDefaults(*target, *rsDefaults, trap);
  // From here on a creation that stops takes its new row back out of rs.
  const auto abandon = [&] {
    trap.Run([&] { target->CancelUpdate(); });
    return 0;
  };

  std::optional<kvdata::DataConnection::Transaction> transaction;
  if (!trap.Run([&] { transaction.emplace(*connection); })) return abandon();
  if (rs != nullptr) *rs = target;
  if (!trap.Run([&] { LockNumbering(*connection); })) return abandon();
  int32_t number = 0;
  trap.Assign(number, [&] { return HighestNumber(*connection); });
  // The caller's defaults may have given the number; they override the one counted here.
  if (!numbered && !trap.Run([&] { (*target)[kNumberColumn].Value(number + failed + 1); })) {
    return abandon();
  }

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
