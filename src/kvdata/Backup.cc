#include "kvdata/Backup.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#include "kvdata/Errors.h"
#include "kvdata/schema/Schema.h"

namespace kvdata {
namespace {

namespace fs = std::filesystem;

// How long a copy waits for a writer that holds the database (the engine's own busy time).
constexpr int kBusyTimeoutMs = 10000;
constexpr auto kRetryPause = std::chrono::milliseconds(50);
constexpr int kMaxRetries = 200;

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

[[noreturn]] void Fail(int32_t number, const std::string& description) {
  throw vb::ComError(number, std::string(kBackupSource), description);
}

// A single-quoted shell word: safe for any host, database or file name.
std::string ShellWord(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

Db OpenFile(const fs::path& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) {
    Fail(kOpenFailed, fmt::format("The database {} cannot be opened: {}.", path.string(),
                                  db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  return db;
}

// The embedded database file a connection string names; refuses a PostgreSQL database with the
// line that does the job there.
fs::path EmbeddedFile(std::string_view connectionString, const fs::path& file, bool restore) {
  const ConnectionSettings settings = ParseConnectionString(connectionString);
  if (settings.provider == Provider::PostgreSQL) {
    Fail(kBackupFailed,
         fmt::format("The PostgreSQL database {} is {} with the server's own tools: {}",
                     settings.DisplayName(), restore ? "restored" : "backed up",
                     PgDumpCommand(settings, file, restore)));
  }
  return settings.path;
}

// Copies the whole of from into to in one step (one snapshot of from, one transaction on to),
// trying again while another client holds a lock the copy needs.
void Copy(sqlite3* from, sqlite3* to, const std::string& what) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (backup == nullptr) {
    Fail(kBackupFailed, fmt::format("{} failed: {}.", what, sqlite3_errmsg(to)));
  }
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < kMaxRetries; ++attempt) {
    rc = sqlite3_backup_step(backup, -1);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    std::this_thread::sleep_for(kRetryPause);
  }
  const int finished = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE || finished != SQLITE_OK) {
    Fail(kBackupFailed,
         fmt::format("{} failed: {}.", what, sqlite3_errstr(rc != SQLITE_DONE ? rc : finished)));
  }
}

// Raises kMissingTable naming the first table that marks an action database and db lacks.
void RequireActionTables(sqlite3* db, const fs::path& path) {
  for (const std::string_view table : schema::kActionTables) {
    sqlite3_stmt* raw = nullptr;
    const std::string sql = fmt::format(
        "SELECT 1 FROM sqlite_master WHERE type='table' AND name='{}' COLLATE NOCASE", table);
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      Fail(kOpenFailed,
           fmt::format("{} is not a database: {}.", path.string(), sqlite3_errmsg(db)));
    }
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    if (sqlite3_step(raw) != SQLITE_ROW) {
      throw vb::ComError(
          kMissingTable, std::string(kBackupSource),
          fmt::format("{} is not a backup of an action database: it has no table {}.",
                      path.string(), table));
    }
  }
}

fs::path PartialName(const fs::path& target) {
  std::random_device device;
  return fs::path(target).concat(fmt::format(".partial-{:08x}", device()));
}

}  // namespace

std::string PgDumpCommand(const ConnectionSettings& settings, const fs::path& file, bool restore) {
  const auto& login = settings.login;
  std::string line =
      restore ? "pg_restore --clean --if-exists --no-owner" : "pg_dump --format=custom";
  if (!login.host.empty()) line += " --host=" + ShellWord(login.host);
  if (!login.port.empty()) line += " --port=" + ShellWord(login.port);
  if (!login.user.empty()) line += " --username=" + ShellWord(login.user);
  line += " --dbname=" + ShellWord(login.database);
  line += restore ? " " + ShellWord(file.string()) : " --file=" + ShellWord(file.string());
  return line;
}

void BackupDatabase(std::string_view connectionString, const fs::path& target, bool overwrite) {
  const fs::path source = EmbeddedFile(connectionString, target, false);
  std::error_code error;
  if (!overwrite && fs::exists(target, error)) {
    Fail(kDatabaseExists, fmt::format("The backup file {} exists already.", target.string()));
  }
  // Opening read-write lets the copy read a database in WAL mode while others write.
  const Db from = OpenFile(source, SQLITE_OPEN_READWRITE);
  const fs::path partial = PartialName(target);
  try {
    {
      const Db to = OpenFile(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      Copy(from.get(), to.get(), "The backup of " + source.string());
    }
    fs::rename(partial, target);
  } catch (const fs::filesystem_error& e) {
    fs::remove(partial, error);
    Fail(kBackupFailed, fmt::format("The backup file {} cannot be written: {}.", target.string(),
                                    e.code().message()));
  } catch (...) {
    fs::remove(partial, error);
    throw;
  }
}

void RestoreDatabase(std::string_view connectionString, const fs::path& source, bool replace) {
  const fs::path target = EmbeddedFile(connectionString, source, true);
  std::error_code error;
  if (!fs::exists(source, error)) {
    Fail(kOpenFailed, fmt::format("The backup file {} does not exist.", source.string()));
  }
  const bool targetExists = fs::exists(target, error);
  if (targetExists && fs::equivalent(source, target, error)) {
    Fail(kBackupFailed, fmt::format("{} is the database itself.", source.string()));
  }
  if (targetExists && !replace) {
    Fail(kDatabaseExists,
         fmt::format("The database {} exists; restoring replaces all of it.", target.string()));
  }
  const Db from = OpenFile(source, SQLITE_OPEN_READONLY);
  RequireActionTables(from.get(), source);
  const Db to = OpenFile(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Copy(from.get(), to.get(), "The restore of " + target.string());
}

}  // namespace kvdata
