#include "kvdata/ConnectionString.h"

#include <fmt/format.h>

#include <map>

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
    pairs[vb::LCase(Trim(part.substr(0, equals)))] = std::string(value);
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

ConnectionSettings Server(const Pairs& pairs, std::string_view provider) {
  ConnectionSettings settings;
  settings.provider = Provider::PostgreSQL;
  auto& login = settings.login;
  if (vb::UCase(provider).starts_with("SQLOLEDB")) {
    const std::string source = Required(pairs, "data source", provider);
    const auto comma = source.find(',');
    login.host = std::string(Trim(std::string_view(source).substr(0, comma)));
    if (comma != std::string::npos) {
      login.port = std::string(Trim(std::string_view(source).substr(comma + 1)));
    }
    login.database = Required(pairs, "initial catalog", provider);
  } else {
    login.host = Required(pairs, "host", provider);
    login.port = Optional(pairs, "port");
    login.database = Required(pairs, "database", provider);
  }
  login.user = Required(pairs, "user id", provider);
  login.password = Optional(pairs, "password");
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
