#pragma once
// Backing up and restoring an action database. The embedded engine copies the database with
// SQLite's online backup: one consistent snapshot, taken while other clients go on reading and
// writing. A PostgreSQL database is backed up with the server's own tools; for it both calls
// raise an error that shows the pg_dump or pg_restore line to run instead.
#include <filesystem>
#include <string>
#include <string_view>

#include "kvdata/ConnectionString.h"
#include "vb/ComError.h"

namespace kvdata {

/// A backup or a restore could not be made (the reason is in the description).
inline constexpr int32_t kBackupFailed = vb::kObjectError + 2030;
inline constexpr std::string_view kBackupSource = "kvDataServer.Backup";

/// Copies the database the connection string names into the new file target. The copy is
/// written beside target and renamed into place only when complete, so a failed backup leaves
/// nothing behind. Raises kDatabaseExists when target exists (unless overwrite), kOpenFailed
/// when the database cannot be opened, kBackupFailed for a PostgreSQL database (naming the
/// pg_dump line) or when the copy fails.
void BackupDatabase(std::string_view connectionString, const std::filesystem::path& target,
                    bool overwrite = false);

/// Replaces the content of the database the connection string names with the backup at source,
/// in one transaction: other clients see either the old or the restored database. Checks first
/// that source is an action database (kvdata::kMissingTable naming the first table it lacks).
/// Raises kDatabaseExists when the database exists and replace is false, kOpenFailed when source
/// cannot be read, kBackupFailed for a PostgreSQL database (naming the pg_restore line), for a
/// source that is the database itself, or when the copy fails.
void RestoreDatabase(std::string_view connectionString, const std::filesystem::path& source,
                     bool replace = false);

/// The shell command that backs up the PostgreSQL database of settings into file in pg_dump's
/// custom format (restore) or, with restore, reads it back; never holds the password, which
/// pg_dump takes from ~/.pgpass or PGPASSWORD.
[[nodiscard]] std::string PgDumpCommand(const ConnectionSettings& settings,
                                        const std::filesystem::path& file, bool restore = false);

}  // namespace kvdata
