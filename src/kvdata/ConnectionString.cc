#include "kvdata/ConnectionString.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <span>

#include "kvdata/Errors.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

using Pairs = std::map<std::string, std::string>;  // keys in lower case

[[noreturn]] void Refuse(std::string_view reason) {
  throw vb::ComError(kBadConnectionString, std::string(kConnectionSource),
                     fmt::format("Invalid connection string: {}", reason));
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The parts between semicolons; a semicolon inside a quoted value belongs to the value.
std::vector<std::string_view> SplitParts(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ';';
    if (quote != 0) {
      quote = c == quote ? '\0' : quote;
    } else if ((c == '\'' || c == '"') && Trim(text.substr(start, i - start)).ends_with('=')) {
      quote = c;
    } else if (c == ';') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  // Dropping the unclosed rest would silently lose its keys (a password, an sslmode); it is
  // not shown, as it may hold the password.
  if (quote != 0) Refuse("a quoted value is not closed.");
  return parts;
}

Pairs ReadPairs(std::string_view text) {
  Pairs pairs;
  for (const std::string_view part : SplitParts(text)) {
    if (Trim(part).empty()) continue;
    const auto equals = part.find('=');
    if (equals == std::string_view::npos) {
      // The part itself is not shown: it may be the tail of a password.
      Refuse("a part between semicolons has no '='.");
    }
    std::string_view value = Trim(part.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    // A key given twice is refused rather than one of them winning: a later "sslmode=disable"
    // must not quietly undo an earlier "sslmode=require".
    const std::string_view key = Trim(part.substr(0, equals));
    if (!pairs.emplace(vb::LCase(key), std::string(value)).second) {
      Refuse(fmt::format("the key \"{}\" is given more than once.", key));
    }
  }
  return pairs;
}

std::string Optional(const Pairs& pairs, std::string_view key) {
  const auto it = pairs.find(std::string(key));
  return it == pairs.end() ? std::string() : it->second;
}

std::string Required(const Pairs& pairs, std::string_view key, std::string_view provider) {
  std::string value = Optional(pairs, key);
  if (value.empty()) {
    Refuse(fmt::format("the provider {} needs the key \"{}\".", provider, key));
  }
  return value;
}

// Keys every form accepts: the provider, the dialect marker of a desktop file that speaks the
// server dialect, and a legacy OLE DB key that only concerned where the password was kept.
constexpr std::array<std::string_view, 3> kCommonKeys = {"provider", "dialect",
                                                         "persist security info"};
constexpr std::array<std::string_view, 1> kSqliteKeys = {"data source"};
constexpr std::array<std::string_view, 10> kPostgresKeys = {
    "host",    "port",    "database",    "user id", "password",
    "sslmode", "sslcert", "sslrootcert", "sslkey",  "statement timeout"};
constexpr std::array<std::string_view, 9> kLegacyKeys = {
    "data source", "initial catalog", "user id", "password",         "sslmode",
    "sslcert",     "sslrootcert",     "sslkey",  "statement timeout"};

// A key the provider does not know is refused: a misspelt or unsupported setting (sslmode on
// SQLite, "SSL Mode") must not silently do nothing.
void RequireKnownKeys(const Pairs& pairs, std::string_view provider,
                      std::span<const std::string_view> keys) {
  const auto known = [&](std::string_view key) {
    return std::find(kCommonKeys.begin(), kCommonKeys.end(), key) != kCommonKeys.end() ||
           std::find(keys.begin(), keys.end(), key) != keys.end();
  };
  for (const auto& [key, value] : pairs) {
    if (known(key)) continue;
    std::string list;
    for (const std::string_view k : keys) list += (list.empty() ? "" : ", ") + std::string(k);
    Refuse(fmt::format("the key \"{}\" is not known for the provider {} (its keys: {}).", key,
                       provider, list));
  }
}

// "Statement Timeout" in whole seconds, 0 for none; 30 when absent.
int32_t StatementTimeout(const Pairs& pairs) {
  const std::string text = Optional(pairs, "statement timeout");
  if (text.empty()) return 30;
  int32_t seconds = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  constexpr int32_t kMaxSeconds = 2'147'483;  // the server's limit, in milliseconds
  if (error != std::errc() || end != text.data() + text.size() || seconds < 0 ||
      seconds > kMaxSeconds) {
    Refuse(
        fmt::format("\"Statement Timeout\" must be a whole number of seconds from 0 (no limit) "
                    "to {}, not \"{}\".",
                    kMaxSeconds, text));
  }
  return seconds;
}

ConnectionSettings Server(const Pairs& pairs, std::string_view provider) {
  ConnectionSettings settings;
  settings.provider = Provider::PostgreSQL;
  auto& login = settings.login;
  if (vb::UCase(provider).starts_with("SQLOLEDB")) {
    RequireKnownKeys(pairs, provider, kLegacyKeys);
    const std::string source = Required(pairs, "data source", provider);
    const auto comma = source.find(',');
    login.host = std::string(Trim(std::string_view(source).substr(0, comma)));
    if (comma != std::string::npos) {
      login.port = std::string(Trim(std::string_view(source).substr(comma + 1)));
    }
    login.database = Required(pairs, "initial catalog", provider);
  } else {
    RequireKnownKeys(pairs, provider, kPostgresKeys);
    login.host = Required(pairs, "host", provider);
    login.port = Optional(pairs, "port");
    login.database = Required(pairs, "database", provider);
  }
  login.user = Required(pairs, "user id", provider);
  login.password = Optional(pairs, "password");
  login.statementTimeoutSeconds = StatementTimeout(pairs);
  login.sslmode = Optional(pairs, "sslmode");
  login.sslrootcert = Optional(pairs, "sslrootcert");
  login.sslcert = Optional(pairs, "sslcert");
  login.sslkey = Optional(pairs, "sslkey");
  return settings;
}

}  // namespace

std::string ConnectionSettings::DisplayName() const {
  return provider == Provider::SQLite ? path : login.host + "/" + login.database;
}

ConnectionSettings ParseConnectionString(std::string_view text) {
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty()) Refuse("it is empty.");
  ConnectionSettings settings;
  if (trimmed.find('=') == std::string_view::npos) {
    settings.path = std::string(trimmed);
    return settings;
  }
  const Pairs pairs = ReadPairs(trimmed);
  const std::string provider = Optional(pairs, "provider");
  const std::string name = vb::UCase(provider);
  if (provider.empty() || name == "SQLITE") {
    RequireKnownKeys(pairs, "SQLite", kSqliteKeys);
    settings.path = Required(pairs, "data source", "SQLite");
  } else if (name == "POSTGRESQL" || name.starts_with("SQLOLEDB")) {
    settings = Server(pairs, provider);
  } else {
    Refuse(fmt::format("the provider \"{}\" is not known.", provider));
  }
  if (vb::ContainsText(text, "SQLOLEDB")) settings.dialect = sql::Dialect::Server;
  return settings;
}

}  // namespace kvdata
