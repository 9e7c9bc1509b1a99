#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <utility>

#include "cli/Cli.h"
#include "vb/ComError.h"

namespace cli {

void Fail(std::string description) {
  throw vb::ComError(vb::kInvalidProcedureCall, kSource, std::move(description));
}

std::string ConnectionString(const Options& options) {
  if (!options.connection.empty()) return options.connection;
  return "Provider=SQLite;Data Source=" + (options.db.empty() ? kDefaultDatabase : options.db);
}

const vb::Locale& LocaleOf(const Options& options) {
  return options.locale == "en-GB" ? vb::Locale::EnGB() : vb::Locale::EnUS();
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

Session::Session(const Options& options) {
  action_.SetLocale(LocaleOf(options));
  if (options.clock) action_.SetClock(options.clock);
  action_.OpenConnection(ConnectionString(options));
  if (options.user.empty()) Fail("No user given: use --user NAME.");
  action_.Login(options.user, ReadPassword(options, "Password for " + options.user + ": "));
}

void OnAction(CLI::App& command, const Options& options, ActionBody body) {
  command.callback([&options, body = std::move(body)] {
    Session session(options);
    body(session.action());
  });
}

void OnTarget(CLI::App& command, const Options& options, TargetBody body) {
  auto target = std::make_shared<ActionTargets>();
  target->AddTo(command, false);
  OnAction(command, options, [target, body = std::move(body)](kvaction::Action& action) {
    body(action, target->IDsIn(action).front());
  });
}

}  // namespace cli
