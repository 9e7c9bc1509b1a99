// Mail: `mail send` delivers what the outbox holds (run it from cron, or let the web server do
// it), `mail list` shows what waits and what failed, `remind` queues the daily digests. After
// any command that changed an action, the person's own notices are delivered at once; a relay
// that fails only leaves them in the outbox for `mail send`. Through a server, `mail list` and
// `remind --mine/--lead-days` work as on a database; delivering the outbox and queueing the
// digests are the server's own mail work.
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "app/Outbox.h"
#include "app/Reminders.h"
#include "cli/Cli.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

struct SendArgs {
  std::string passwordFile;
};

struct ListArgs {
  bool all = false;
};

struct RemindArgs {
  bool dryRun = false;
  std::string date;
  std::string mine;
  int leadDays = -1;
};

void RegisterSend(CLI::App& mail, Options& options) {
  auto args = std::make_shared<SendArgs>();
  auto* send = mail.add_subcommand(
      "send", "Deliver the mail that is due (SuperUser), retrying failed mail with back-off");
  send->add_option("--password-file", args->passwordFile,
                   "File whose first line is the relay's password (else $" +
                       std::string(app::kSmtpPasswordVariable) + ")");
  OnSession(
      *send, options,
      [args](app::Session& session) {
        PrintDeliveryReport(
            app::DeliverDue(session, app::RelayOf(session, RelayPasswordFrom(args->passwordFile))));
      },
      "the server delivers its outbox itself; 'kvaction mail list' shows what waits");
}

void RegisterList(CLI::App& mail, Options& options) {
  auto args = std::make_shared<ListArgs>();
  auto* list = mail.add_subcommand(
      "list", "List the mail that waits and the mail given up (yours, or all for a SuperUser)");
  list->add_flag("--all", args->all, "Include the mail delivered");
  OnClient(*list, options, [args, &options](Client& client) {
    const auto writer = MakeWriter(FormatOf(options), std::cout, client.locale(), TerminalWidth());
    writer->Begin({{"MailID", 7},
                   {"State", 8},
                   {"Attempts", 8},
                   {"NextAttempt", 20},
                   {"To", 28},
                   {"Subject", 30},
                   {"LastError", 0}});
    for (const auto& entry : client.Outbox(args->all)) {
      std::string to;
      for (const auto& address : entry.to) to += (to.empty() ? "" : ", ") + address;
      writer->Row({entry.mailID, std::string(entry.State()), entry.attempts, entry.nextAttempt, to,
                   entry.subject, entry.lastError});
    }
    writer->End();
  });
}

vb::Date DayOf(app::Session& session, const std::string& text) {
  if (text.empty()) return app::ReminderDay(session);
  if (const auto iso = vb::Date::TryFromIso(text)) return iso->DateOnly();
  if (const auto local = session.locale().ParseDate(text)) return local->DateOnly();
  BadValue("--date", text, "a date (yyyy-mm-dd or " + session.locale().ShortDatePattern() + ")");
}

void QueueDigests(app::Session& session, const RemindArgs& args) {
  const app::RemindReport report = app::Remind(session, DayOf(session, args.date), args.dryRun);
  for (const auto& digest : report.digests) {
    if (args.dryRun) {
      std::cout << "To: " << digest.address << "\nSubject: " << digest.subject << "\n\n"
                << digest.body << '\n';
    } else {
      std::cout << fmt::format("Queued for {} <{}>: {} action{}.\n", digest.userID, digest.address,
                               digest.lines.size(), digest.lines.size() == 1 ? "" : "s");
    }
  }
  for (const auto& user : report.alreadySent) {
    std::cout << "Already reminded today: " << user << ".\n";
  }
  if (report.digests.empty() && report.alreadySent.empty()) std::cout << "Nobody to remind.\n";
}

void RegisterRemind(CLI::App& app, Options& options) {
  auto args = std::make_shared<RemindArgs>();
  auto* remind = app.add_subcommand(
      "remind",
      "Queue today's reminder digests (SuperUser; once per user and day), or set your own "
      "reminders with --mine and --lead-days");
  remind->add_flag("--dry-run", args->dryRun, "Print the digests without queueing them");
  remind->add_option("--date", args->date, "The day to remind of (default: today in TimeZone)");
  remind->add_option("--mine", args->mine, "Switch your own reminders on or off")
      ->check(CLI::IsMember({"on", "off"}));
  remind->add_option("--lead-days", args->leadDays,
                     "Your lead time: actions due within this many days are listed (default 5)");
  remind->callback([args, &options] {
    ApplyDefaults(options);
    if (!args->mine.empty() || args->leadDays >= 0) {
      return RunOnClient(options, [args](Client& client) {
        client.SetReminders(
            args->mine.empty() ? std::nullopt : std::optional<bool>(args->mine == "on"),
            args->leadDays >= 0 ? std::optional<int32_t>(args->leadDays) : std::nullopt);
        std::cout << "Your reminder settings are saved.\n";
      });
    }
    RequireLocal(options, "remind",
                 "the server queues the digests itself at ReminderTime; through a server, "
                 "--mine and --lead-days set your own reminders");
    RunOnSession(options, [args](app::Session& session) { QueueDigests(session, *args); });
  });
}

}  // namespace

void PrintDeliveryReport(const app::DeliveryReport& report) {
  std::cout << fmt::format("Delivered {}, to be tried again {}, given up {}.\n", report.delivered,
                           report.deferred, report.gaveUp);
  for (const auto& problem : report.problems) std::cerr << "kvaction: " << problem << '\n';
}

std::string SecretFrom(const std::string& file, std::string_view what) {
  if (file.empty()) return {};
  std::ifstream in(file);
  std::string secret;
  if (!in || !std::getline(in, secret)) {
    Fail("The " + std::string(what) + " file " + file + " cannot be read.");
  }
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return secret;
}

std::string RelayPasswordFrom(const std::string& file) { return SecretFrom(file, "password"); }

void DeliverOwnMail(app::Session& session) {
  try {
    if (!session.options().mail || !session.action().AutoEmail()) return;
    const app::DeliveryReport report =
        app::DeliverDue(session, app::RelayOf(session), session.userID());
    for (const auto& problem : report.problems) {
      std::cerr << "kvaction: the change is saved, but its notice was not delivered (" << problem
                << "); it stays in the outbox for 'kvaction mail send'.\n";
    }
  } catch (const vb::ComError& e) {
    std::cerr << "kvaction: the change is saved, but notices could not be sent: " << e.description()
              << '\n';
  }
}

void RegisterMailCommands(CLI::App& app, Options& options) {
  CLI::App* mail = AddGroup(app, "mail", "The outbox: deliver and list notices and reminders");
  RegisterSend(*mail, options);
  RegisterList(*mail, options);
  RegisterRemind(app, options);
}

}  // namespace cli
