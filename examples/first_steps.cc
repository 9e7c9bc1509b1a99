// A first kvAction client: creates an action database, signs in, adds two actions, lists them,
// counts the alerts and builds a notification e-mail.
//   first_steps [DATABASE-FILE]   (default: first_steps.kvdb, replaced on each run)
#include <kvaction/Action.h>
#include <kvaction/kvdata/DataServer.h>
#include <kvaction/vb/Convert.h>

#include <filesystem>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "first_steps.kvdb";
  try {
    // A new database with its first user, a SuperUser.
    std::filesystem::remove(file);
    kvdata::DataServer::CreateDatabase(file, {"ada", "Ada Admin", "first-steps"});

    // Open it and sign in.
    kvaction::Action action;
    action.OpenConnection(file);
    action.Login("ada", "first-steps");

    // Add two actions, due in two weeks and assigned for review (the status sentence of lists
    // and e-mails reads the review status): the values go in as a one-row, in-memory record set.
    const vb::Date due = action.Clock().Today().AddDays(14);
    for (const char* subject : {"Order the spare pump", "Update the risk register"}) {
      auto values = ado::Recordset::Create();
      values->Fields().Append("Subject", ado::adVarWChar, 100, ado::adFldUpdatable);
      values->Fields().Append("AssigneeID", ado::adVarWChar, 50, ado::adFldUpdatable);
      values->Fields().Append("Assignee", ado::adVarWChar, 100, ado::adFldUpdatable);
      values->Fields().Append("DateDue", ado::adDate, 0, ado::adFldUpdatable);
      values->Fields().Append("Reviewed", ado::adSmallInt, 0, ado::adFldUpdatable);
      values->Open(ado::adOpenStatic, ado::adLockOptimistic);
      values->AddNew({"Subject", "AssigneeID", "Assignee", "DateDue", "Reviewed"},
                     {vb::Variant(subject), vb::Variant("ada"), vb::Variant("Ada Admin"),
                      vb::Variant(due), vb::Variant(int16_t{kvaction::rsAssigneeReview})});
      std::cout << "Added action " << action.addRecord(nullptr, values) << '\n';
    }

    // List them: query 0 is the signed-in user's open actions.
    auto list = action.QueriedRecordset(0, "ActionNumber");
    for (; !list->IsEOF(); list->MoveNext()) {
      std::cout << vb::TextOf(list->Fields().Item("ActionNumber").Value()) << "  "
                << vb::TextOf(list->Fields().Item("Subject").Value()) << '\n';
    }

    std::cout << "Alerts: " << action.Alerts() << '\n';

    // The notification e-mail of the first action, as a mail program would send it.
    auto mail = action.EmailData(1, "https://actions.example.com/");
    std::cout << "Subject: " << vb::TextOf(mail->Fields().Item("Subject").Value()) << '\n'
              << vb::TextOf(mail->Fields().Item("Body").Value()) << '\n';
  } catch (const vb::ComError& e) {
    std::cerr << "error " << e.number() << " (" << e.source() << "): " << e.description() << '\n';
    return 1;
  }
  return 0;
}
