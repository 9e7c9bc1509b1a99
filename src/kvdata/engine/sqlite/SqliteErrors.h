#pragma once
// SQLite's result codes as the data server's errors. The one place that reads them.
#include <sqlite3.h>

#include <string_view>

namespace kvdata::engine::sqlite {

/// Raises the EngineError for a failed call (rc) on db, naming the statement.
[[noreturn]] void RaiseStatementError(sqlite3* db, int rc, std::string_view sql);

/// Raises kOpenFailed for a database file that could not be opened or set up.
[[noreturn]] void RaiseOpenError(std::string_view path, std::string_view reason);

}  // namespace kvdata::engine::sqlite
