#pragma once
// Where a PostgreSQL database is and who logs in: read from a connection string even by a build
// without the PostgreSQL engine, so this header needs no libpq.
#include <cstdint>
#include <string>

namespace kvdata::engine::postgres {

/// Where and as whom to connect; empty values are left to libpq's defaults.
struct Login {
  std::string host;
  std::string port;
  std::string database;
  std::string user;
  std::string password;
  /// How long one statement may run before the server cancels it; 0: no limit.
  int32_t statementTimeoutSeconds = 30;
  /// libpq's TLS settings, passed on as given (empty: libpq's default).
  std::string sslmode;
  std::string sslrootcert;
  std::string sslcert;
  std::string sslkey;
};

}  // namespace kvdata::engine::postgres
