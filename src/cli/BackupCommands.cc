// The commands that copy an action database: backup and restore. They work on the database file
// itself, so they need no login: whoever may read (or replace) the file may copy it.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "app/Backup.h"
#include "cli/Cli.h"

namespace cli {
namespace {

struct BackupArgs {
  std::string file;
  bool overwrite = false;
};

void RegisterBackup(CLI::App& app, Options& options) {
  auto args = std::make_shared<BackupArgs>();
  auto* backup = app.add_subcommand(
      "backup",
      "Copy the database into FILE, safely while others use it (a PostgreSQL database: prints "
      "the pg_dump line to run instead)");
  backup->add_option("FILE", args->file, "The backup file to write")->required();
  backup->add_flag("--overwrite", args->overwrite, "Replace FILE when it exists");
  backup->callback([args, &options] {
    ApplyDefaults(options);
    RequireLocal(options, "backup");
    const std::string connection = ConnectionString(options);
    app::BackupDatabase(connection, args->file, args->overwrite);
    std::cout << "Backed up " << app::DatabaseName(connection) << " to " << args->file << ".\n";
  });
}

void RegisterRestore(CLI::App& app, Options& options) {
  auto args = std::make_shared<BackupArgs>();
  auto* restore = app.add_subcommand(
      "restore",
      "Replace the database with the backup in FILE, after checking that FILE holds an action "
      "database (a PostgreSQL database: prints the pg_restore line to run instead)");
  restore->add_option("FILE", args->file, "The backup file to read")->required();
  restore->add_flag("--replace", args->overwrite,
                    "Required when the database exists: everything in it is replaced");
  restore->callback([args, &options] {
    ApplyDefaults(options);
    RequireLocal(options, "restore");
    const std::string connection = ConnectionString(options);
    app::RestoreDatabase(connection, args->file, args->overwrite);
    std::cout << "Restored " << app::DatabaseName(connection) << " from " << args->file << ".\n";
  });
}

}  // namespace

void RegisterBackupCommands(CLI::App& app, Options& options) {
  RegisterBackup(app, options);
  RegisterRestore(app, options);
}

}  // namespace cli
