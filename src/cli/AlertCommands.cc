// The notice of one action: email prints the notification e-mail the library builds for it, or
// sends it through the SMTP relay of the setting SMTPHost.
#include <iostream>
#include <string>

#include "app/Mailer.h"
#include "cli/Cli.h"
#include "vb/Convert.h"

namespace cli {
namespace {

struct EmailArgs {
  std::string url;
  bool send = false;
};

std::string Text(ado::Recordset& notice, std::string_view field) {
  return vb::TextOf(notice.Fields().Item(field).Value());
}

/// The notice as the mail it becomes: to the assignee and the originator that EmailData chose.
app::OutgoingMail MailOf(ado::Recordset& notice) {
  app::OutgoingMail mail{{}, Text(notice, "FromName"), Text(notice, "FromEmail"),
                         {}, Text(notice, "Subject"),  Text(notice, "Body")};
  for (const std::string_view field : {"AssigneeEmail", "OriginatorEmail"}) {
    if (std::string address = Text(notice, field); !address.empty()) {
      mail.to.push_back(std::move(address));
    }
  }
  return mail;
}

}  // namespace

void RegisterAlertCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<EmailArgs>();
  auto* email = app.add_subcommand(
      "email",
      "Print the notification e-mail of action N; with --send deliver it through the SMTP "
      "relay of the setting SMTPHost (with its SMTPSecurity and SMTPUser)");
  email->add_option("--url", args->url, "Base URL of the web front end for the link");
  email->add_flag("--send", args->send, "Deliver the e-mail over SMTP");
  OnTarget(*email, options, [args, &options](app::Session& session, int32_t id) {
    kvaction::Action& action = session.action();
    const auto notice = action.EmailData(id, args->url);
    if (!notice || notice->IsEOF()) Fail("There is no notice for this action.");
    const app::OutgoingMail mail = MailOf(*notice);
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
