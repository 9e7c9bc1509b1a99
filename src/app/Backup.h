#pragma once
// Copying an action database for safe keeping, and putting a copy back. Neither needs a sign-in:
// they work on the database file itself, which whoever runs them can read (or replace) anyway.
#include <filesystem>
#include <string>
#include <string_view>

namespace app {

/// Copies the database into the new file target while others go on working (an embedded
/// database only; for PostgreSQL the error names the pg_dump line to run).
void BackupDatabase(std::string_view connection, const std::filesystem::path& target,
                    bool overwrite);

/// Replaces the database's content with the backup at source, after checking that source holds
/// an action database; replace must be set when the database exists.
void RestoreDatabase(std::string_view connection, const std::filesystem::path& source,
                     bool replace);

/// The database as people know it (a file name, or server and database), never a password.
[[nodiscard]] std::string DatabaseName(std::string_view connection);

}  // namespace app
