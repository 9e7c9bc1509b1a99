#pragma once
// Test helpers for running the `kvaction` command in process: on a test fixture's database, at
// its pinned moment, with a config folder of its own, and standard input, output and error
// swapped for strings.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "web/Client_test.h"
#include "web/Server.h"

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

/// Runs `kvaction ARGS` in process through Execute with input on standard input; options are
/// prepared by prepare (clock, config folder) before parsing.
template <class Prepare>
[[nodiscard]] Outcome Executed(const std::vector<std::string>& args, const std::string& input,
                               Prepare&& prepare) {
  CLI::App app;
  Options options;
  AddCommands(app, options);
  prepare(options);
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

[[nodiscard]] inline Outcome Executed(const std::vector<std::string>& args,
                                      const std::string& input = {}) {
  return Executed(args, input, [](Options&) {});
}

/// Adds command runs to a fixture of the action database (a kvaction::ActionTest). Users sign
/// in with the password "secret" for admin, "pw" for users the fixture added, or the one a test
/// gives.
template <class Fixture>
class CommandTest : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    configFolder_ = std::filesystem::temp_directory_path() /
                    ("kvaction-cli-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(configFolder_);
  }
  void TearDown() override {
    StopServing();
    std::filesystem::remove_all(configFolder_);
    Fixture::TearDown();
  }

  /// Serves the fixture's database in this process, at its pinned moment, on a free port of
  /// this host; until StopServing, every run goes through it (--server) instead of the database.
  void ServeDatabase() {
    StopServing();
    web::ServeOptions options;
    options.port = 0;
    options.open = {this->ConnectionString(), this->pinnedClock_, vb::Locale::EnUS(),
                    kvdata::PasswordCost::Minimum};
    server_ = std::make_unique<web::Server>(options);
    const int port = server_->Bind();
    serverUrl_ = "http://127.0.0.1:" + std::to_string(port);
    serving_ = std::thread([this] { server_->Run(); });
    // Once it answers it is serving, and a Stop cannot come before the serving begins.
    (void)web::Client("127.0.0.1", port).Get("/signin");
  }
  void StopServing() {
    if (!server_) return;
    server_->Stop();
    serving_.join();
    server_.reset();
    serverUrl_.clear();
  }

  /// `kvaction ARGS` on the fixture's database (or through its server) with nobody named: a
  /// kept session or nothing.
  [[nodiscard]] Outcome Bare(std::vector<std::string> args, const std::string& input = {}) const {
    if (serverUrl_.empty()) {
      args.insert(args.begin(), {"--connection", this->ConnectionString()});
    } else {
      args.insert(args.begin(), {"--server", serverUrl_});
    }
    return Executed(args, input, [this](Options& options) {
      options.clock = this->pinnedClock_;
      options.configFolder = configFolder_.string();
      options.cheapPasswords = true;
      options.pageRows = pageRows_;
    });
  }
  /// `kvaction --user USER --password-stdin ARGS`; more is standard input after the password.
  [[nodiscard]] Outcome As(const std::string& user, std::vector<std::string> args,
                           const std::string& more = {}) const {
    args.insert(args.begin(), {"--user", user, "--password-stdin"});
    return Bare(std::move(args), PasswordOf(user) + "\n" + more);
  }
  /// As, expecting success; returns standard output.
  std::string Run(const std::string& user, std::vector<std::string> args,
                  const std::string& more = {}) const {
    const Outcome outcome = As(user, args, more);
    EXPECT_EQ(outcome.exitCode, 0) << ::testing::PrintToString(args) << '\n' << outcome.err;
    return outcome.out;
  }
  /// Run with --json, read.
  nlohmann::json Json(const std::string& user, std::vector<std::string> args) const {
    args.insert(args.begin(), "--json");
    return nlohmann::json::parse(Run(user, std::move(args)));
  }
  [[nodiscard]] std::string PasswordOf(const std::string& user) const {
    if (user == "admin") return "secret";
    const auto found = passwords_.find(user);
    return found == passwords_.end() ? "pw" : found->second;
  }

  std::filesystem::path configFolder_;
  std::map<std::string, std::string> passwords_;
  std::unique_ptr<web::Server> server_;
  std::string serverUrl_;  ///< where ServeDatabase serves; empty: runs open the database
  std::thread serving_;
  int32_t pageRows_ = 0;  ///< Options::pageRows of every run
};

}  // namespace cli::testing
