// The command line as a whole: every command and subcommand explains itself, and a command line
// that does not parse fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CommandTest.h"

namespace cli {
namespace {

using ::testing::HasSubstr;

/// A command as typed ("user add" as {"user", "add"}) and what its help says it does.
struct Command {
  std::vector<std::string> path;
  std::string description;
};

/// The commands below app, parents before children.
void CollectCommands(CLI::App& app, const std::vector<std::string>& path,
                     std::vector<Command>& commands) {
  for (CLI::App* sub : app.get_subcommands({})) {
    std::vector<std::string> subPath = path;
    subPath.push_back(sub->get_name());
    commands.push_back({subPath, sub->get_description()});
    CollectCommands(*sub, subPath, commands);
  }
}

TEST(Help, EveryCommandAndSubcommandExplainsItself) {
  CLI::App app;
  Options options;
  AddCommands(app, options);
  std::vector<Command> commands = {{{}, app.get_description()}};
  CollectCommands(app, {}, commands);
  ASSERT_GT(commands.size(), 40u);
  for (const auto& [path, description] : commands) {
    std::vector<std::string> args = path;
    args.push_back("--help");
    const testing::Outcome outcome = testing::Executed(args);
    const std::string shown = ::testing::PrintToString(path);
    EXPECT_EQ(outcome.exitCode, 0) << shown;
    EXPECT_THAT(outcome.out, HasSubstr("Usage: kvaction")) << shown;
    EXPECT_THAT(outcome.out, HasSubstr(description)) << shown;
  }
  EXPECT_THAT(testing::Executed({"user", "add", "--help"}).out, HasSubstr("two lines"));
}

TEST(Help, ACommandLineThatDoesNotParseFails) {
  EXPECT_NE(testing::Executed({}).exitCode, 0);
  EXPECT_NE(testing::Executed({"frobnicate"}).exitCode, 0);
  EXPECT_NE(testing::Executed({"show"}).exitCode, 0);  // N is required
  EXPECT_NE(testing::Executed({"--locale", "fr-FR", "info"}).exitCode, 0);
}

}  // namespace
}  // namespace cli
