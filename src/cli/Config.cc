// The command's defaults (environment, config.toml) and its token file.
#include "cli/Config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "cli/Cli.h"

namespace cli {
namespace {

constexpr const char* kTokenFileName = "sessions.toml";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

/// The parsed file, or nothing when it does not exist; raises naming the file and line when it
/// does not parse.
std::optional<toml::table> ParsedFile(const std::filesystem::path& file) {
  std::error_code missing;
  if (!std::filesystem::exists(file, missing)) return std::nullopt;
  try {
    return toml::parse_file(file.string());
  } catch (const toml::parse_error& e) {
    Fail(fmt::format("{}:{}: {}", file.string(), e.source().begin.line, e.description()));
  }
}

/// A string key of table, or empty; raises when the key holds something else.
std::string StringKey(const toml::table& table, std::string_view key,
                      const std::filesystem::path& file) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return {};
  if (const auto* text = node->as_string(); text != nullptr) return text->get();
  Fail(fmt::format("{}:{}: {} must be a string in quotes.", file.string(),
                   node->source().begin.line, key));
}

}  // namespace

std::filesystem::path ConfigFolder() {
  if (const std::string xdg = Environment("XDG_CONFIG_HOME"); !xdg.empty()) {
    return std::filesystem::path(xdg) / "kvaction";
  }
  const std::string home = Environment("HOME");
  if (home.empty()) Fail("Neither XDG_CONFIG_HOME nor HOME is set: there is no config folder.");
  return std::filesystem::path(home) / ".config" / "kvaction";
}

Defaults ReadDefaults(const std::filesystem::path& configFile) {
  const std::optional<toml::table> table = ParsedFile(configFile);
  if (!table) return {};
  return {StringKey(*table, "db", configFile),     StringKey(*table, "connection", configFile),
          StringKey(*table, "server", configFile), StringKey(*table, "cacert", configFile),
          StringKey(*table, "user", configFile),   StringKey(*table, "locale", configFile)};
}

void ApplyEnvironment(Defaults& defaults) {
  const auto apply = [](std::string& field, const char* name) {
    if (std::string value = Environment(name); !value.empty()) field = std::move(value);
  };
  apply(defaults.db, "KVACTION_DB");
  apply(defaults.connection, "KVACTION_CONNECTION");
  apply(defaults.server, "KVACTION_SERVER");
  apply(defaults.user, "KVACTION_USER");
}

TokenFile::TokenFile(std::filesystem::path folder) : path_(std::move(folder) / kTokenFileName) {}

std::vector<SavedSession> TokenFile::ReadAll() const {
  std::vector<SavedSession> sessions;
  const std::optional<toml::table> table = ParsedFile(path_);
  if (!table) return sessions;
  const toml::array* entries = (*table)["session"].as_array();
  if (entries == nullptr) return sessions;
  for (const toml::node& entry : *entries) {
    const toml::table* fields = entry.as_table();
    if (fields == nullptr) continue;
    sessions.push_back({StringKey(*fields, "connection", path_), StringKey(*fields, "user", path_),
                        StringKey(*fields, "token", path_)});
  }
  return sessions;
}

void TokenFile::WriteAll(const std::vector<SavedSession>& sessions) const {
  toml::array entries;
  for (const SavedSession& session : sessions) {
    entries.push_back(toml::table{
        {"connection", session.connection}, {"user", session.user}, {"token", session.token}});
  }
  std::ostringstream text;
  text << "# Sessions of `kvaction login`; `kvaction logout` ends one.\n"
       << toml::table{{"session", std::move(entries)}} << '\n';
  const std::string content = text.str();

  std::filesystem::create_directories(path_.parent_path());
  const std::filesystem::path temporary = path_.string() + ".new";
  // Created with mode 0600 from the start: the token is never readable by anybody else.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail(fmt::format("Cannot write {}: {}.", temporary.string(), std::strerror(errno)));
  ::fchmod(fd, 0600);  // an older file of that name may have had another mode
  const bool written =
      ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
      ::fsync(fd) == 0;
  ::close(fd);
  if (!written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    std::filesystem::remove(temporary);
    Fail(fmt::format("Cannot write {}.", path_.string()));
  }
}

std::optional<SavedSession> TokenFile::Find(const std::string& connection) const {
  for (SavedSession& session : ReadAll()) {
    if (session.connection == connection) return std::move(session);
  }
  return std::nullopt;
}

void TokenFile::Save(const SavedSession& session) const {
  std::vector<SavedSession> sessions = ReadAll();
  std::erase_if(sessions,
                [&](const SavedSession& s) { return s.connection == session.connection; });
  sessions.push_back(session);
  WriteAll(sessions);
}

std::optional<SavedSession> TokenFile::Remove(const std::string& connection) const {
  std::vector<SavedSession> sessions = ReadAll();
  std::optional<SavedSession> removed;
  for (const SavedSession& session : sessions) {
    if (session.connection == connection) removed = session;
  }
  if (!removed) return std::nullopt;
  std::erase_if(sessions, [&](const SavedSession& s) { return s.connection == connection; });
  WriteAll(sessions);
  return removed;
}

}  // namespace cli
