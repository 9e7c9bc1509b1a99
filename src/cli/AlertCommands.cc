// The commands around alerts and notices: alerts (the count), due (the list), status (the
// summary sentences of one action) and email (the notice of one action, printed or sent).
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/Smtp.h"
#include "kvaction/alerts/RecordStatus.h"
#include "vb/Convert.h"

namespace cli {
namespace {

// --- alerts -------------------------------------------------------------------------------

struct AlertsArgs {
  std::string user;
  std::string dbid;
  int16_t mode = 0;
};

void RegisterAlerts(CLI::App& app, Options& options) {
  auto args = std::make_shared<AlertsArgs>();
  auto* alerts = app.add_subcommand(
      "alerts",
      "Count the open actions that need a user's attention (mode 0: overdue, or flagged while "
      "it is the user's turn; mode 1: assigned to the user)");
  alerts->add_option("--for", args->user,
                     "User whose actions are counted (default: the logged-in user)");
  alerts->add_option("--dbid", args->dbid, "Count only the actions of this reference ID");
  alerts->add_option("--mode", args->mode, "0 (default) or 1");
  OnAction(*alerts, options, [args, &options](kvaction::Action& action) {
    const int32_t count = action.Alerts(args->user, args->dbid, args->mode);
    if (options.json) {
      std::cout << nlohmann::json{{"alerts", count}}.dump(2) << '\n';
    } else {
      std::cout << count << '\n';
    }
  });
}

// --- due ----------------------------------------------------------------------------------

void RegisterDue(CLI::App& app, Options& options) {
  auto days = std::make_shared<int16_t>(0);
  auto* due = app.add_subcommand(
      "due", "List every open action due before today, or before today plus --days days");
  due->add_option("--days", *days, "Days beyond today (0 or less: before today)");
  OnAction(*due, options, [days, &options](kvaction::Action& action) {
    PrintRecordset(std::cout, *action.AlertRecords({}, {}, 0, *days), options);
  });
}

// --- status -------------------------------------------------------------------------------

void RegisterStatus(CLI::App& app, Options& options) {
  auto id = std::make_shared<int32_t>(0);
  auto* status =
      app.add_subcommand("status", "Describe an action's state in words: whose turn, when due");
  status->add_option("ACTIONID", *id, "The action's ID")->required();
  OnAction(*status, options, [id, &options](kvaction::Action& action) {
    const auto record = ActionRecord(action, *id);
    const kvaction::StatusTexts texts =
        // An action nobody has reviewed yet reads as assigned, the state it starts in.
        kvaction::RecordStatus(*record, action.Clock(), action.Locale(),
                               kvaction::rsAssigneeReview);
    if (options.json) {
      std::cout << nlohmann::json{{"image", texts.image},
                                  {"shortStatus", texts.shortStatus},
                                  {"dueText", texts.dueText},
                                  {"status", texts.status}}
                       .dump(2)
                << '\n';
      return;
    }
    std::cout << "Status: " << texts.status << '\n'
              << "Due: " << texts.dueText << '\n'
              << "Short status: " << texts.shortStatus << '\n'
              << "Image: " << texts.image << '\n';
  });
}

// --- email --------------------------------------------------------------------------------

struct EmailArgs {
  int32_t id = 0;
  std::string url;
  bool send = false;
};

std::string Text(ado::Recordset& notice, std::string_view field) {
  return vb::TextOf(notice.Fields().Item(field).Value());
}

/// The notice as the mail it becomes: to the assignee and the originator that EmailData chose.
MailMessage MailOf(ado::Recordset& notice) {
  MailMessage mail{Text(notice, "FromName"),
                   Text(notice, "FromEmail"),
                   {},
                   Text(notice, "Subject"),
                   Text(notice, "Body")};
  for (const std::string_view field : {"AssigneeEmail", "OriginatorEmail"}) {
    if (std::string address = Text(notice, field); !address.empty()) {
      mail.to.push_back(std::move(address));
    }
  }
  return mail;
}

void RegisterEmail(CLI::App& app, Options& options) {
  auto args = std::make_shared<EmailArgs>();
  auto* email = app.add_subcommand(
      "email",
      "Print the notification e-mail of an action; with --send deliver it through the SMTP "
      "relay of the setting SMTPHost");
  email->add_option("ACTIONID", args->id, "The action's ID")->required();
  email->add_option("--url", args->url, "Base URL of the web front end for the link");
  email->add_flag("--send", args->send, "Deliver the e-mail over SMTP");
  OnAction(*email, options, [args, &options](kvaction::Action& action) {
    const auto notice = action.EmailData(args->id, args->url);
    if (!notice) NoSuchAction(args->id, true);
    const MailMessage mail = MailOf(*notice);
    if (args->send) {
      SendMail(action.SMTPHost(), mail);
      std::cout << "Sent to " << mail.to.size()
                << (mail.to.size() == 1 ? " recipient.\n" : " recipients.\n");
      return;
    }
    if (options.json) {
      notice->MoveFirst();
      PrintRecordset(std::cout, *notice, options);
      return;
    }
    std::cout << MailText(mail) << '\n';
  });
}

}  // namespace

void RegisterAlertCommands(CLI::App& app, Options& options) {
  RegisterAlerts(app, options);
  RegisterDue(app, options);
  RegisterStatus(app, options);
  RegisterEmail(app, options);
}

}  // namespace cli
