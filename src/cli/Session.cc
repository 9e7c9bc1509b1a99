// Where a command's session comes from: the shared options filled from the environment and
// config.toml, a kept token or a password; and `kvaction login` / `logout`, which keep and end
// that token.
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "app/Errors.h"
#include "cli/Cli.h"
#include "cli/Config.h"
#include "cli/Remote.h"
#include "vb/ComError.h"

namespace cli {

void Fail(std::string description) {
  throw vb::ComError(vb::kInvalidProcedureCall, kSource, std::move(description));
}

void BadValue(std::string_view option, std::string_view value, std::string_view expected) {
  throw UsageError(fmt::format("{}: '{}' is not {}", option, value, expected));
}

std::filesystem::path ConfigFolderOf(const Options& options) {
  return options.configFolder.empty() ? ConfigFolder()
                                      : std::filesystem::path(options.configFolder);
}

void ApplyDefaults(Options& options) {
  Defaults defaults = ReadDefaults(ConfigFolderOf(options) / "config.toml");
  // The environment wins over the file; the command line over both.
  Defaults environment;
  ApplyEnvironment(environment);
  const auto pick = [](std::string& option, const std::string& first, const std::string& second) {
    if (option.empty()) option = !first.empty() ? first : second;
  };
  // A database or server named on the command line, in any form, wins over every default one;
  // then the environment's, then the file's.
  if (!options.server.empty() && (!options.connection.empty() || !options.db.empty())) {
    throw UsageError(
        "--server: a command works either through a server or on a database "
        "(--db, --connection), not both");
  }
  for (const Defaults* source : {&environment, &defaults}) {
    if (!options.server.empty() || !options.connection.empty() || !options.db.empty()) break;
    options.server = source->server;
    if (options.server.empty()) options.connection = source->connection;
    if (options.server.empty() && options.connection.empty()) options.db = source->db;
  }
  pick(options.cacert, defaults.cacert, {});
  pick(options.user, environment.user, defaults.user);
  pick(options.locale, defaults.locale, {});
  if (!options.locale.empty() && options.locale != "en-US" && options.locale != "en-GB") {
    BadValue("locale", options.locale, "a known locale: en-US or en-GB");
  }
}

std::string ConnectionString(const Options& options) {
  if (!options.connection.empty()) return options.connection;
  return "Provider=SQLite;Data Source=" + (options.db.empty() ? kDefaultDatabase : options.db);
}

const vb::Locale& LocaleOf(const Options& options) {
  return options.locale == "en-GB" ? vb::Locale::EnGB() : vb::Locale::EnUS();
}

Format FormatOf(const Options& options) { return options.json ? Format::kJson : Format::kTable; }

app::OpenOptions OpenOptionsOf(const Options& options) {
  app::OpenOptions open;
  open.connection = ConnectionString(options);
  open.clock = options.clock;
  open.locale = LocaleOf(options);
  if (options.cheapPasswords) open.cost = kvdata::PasswordCost::Minimum;
  open.mail = !options.noMail;
  return open;
}

namespace {

// Turns terminal echo off for its lifetime.
class EchoOff {
 public:
  EchoOff() : active_(tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!active_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool active_;
};

}  // namespace

std::string RequiredUser(const Options& options) {
  if (options.user.empty()) {
    Fail("Nobody is signed in: run 'kvaction login --user NAME' or give --user NAME.");
  }
  return options.user;
}

void RequireLocal(const Options& options, std::string_view command) {
  if (options.server.empty()) return;
  Fail(
      fmt::format("'{}' works on a database, not through a server: give --db or --connection "
                  "(on the server's machine) instead of --server {}.",
                  command, options.server));
}

std::string ReadPassword(const Options& options, const std::string& prompt) {
  std::string password;
  if (options.passwordStdin) {
    std::getline(std::cin, password);
  } else if (isatty(STDIN_FILENO) != 0) {
    std::cerr << prompt << std::flush;
    {
      const EchoOff quiet;
      std::getline(std::cin, password);
    }
    std::cerr << '\n';
  } else {
    Fail("No password given: use --password-stdin or run on a terminal.");
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

app::Session OpenSession(const Options& options) {
  const app::OpenOptions open = OpenOptionsOf(options);
  const std::optional<SavedSession> kept = TokenFile(ConfigFolderOf(options)).Find(open.connection);
  if (kept && (options.user.empty() || options.user == kept->user)) {
    try {
      return app::Session::Resume(open, kept->token);
    } catch (const vb::ComError& e) {
      if (e.number() != app::kNotSignedIn) throw;
      Fail(fmt::format("The session of {} has ended: run 'kvaction login' again.", kept->user));
    }
  }
  const std::string user = RequiredUser(options);
  return app::Session::SignIn(open, user, ReadPassword(options, "Password for " + user + ": "));
}

std::function<app::Session()> SessionOpenerOf(const Options& options) {
  const app::OpenOptions open = OpenOptionsOf(options);
  const std::optional<SavedSession> kept = TokenFile(ConfigFolderOf(options)).Find(open.connection);
  if (kept && (options.user.empty() || options.user == kept->user)) {
    (void)OpenSession(options);  // an ended session is reported now, not at every use
    return [open, token = kept->token] { return app::Session::Resume(open, token); };
  }
  const std::string user = RequiredUser(options);
  const std::string password = ReadPassword(options, "Password for " + user + ": ");
  // One sign-in with a token now (a wrong password fails here); later uses resume it and sign
  // in again only when it has ended.
  auto token = std::make_shared<std::string>();
  (void)app::Session::SignIn(open, user, password, *token);
  return [open, user, password, token] {
    try {
      return app::Session::Resume(open, *token);
    } catch (const vb::ComError& e) {
      if (e.number() != app::kNotSignedIn) throw;
    }
    return app::Session::SignIn(open, user, password, *token);
  };
}

namespace {

/// "attach add": the command's words below the program's name.
std::string CommandWords(const CLI::App& command) {
  std::string words;
  for (const CLI::App* c = &command; c != nullptr && c->get_parent() != nullptr;
       c = c->get_parent()) {
    words = c->get_name() + (words.empty() ? "" : " " + words);
  }
  return words;
}

}  // namespace

void OnSession(CLI::App& command, Options& options, SessionBody body, bool localOnly) {
  command.callback([&options, &command, body = std::move(body), localOnly] {
    ApplyDefaults(options);
    if (localOnly) RequireLocal(options, CommandWords(command));
    if (!options.server.empty()) {
      Fail(
          fmt::format("'{}' does not work through a server yet: run it on a database (--db or "
                      "--connection).",
                      CommandWords(command)));
    }
    app::Session session = OpenSession(options);
    body(session);
    DeliverOwnMail(session);
  });
}

void OnClient(CLI::App& command, Options& options, ClientBody body) {
  command.callback([&options, body = std::move(body)] {
    ApplyDefaults(options);
    const std::unique_ptr<Client> client = OpenClient(options);
    body(*client);
    client->Finish();
  });
}

void RegisterSessionCommands(CLI::App& app, Options& options) {
  auto* login = app.add_subcommand(
      "login",
      "Sign in once: keeps a session token (file mode 0600 in the config folder) so that later "
      "commands on this database or server need no password");
  login->callback([&options] {
    ApplyDefaults(options);
    if (!options.server.empty()) return RemoteLogin(options);
    const std::string user = RequiredUser(options);
    const app::OpenOptions open = OpenOptionsOf(options);
    std::string token;
    const app::Session session = app::Session::SignIn(
        open, user, ReadPassword(options, "Password for " + user + ": "), token);
    const TokenFile file(ConfigFolderOf(options));
    file.Save({open.connection, user, token});
    std::cout << "Signed in as " << user << "; the session is kept in " << file.Path().string()
              << ".\n";
  });

  auto* logout = app.add_subcommand(
      "logout", "End the session kept for this database or server and forget its token");
  logout->callback([&options] {
    ApplyDefaults(options);
    if (!options.server.empty()) return RemoteLogout(options);
    const app::OpenOptions open = OpenOptionsOf(options);
    const std::optional<SavedSession> kept =
        TokenFile(ConfigFolderOf(options)).Remove(open.connection);
    if (!kept) {
      std::cout << "Nobody is signed in on this database.\n";
      return;
    }
    try {
      app::Session::Resume(open, kept->token).SignOut();
    } catch (const vb::ComError& e) {
      if (e.number() != app::kNotSignedIn) throw;  // ended already: forgetting it is enough
    }
    std::cout << "Signed out " << kept->user << ".\n";
  });
}

}  // namespace cli
