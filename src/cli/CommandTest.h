#pragma once
// Test helpers for running the `kvaction` commands in process: on a test fixture's database, at
// its pinned moment, with standard input and output swapped for strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"

namespace cli::testing {

/// Swaps a standard stream's buffer for its lifetime.
class Redirect {
 public:
  Redirect(std::ios& stream, std::streambuf* buffer)
      : stream_(stream), saved_(stream.rdbuf(buffer)) {}
  ~Redirect() { stream_.rdbuf(saved_); }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  std::ios& stream_;
  std::streambuf* saved_;
};

/// What a command printed and its exit status, run as the program runs it.
struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

/// Runs `kvaction ARGS` in process through Execute, with input on standard input.
[[nodiscard]] inline Outcome Executed(const std::vector<std::string>& args,
                                      const std::string& input = {}) {
  CLI::App app;
  Options options;
  AddCommands(app, options);
  std::vector<std::string> line = {"kvaction"};
  line.insert(line.end(), args.begin(), args.end());
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const Redirect inRedirect(std::cin, in.rdbuf());
  const Redirect outRedirect(std::cout, out.rdbuf());
  const Redirect errRedirect(std::cerr, err.rdbuf());
  const int exitCode = Execute(app, std::move(line));
  return {exitCode, out.str(), err.str()};
}

/// Adds command runs to a fixture of the action database (Fixture: a kvdata::ActionDatabaseTest).
/// Users log in with the password "secret" for admin, "pw" for everybody else.
template <class Fixture>
class CommandTest : public Fixture {
 protected:
  /// Runs `kvaction --connection … --user USER --password-stdin ARGS` at the pinned moment;
  /// returns what it printed. A vb::ComError of the command passes through.
  std::string Run(const std::string& user, std::vector<std::string> args) const {
    CLI::App app;
    Options options;
    AddCommands(app, options);
    options.clock = this->pinnedClock_;
    args.insert(args.begin(),
                {"--connection", this->ConnectionString(), "--user", user, "--password-stdin"});
    std::reverse(args.begin(), args.end());
    std::istringstream password(user == "admin" ? "secret\n" : "pw\n");
    std::ostringstream printed;
    const Redirect in(std::cin, password.rdbuf());
    const Redirect out(std::cout, printed.rdbuf());
    app.parse(args);
    return printed.str();
  }
  /// Runs a command with --json and reads what it printed.
  nlohmann::json Json(const std::string& user, std::vector<std::string> args) const {
    args.insert(args.begin(), "--json");
    return nlohmann::json::parse(Run(user, std::move(args)));
  }
};

}  // namespace cli::testing
