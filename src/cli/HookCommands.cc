// Webhooks (SuperUser): `hooks list|add|edit|rm` keep the registered URLs, `hooks deliveries`
// shows what was sent and what the receivers answered, `hooks deliver` sends what is due (as the
// web server's worker does every round; run it from cron when no server runs).
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "app/Hooks.h"
#include "cli/Cli.h"
#include "cli/Client.h"

namespace cli {
namespace {

struct HookArgs {
  int32_t hookID = 0;
  std::string url;
  std::string events;
  std::string secretFile;
  bool newSecret = false;
  std::string active;
  bool paused = false;
  int32_t limit = 50;
};

void PrintSecret(const std::string& secret) {
  std::cout << "Its secret (shown only now; the receiver checks each signature with it): " << secret
            << '\n';
}

void RegisterList(CLI::App& hooks, Options& options) {
  auto* list = hooks.add_subcommand("list", "List the webhooks");
  OnClient(*list, options, [&options](Client& client) {
    const auto writer = MakeWriter(FormatOf(options), std::cout, client.locale(), TerminalWidth());
    writer->Begin({{"HookID", 6},
                   {"URL", 40},
                   {"Events", 34},
                   {"Active", 6},
                   {"CreatedBy", 10},
                   {"Created", 20}});
    for (const auto& hook : client.HookList()) {
      writer->Row({hook.hookID, hook.url, fmt::format("{}", fmt::join(hook.events, ",")),
                   hook.active, hook.createdBy, hook.created});
    }
    writer->End();
  });
}

void RegisterAdd(CLI::App& hooks, Options& options) {
  auto args = std::make_shared<HookArgs>();
  auto* add = hooks.add_subcommand(
      "add", "Register a webhook: an https:// URL (http:// only to this machine, for testing)");
  add->add_option("URL", args->url, "Where each event is POSTed")->required();
  add->add_option("--events", args->events,
                  "created, changed, moved, commented, deleted separated by commas (default: all)");
  add->add_option("--secret-file", args->secretFile,
                  "File whose first line is the secret to sign with (default: a random one, "
                  "printed once)");
  add->add_flag("--paused", args->paused, "Register it without sending anything yet");
  OnClient(*add, options, [args](Client& client) {
    app::hooks::HookSettings settings;
    settings.url = args->url;
    settings.events = args->events.empty() ? "all" : args->events;
    settings.secret = SecretFrom(args->secretFile, "secret");
    settings.active = !args->paused;
    const app::hooks::Added added = client.HookAdd(settings);
    std::cout << fmt::format("Webhook {} added.\n", added.hookID);
    if (args->secretFile.empty()) PrintSecret(added.secret);
  });
}

void RegisterEdit(CLI::App& hooks, Options& options) {
  auto args = std::make_shared<HookArgs>();
  auto* edit = hooks.add_subcommand("edit", "Change a webhook's URL, events, secret or activity");
  edit->add_option("N", args->hookID, "The webhook's ID")->required();
  edit->add_option("--url", args->url, "A new URL");
  edit->add_option("--events", args->events, "The events it takes (or all)");
  edit->add_option("--active", args->active, "Send to it (on) or pause it (off)")
      ->check(CLI::IsMember({"on", "off"}));
  auto* file = edit->add_option("--secret-file", args->secretFile,
                                "File whose first line is its new secret");
  edit->add_flag("--new-secret", args->newSecret, "Give it a new random secret (printed once)")
      ->excludes(file);
  OnClient(*edit, options, [args](Client& client) {
    app::hooks::HookSettings changes;
    if (!args->url.empty()) changes.url = args->url;
    if (!args->events.empty()) changes.events = args->events;
    if (!args->active.empty()) changes.active = args->active == "on";
    if (args->newSecret) changes.secret = std::string();
    if (!args->secretFile.empty()) changes.secret = SecretFrom(args->secretFile, "secret");
    const std::string secret = client.HookEdit(args->hookID, changes);
    std::cout << fmt::format("Webhook {} saved.\n", args->hookID);
    if (!secret.empty()) PrintSecret(secret);
  });
}

void RegisterRemove(CLI::App& hooks, Options& options) {
  auto args = std::make_shared<HookArgs>();
  auto* rm = hooks.add_subcommand("rm", "Remove a webhook and its deliveries");
  rm->add_option("N", args->hookID, "The webhook's ID")->required();
  OnClient(*rm, options, [args](Client& client) {
    client.HookRemove(args->hookID);
    std::cout << fmt::format("Webhook {} removed.\n", args->hookID);
  });
}

void RegisterDeliveries(CLI::App& hooks, Options& options) {
  auto args = std::make_shared<HookArgs>();
  auto* deliveries = hooks.add_subcommand(
      "deliveries", "List the latest deliveries, newest first, with the receivers' answers");
  deliveries->add_option("--hook", args->hookID, "Only this webhook's");
  deliveries->add_option("--limit", args->limit, "How many (default 50)")
      ->check(CLI::Range(1, 1000));
  OnClient(*deliveries, options, [args, &options](Client& client) {
    const auto writer = MakeWriter(FormatOf(options), std::cout, client.locale(), TerminalWidth());
    writer->Begin({{"DeliveryID", 10},
                   {"Delivery", 32},
                   {"HookID", 6},
                   {"Event", 9},
                   {"ActionID", 8},
                   {"State", 9},
                   {"Attempts", 8},
                   {"Status", 6},
                   {"Created", 20},
                   {"NextAttempt", 20},
                   {"Answer", 24},
                   {"LastError", 0}});
    for (const auto& delivery : client.HookDeliveries(args->hookID, args->limit)) {
      writer->Row({delivery.deliveryID, delivery.key, delivery.hookID, delivery.event,
                   delivery.actionID, std::string(delivery.State()), delivery.attempts,
                   delivery.status == 0 ? vb::Variant(vb::Null) : vb::Variant(delivery.status),
                   delivery.created, delivery.nextAttempt, delivery.answer, delivery.lastError});
    }
    writer->End();
  });
}

void RegisterDeliver(CLI::App& hooks, Options& options) {
  auto* deliver = hooks.add_subcommand(
      "deliver", "Send the deliveries that are due, retrying failed ones with back-off");
  OnClient(*deliver, options, [](Client& client) { PrintDeliveryReport(client.HookDeliver()); });
}

}  // namespace

void RegisterHookCommands(CLI::App& app, Options& options) {
  CLI::App* hooks = AddGroup(app, "hooks", "Webhooks: URLs told of every change (SuperUser)");
  RegisterList(*hooks, options);
  RegisterAdd(*hooks, options);
  RegisterEdit(*hooks, options);
  RegisterRemove(*hooks, options);
  RegisterDeliveries(*hooks, options);
  RegisterDeliver(*hooks, options);
}

}  // namespace cli
