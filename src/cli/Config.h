#pragma once
// Where the command's defaults come from when the command line does not give them: the
// environment (KVACTION_DB, KVACTION_CONNECTION, KVACTION_SERVER, KVACTION_USER), then the user's
// config.toml; and the session tokens that `kvaction login` keeps in a file only the user can read.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

/// The user's config folder: $XDG_CONFIG_HOME/kvaction, else $HOME/.config/kvaction.
[[nodiscard]] std::filesystem::path ConfigFolder();

/// Defaults read from config.toml: top-level keys db, connection, server, cacert, user and
/// locale, each a string. A file that is missing gives no defaults; one that does not parse, or a
/// key of the wrong type, raises ComError 5 naming the file and line.
struct Defaults {
  std::string db;
  std::string connection;
  std::string server;
  std::string cacert;
  std::string user;
  std::string locale;
};
[[nodiscard]] Defaults ReadDefaults(const std::filesystem::path& configFile);
/// Fills the empty fields of defaults from the environment variables.
void ApplyEnvironment(Defaults& defaults);

/// A signed-in session remembered for one database or server.
struct SavedSession {
  std::string connection;  ///< the connection string the login used, or the server's address
  std::string user;
  std::string token;
};

/// The token file (sessions.toml in folder): one session per connection string or server. Writes go
/// to a new file of mode 0600 renamed over the old one, so a reader never sees half a file and no
/// other user can read a token.
class TokenFile {
 public:
  explicit TokenFile(std::filesystem::path folder);
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  /// The session kept for connection, if any.
  [[nodiscard]] std::optional<SavedSession> Find(const std::string& connection) const;
  /// Keeps session, replacing the one of the same connection.
  void Save(const SavedSession& session) const;
  /// Forgets the session of connection; returns it when there was one.
  std::optional<SavedSession> Remove(const std::string& connection) const;

 private:
  [[nodiscard]] std::vector<SavedSession> ReadAll() const;
  void WriteAll(const std::vector<SavedSession>& sessions) const;
  std::filesystem::path path_;
};

}  // namespace cli
