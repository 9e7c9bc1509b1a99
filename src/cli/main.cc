// kvaction: the command-line client of the kvAction library.
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  CLI::App app;
  cli::Options options;
  cli::AddCommands(app, options);
  return cli::Execute(app, std::vector<std::string>(argv, argv + argc));
}
