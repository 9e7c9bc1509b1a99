#include "kvdata/engine/sqlite/SqliteErrors.h"

#include <fmt/format.h>

#include <string>

#include "kvdata/Errors.h"
#include "kvdata/engine/EngineError.h"

namespace kvdata::engine::sqlite {

void RaiseStatementError(sqlite3* db, int rc, std::string_view sql) {
  const int extended = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // A snapshot that went stale in a read-then-write transaction can succeed when run again;
  // plain SQLITE_BUSY means the busy timeout already ran out.
  const bool transient = extended == SQLITE_BUSY_SNAPSHOT;
  throw EngineError(kEngineError, fmt::format("{} Statement: {}", message, sql),
                    std::to_string(extended), transient);
}

void RaiseOpenError(std::string_view path, std::string_view reason) {
  throw vb::ComError(kOpenFailed, std::string(kConnectionSource),
                     fmt::format("Cannot open the database file \"{}\": {}", path, reason));
}

}  // namespace kvdata::engine::sqlite
