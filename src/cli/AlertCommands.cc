// The notice of one action: email prints the notification e-mail the library builds for it, or
// sends it through the SMTP relay of the setting SMTPHost.
#include <iostream>
#include <string>

#include "app/Mailer.h"
#include "app/Notify.h"
#include "cli/Cli.h"

namespace cli {
namespace {

struct EmailArgs {
  std::string url;
  bool send = false;
};

}  // namespace

void RegisterAlertCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<EmailArgs>();
  auto* email = app.add_subcommand(
      "email",
      "Print the notification e-mail of action N; with --send deliver it through the SMTP "
      "relay of the setting SMTPHost (with its SMTPSecurity and SMTPUser)");
  email->add_option("--url", args->url,
                    "Base URL of the web front end for the link (default: the setting WebURL)");
  email->add_flag("--send", args->send, "Deliver the e-mail over SMTP");
  OnTarget(*email, options, [args, &options](app::Session& session, int32_t id) {
    kvaction::Action& action = session.action();
    // Without --url the link goes where the notices of changes point (the setting WebURL).
    const std::string base = args->url.empty() ? app::WebURL(session) : args->url;
    const auto notice = action.EmailData(id, base);
    if (!notice || notice->IsEOF()) Fail("There is no notice for this action.");
    const app::OutgoingMail mail = app::NoticeMail(session, *notice, base);
    if (args->send) {
      app::Deliver(app::RelayOf(session), mail);
      std::cout << "Sent to " << mail.to.size()
                << (mail.to.size() == 1 ? " recipient.\n" : " recipients.\n");
      return;
    }
    if (options.json) {
      PrintRecordset(std::cout, *notice, Format::kJson, session.locale());
      return;
    }
    std::cout << app::MessageText(mail) << '\n';
  });
}

}  // namespace cli
