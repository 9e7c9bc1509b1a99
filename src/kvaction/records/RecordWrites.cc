#include "kvaction/records/RecordWrites.h"

#include "kvdata/DataConnection.h"
#include "kvdata/engine/Engine.h"

namespace kvaction {
namespace {

// The advisory-lock key that stands for "numbering new actions" on a PostgreSQL database: any
// constant works as long as every client of the library takes the same one.
constexpr std::string_view kNumberingLock = "SELECT pg_advisory_xact_lock(1802724974)";

constexpr std::string_view kSavepoint = "SAVEPOINT kv_undo_alone";
constexpr std::string_view kRelease = "RELEASE SAVEPOINT kv_undo_alone";
constexpr std::string_view kRollbackTo = "ROLLBACK TO SAVEPOINT kv_undo_alone";

}  // namespace

void LockNumbering(kvdata::DataConnection& connection) {
  auto& engine = connection.Engine();
  // The lock travels with the highest-number read that follows it: one round trip less while
  // other clients wait.
  if (engine.Target() == kvdata::sql::Target::PostgreSQL) engine.ExecuteUnread(kNumberingLock);
}

void UndoAloneOnFailure(kvdata::DataConnection& connection, WriteRef write) {
  auto& engine = connection.Engine();
  if (!connection.InTransaction() || engine.Target() != kvdata::sql::Target::PostgreSQL) {
    write();
    return;
  }
  if (engine.TransactionUntouched()) {
    // Nothing before this write is to be kept (at most reads ran): on failure the transaction
    // starts again, and no savepoint is needed.
    try {
      write();
    } catch (...) {
      engine.RestartTransaction();
      throw;
    }
    return;
  }
  (void)engine.Execute(kSavepoint);
  try {
    write();
  } catch (...) {
    (void)engine.Execute(kRollbackTo);
    (void)engine.Execute(kRelease);
    throw;
  }
  (void)engine.Execute(kRelease);
}

void WriteKeepingWhatWasDone(kvdata::DataConnection& connection, WriteRef work) {
  kvdata::DataConnection::Transaction transaction(connection);
  try {
    work();
  } catch (...) {
    transaction.Commit();
    throw;
  }
  transaction.Commit();
}

bool RunTrappedStep(kvdata::DataConnection& connection, vb::ErrorTrap& trap,
                    const std::function<void()>& step) {
  return trap.Run([&] { UndoAloneOnFailure(connection, step); });
}

bool IsUpdatable(const ado::Field& field) {
  return (field.Attributes() & ado::adFldUpdatable) != 0;
}

}  // namespace kvaction
