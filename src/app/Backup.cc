#include "app/Backup.h"

#include "kvdata/Backup.h"
#include "kvdata/ConnectionString.h"

namespace app {

void BackupDatabase(std::string_view connection, const std::filesystem::path& target,
                    bool overwrite) {
  kvdata::BackupDatabase(connection, target, overwrite);
}

void RestoreDatabase(std::string_view connection, const std::filesystem::path& source,
                     bool replace) {
  kvdata::RestoreDatabase(connection, source, replace);
}

std::string DatabaseName(std::string_view connection) {
  return kvdata::ParseConnectionString(connection).DisplayName();
}

}  // namespace app
