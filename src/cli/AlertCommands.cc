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
  bool send = false;
};

}  // namespace

void RegisterAlertCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<EmailArgs>();
  auto* email = app.add_subcommand(
      "email",
      "Print the notification e-mail of action N (its recipients' addresses only to its "
      "assignee, its originator and user maintainers); with --send deliver it through the SMTP "
      "relay of the setting SMTPHost (its assignee, originator or a SuperUser). The link goes "
      "under the setting WebURL");
  email->add_flag("--send", args->send, "Deliver the e-mail over SMTP");
  // The link once came from --url; it is refused, saying what to do instead, not ignored.
  email->add_option("--url")->group("")->each([](const std::string&) {
    throw UsageError(
        "--url: the link comes from the setting WebURL (kvaction settings set WebURL "
        "URL, SuperUser)");
  });
  OnClientTarget(*email, options, [args, &options](Client& client, int32_t id) {
    if (args->send) {
      const std::size_t sent = client.SendNotice(id);
      std::cout << "Sent to " << sent << (sent == 1 ? " recipient.\n" : " recipients.\n");
      return;
    }
    const Client::Notice notice = client.NoticeOf(id);
    if (options.json) {
      PrintRecordset(std::cout, *notice.record, Format::kJson, client.locale());
      return;
    }
    std::cout << notice.text << '\n';
  });
}

}  // namespace cli
