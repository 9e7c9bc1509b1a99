#pragma once
// What the record operations share about writing: the lock that serializes action numbering,
// continue-on-error steps that must not spoil the operation's transaction, and which fields of a
// record set take values.
#include <functional>

#include "ado/Recordset.h"
#include "vb/ErrorTrap.h"

namespace kvdata {
class DataConnection;
}

namespace kvaction {

/// Serializes the numbering of new actions among every client of the database until the
/// connection's open transaction ends. On SQLite the write transaction (BEGIN IMMEDIATE) already
/// holds the database's one write lock; on PostgreSQL a transaction-scoped advisory lock is taken.
/// Requires an open DataConnection::Transaction; raises the engine's error (on PostgreSQL the
/// lock goes with the transaction's next statement, whose call raises it).
void LockNumbering(kvdata::DataConnection& connection);

/// A write handed down by reference: the caller's callable outlives the call, so nothing is
/// copied or allocated per write (a std::function would allocate for the larger captures).
class WriteRef {
 public:
  template <typename F>
  WriteRef(const F& write)  // NOLINT(google-explicit-constructor): written as a lambda
      : write_(&write), call_([](const void* f) { (*static_cast<const F*>(f))(); }) {}
  void operator()() const { call_(write_); }

 private:
  const void* write_;
  void (*call_)(const void*);
};

/// Runs one write so that, when it fails, it alone is undone and the connection's open transaction
/// can still commit: PostgreSQL refuses every statement after a failed one unless a savepoint
/// catches it (SQLite undoes a failed statement by itself). The transaction's first write (only
/// reads before it) needs no savepoint: on failure the transaction starts again. Raises the
/// write's error.
void UndoAloneOnFailure(kvdata::DataConnection& connection, WriteRef write);

/// Runs work in one transaction of the connection, so that a process killed midway leaves none of
/// it. When work raises, what it wrote before the failing step stays: the transaction is committed,
/// then the error goes on to the caller. Writes inside work that may fail go through
/// UndoAloneOnFailure, so that PostgreSQL can still commit.
void WriteKeepingWhatWasDone(kvdata::DataConnection& connection, WriteRef work);

/// Runs step in continue-on-error mode (trap keeps its failure) inside a savepoint of the
/// connection's open transaction, so that a failed statement is undone alone and the rest of the
/// transaction can still commit (PostgreSQL would otherwise refuse every later statement).
/// Returns whether step succeeded. Without an open transaction the step simply runs trapped.
bool RunTrappedStep(kvdata::DataConnection& connection, vb::ErrorTrap& trap,
                    const std::function<void()>& step);

/// Whether a field takes values (its attributes include adFldUpdatable).
[[nodiscard]] bool IsUpdatable(const ado::Field& field);

}  // namespace kvaction
