// Actions as the command line names them: by the number users know (ActionNumber), or by
// ActionID with --id.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Client.h"
#include "vb/Convert.h"

namespace cli {

void ActionTargets::AddTo(CLI::App& command, bool many) {
  command.add_option("N", numbers, many ? "Action numbers" : "Action number")
      ->required()
      ->expected(1, many ? 1 << 20 : 1)
      ->allow_extra_args(many);
  command.add_flag("--id", byID,
                   many ? "Name actions by ActionID instead of ActionNumber"
                        : "Name the action by ActionID instead of ActionNumber");
}

std::vector<int32_t> ActionTargets::IDsIn(Client& client) const {
  std::vector<int32_t> ids;
  for (const int32_t number : numbers) {
    if (byID) {
      client.RequireAction(number);  // raises when there is no such action
      ids.push_back(number);
    } else {
      ids.push_back(client.ActionIDOf(number));
    }
  }
  return ids;
}

void OnTarget(CLI::App& command, Options& options, TargetBody body) {
  auto target = std::make_shared<ActionTargets>();
  target->AddTo(command, false);
  OnSession(command, options, [target, body = std::move(body)](app::Session& session) {
    body(session, target->IDsIn(*LocalClientOf(session)).front());
  });
}

void OnClientTarget(CLI::App& command, Options& options, ClientTargetBody body) {
  auto target = std::make_shared<ActionTargets>();
  target->AddTo(command, false);
  OnClient(command, options, [target, body = std::move(body)](Client& client) {
    body(client, target->IDsIn(client).front());
  });
}

}  // namespace cli
