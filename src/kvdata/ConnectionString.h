#pragma once
// Connection strings: "key=value;…" with keys in any letter case, or a bare SQLite file path.
#include <string>
#include <string_view>

#include "kvdata/engine/postgres/Login.h"
#include "kvdata/sql/Translator.h"

namespace kvdata {

enum class Provider { SQLite, PostgreSQL };

/// What a connection string asks for.
struct ConnectionSettings {
  Provider provider = Provider::SQLite;
  /// Server when the string contains "SQLOLEDB" (any letter case), Desktop otherwise.
  sql::Dialect dialect = sql::Dialect::Desktop;
  /// The SQLite database file.
  std::string path;
  /// Where the PostgreSQL database is and who logs in.
  engine::postgres::Login login;

  /// The database as users know it: the file path, or "host/database".
  [[nodiscard]] std::string DisplayName() const;
};

/// Reads "Provider=SQLite;Data Source=FILE", a bare FILE path,
/// "Provider=PostgreSQL;Host=…;Port=…;Database=…;User ID=…;Password=…" or
/// "Provider=SQLOLEDB;Data Source=host[,port];Initial Catalog=…;User ID=…;Password=…". Values
/// may be quoted ('…' or "…"). PostgreSQL forms also take "Statement Timeout" (seconds, default
/// 30, 0 for none) and libpq's TLS keys sslmode, sslrootcert, sslcert and sslkey; every form takes
/// "Dialect" and "Persist Security Info", which change nothing here. Raises
/// kBadConnectionString for an unknown provider, a key the provider does not know, a missing
/// key, a bad timeout or a part without '='; the text never holds the password.
[[nodiscard]] ConnectionSettings ParseConnectionString(std::string_view text);

}  // namespace kvdata
