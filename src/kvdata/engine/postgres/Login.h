#pragma once
// Where a PostgreSQL database is and who logs in: read from a connection string even by a build
// without the PostgreSQL engine, so this header needs no libpq.
#include <string>

namespace kvdata::engine::postgres {

/// Where and as whom to connect; empty values are left to libpq's defaults.
struct Login {
  std::string host;
  std::string port;
  std::string database;
  std::string user;
  std::string password;
};

}  // namespace kvdata::engine::postgres
