#pragma once
// PostgreSQL's errors (SQLSTATE and message) as the data server's errors. The one place that
// reads them.
#include <libpq-fe.h>

#include <string_view>

namespace kvdata::engine::postgres {

/// Raises the EngineError for a failed statement (result may be null), naming the statement.
/// Serialization failures (40001) and deadlocks (40P01) are marked transient.
[[noreturn]] void RaiseStatementError(PGconn* conn, const PGresult* result, std::string_view sql);

/// Raises kOpenFailed for a connection that could not be made or set up.
[[noreturn]] void RaiseOpenError(std::string_view host, std::string_view database,
                                 std::string_view reason);

}  // namespace kvdata::engine::postgres
