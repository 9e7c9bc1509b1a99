// The commands on actions: add, show, edit (one or many), review, complete, close, reopen, copy
// and delete. Actions are named by the number users know (ActionNumber), or by ActionID with --id.
#include <algorithm>
#include <charconv>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/Actions.h"
#include "app/Bulk.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "cli/Cli.h"
#include "cli/Fields.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

/// What the commands were given.
struct RecordArgs {
  ActionTargets targets;  ///< the actions delete names
  std::string note;
  std::string move;  ///< review: a move's name, or a review status number
  /// Column values as typed, by position in EditableFields(); an empty text clears.
  std::vector<std::optional<std::string>> values =
      std::vector<std::optional<std::string>>(EditableFields().size());
};

void AddFieldOptions(CLI::App& command, RecordArgs& args, bool creating) {
  for (std::size_t i = 0; i < EditableFields().size(); ++i) {
    const FieldOption& field = EditableFields()[i];
    if (creating && !app::IsNewActionColumn(field.column)) continue;
    command.add_option(field.option, args.values[i], field.help);
  }
}

/// The options given, as app/ takes them (dates checked against the session's form first).
app::FieldTexts TextsOf(const RecordArgs& args, const vb::Locale& locale) {
  app::FieldTexts texts;
  for (std::size_t i = 0; i < EditableFields().size(); ++i) {
    if (!args.values[i]) continue;
    const FieldOption& field = EditableFields()[i];
    CheckForm(field, *args.values[i], locale);
    texts.emplace_back(field.column, *args.values[i]);
  }
  return texts;
}

/// The review status a review's MOVE gives as a number, or nothing for a move's name.
std::optional<int32_t> ReviewStatusOf(const std::string& move) {
  int32_t status = 0;
  const auto [end, error] = std::from_chars(move.data(), move.data() + move.size(), status);
  if (move.empty() || error != std::errc() || end != move.data() + move.size()) return std::nullopt;
  return status;
}

/// One action as the view gives it: "Column: value" lines in words, its state, whose turn it is,
/// the moves open now, the conversation and the history; or the view as JSON with the stored
/// values under "action".
void Show(Client& client, int32_t actionID, const Options& options) {
  const ShownAction shown = client.Show(actionID);
  const app::ActionView& view = shown.view;
  if (!view.history) {
    // Someone without the right to view history still sees the action itself.
    std::cerr << "kvaction: the history of this action needs right 82 (view history)\n";
  }
  if (options.json) {
    nlohmann::ordered_json json = app::ViewJson(view);
    nlohmann::ordered_json action = nlohmann::ordered_json::object();
    ado::Fields fields = shown.row->Fields();
    for (int32_t i = 0; i < fields.Count(); ++i) {
      action[fields.Item(i).Name()] = JsonValue(fields.Item(i).Value());
    }
    json["action"] = std::move(action);
    std::cout << json.dump(2) << '\n';
    return;
  }
  std::size_t width = std::string_view("State").size();
  for (const app::ViewField& field : view.fields) width = std::max(width, field.column.size());
  const auto line = [&](std::string_view name, const std::string& text) {
    std::cout << name << ':' << std::string(width - name.size() + 1, ' ') << Escaped(text) << '\n';
  };
  line("State", view.state.words);
  line("Turn", view.state.turnWords);
  for (const app::ViewField& field : view.fields) line(field.column, field.text);
  if (!view.moves.empty()) {
    std::cout << "\nReview moves (kvaction review MOVE " << view.number << "):\n";
    for (const app::ReviewMove& move : view.moves) {
      std::cout << fmt::format("  {:<12}{}\n", move.name, move.title);
    }
  }
  if (!view.conversation.empty()) {
    std::cout << "\nConversation:\n";
    for (const app::ConversationEntry& entry : view.conversation) {
      std::string heading = entry.when + " " + entry.who;
      if (!entry.move.empty()) heading += ", " + entry.move;
      std::cout << "  " << Escaped(heading) << ":\n";
      // A note of several lines keeps them, each indented under its heading.
      std::string_view text = entry.text;
      while (true) {
        const size_t end = text.find('\n');
        std::cout << "    " << Escaped(text.substr(0, end)) << '\n';
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
      }
    }
  }
  if (view.history && !view.history->empty()) {
    std::cout << "\nHistory:\n";
    for (const app::HistoryEntry& entry : *view.history) {
      std::cout << "  " << vb::TextOf(entry.when, client.locale()) << "  " << Escaped(entry.who)
                << "  " << Escaped(entry.text) << '\n';
    }
  }
}

/// Prints what became of an edit; raises when nothing could be stored.
void Report(const app::EditResult& result) {
  if (!result.conflicts.empty()) {
    std::string text = "Not saved: someone else changed the same fields meanwhile:";
    for (const app::Conflict& c : result.conflicts) {
      text += "\n  " + c.column + ": yours '" + c.mine + "', theirs '" + c.theirs + "'";
    }
    Fail(text);
  }
  if (result.changed.empty()) {
    std::cout << "Nothing changed.\n";
    return;
  }
  std::cout << "Changed";
  for (std::size_t i = 0; i < result.changed.size(); ++i) {
    std::cout << (i == 0 ? " " : ", ") << result.changed[i];
  }
  std::cout << ".\n";
}

/// Prints a bulk change's report, one line per action, then its totals; raises (exit status 1)
/// when an action was refused or not found, after the report.
void Report(Client& client, const app::BulkReport& report, const Options& options) {
  if (options.json) {
    std::cout << app::BulkJson(report).dump(2) << '\n';
  } else {
    for (const app::BulkItem& item : report.items)
      std::cout << Escaped(app::BulkLine(item)) << '\n';
  }
  const std::string summary = app::BulkSummary(report);
  if (report.Count(app::BulkOutcome::Refused) + report.Count(app::BulkOutcome::NotFound) > 0) {
    client.Finish();  // the actions that changed have their notices all the same
    Fail(summary);
  }
  if (!options.json) std::cout << summary << '\n';
}

/// edit: one action as before (its conflicts and merges told), or several at once, named or a
/// saved query's, with a move besides; a bulk change reports each action.
void RegisterEdit(CLI::App& app, Options& options, const std::shared_ptr<RecordArgs>& args) {
  struct EditArgs {
    std::vector<int32_t> numbers;
    bool byID = false;
    std::optional<int32_t> query;
    std::string move;
    std::string note;
  };
  auto editArgs = std::make_shared<EditArgs>();
  auto* edit = app.add_subcommand(
      "edit",
      "Change fields of actions, each as its editing right allows (empty clears): one, several "
      "(edit 3 5 7 --assignee pat) or a saved query's (edit --query 12 --priority High; at most " +
          std::to_string(app::kBulkLimit) + " actions), each reported");
  AddFieldOptions(*edit, *args, false);
  edit->add_option("N", editArgs->numbers, "Action numbers")->expected(0, 1 << 20);
  edit->add_flag("--id", editArgs->byID, "Name actions by ActionID instead of ActionNumber");
  edit->add_option("--query", editArgs->query, "Every action of a saved query (its ID)");
  edit->add_option("--move", editArgs->move,
                   "Also complete, close, reopen or delete each action (delete: without fields)");
  edit->add_option("--note", editArgs->note, "A result note for --move (with your name and date)");
  OnClient(*edit, options, [args, editArgs, &options](Client& client) {
    const app::FieldTexts changes = TextsOf(*args, client.locale());
    const EditArgs& given = *editArgs;
    if (given.query && !given.numbers.empty()) {
      throw UsageError("edit: give action numbers or --query, not both");
    }
    if (!given.query && given.numbers.empty()) {
      throw UsageError("edit: give the action numbers to change, or --query ID");
    }
    if (given.numbers.size() == 1 && !given.query && given.move.empty()) {
      if (changes.empty()) throw UsageError("edit: give at least one field to change, e.g. --due");
      ActionTargets target{given.numbers, given.byID};
      return Report(client.Edit(target.IDsIn(client).front(), changes));
    }
    app::BulkSelection selection;
    if (given.query) {
      selection.list = app::ListRequest{};
      selection.list->queryID = *given.query;
    } else {
      selection.ids = given.numbers;
      selection.byNumber = !given.byID;
    }
    Report(client, client.Bulk(selection, {changes, app::BulkMoveOf(given.move), given.note}),
           options);
  });
}

void RegisterStatusChange(CLI::App& app, Options& options, const std::shared_ptr<RecordArgs>& args,
                          const char* name, const char* description, StatusChange change,
                          const char* done) {
  auto* command = app.add_subcommand(name, description);
  command->add_option("--note", args->note, "A result note (recorded with your name and date)");
  OnClientTarget(*command, options, [args, change, done](Client& client, int32_t id) {
    client.Change(id, change, args->note);
    std::cout << done << ' ' << client.ActionNumberText(id) << ".\n";
  });
}

}  // namespace

void RegisterRecordCommands(CLI::App& app, Options& options) {
  auto args = std::make_shared<RecordArgs>();

  auto* add = app.add_subcommand("add", "Create an action (needs right 50); prints its number");
  AddFieldOptions(*add, *args, true);
  OnClient(*add, options, [args](Client& client) {
    const int32_t id = client.Add(TextsOf(*args, client.locale()));
    std::cout << client.ActionNumberText(id) << '\n';
  });

  auto* show = app.add_subcommand("show", "Show an action and its history (history: right 82)");
  OnClientTarget(*show, options,
                 [&options](Client& client, int32_t id) { Show(client, id, options); });

  RegisterEdit(app, options, args);

  auto* review = app.add_subcommand(
      "review",
      "Take a review move on an action, as its page offers (show lists them), and alert the "
      "other party");
  review
      ->add_option("MOVE", args->move,
                   "assign, complete, clarify-ask, clarify, approve, reject, close or reopen; or "
                   "a review status to set as it is (needs SetStatus): 0-2 the assignee's turn, "
                   "10-12 the originator's, 40-42 reopened, 50-52 closed")
      ->required();
  review->add_option("--note", args->note, "A result note (recorded with your name and date)");
  OnClientTarget(*review, options, [args](Client& client, int32_t id) {
    const std::string number = client.ActionNumberText(id);
    if (const std::optional<int32_t> status = ReviewStatusOf(args->move)) {
      if (!args->note.empty()) throw UsageError("review: --note goes with a move, not a status");
      client.Review(id, *status);
      std::cout << "Review status of " << number << " is now " << *status << ".\n";
      return;
    }
    // The move's words as the page's button has them, read before the move changes the offer.
    const std::vector<app::ReviewMove> offered = client.MovesFor(id);
    client.Move(id, args->move, args->note);
    const auto taken = std::find_if(offered.begin(), offered.end(),
                                    [&](const app::ReviewMove& m) { return m.name == args->move; });
    std::cout << (taken == offered.end() ? args->move : taken->title) << ": done on " << number
              << ".\n";
  });

  RegisterStatusChange(app, options, args, "complete", "Mark an action completed today",
                       StatusChange::kComplete, "Completed");
  RegisterStatusChange(app, options, args, "close", "Close an action today", StatusChange::kClose,
                       "Closed");
  RegisterStatusChange(app, options, args, "reopen", "Reopen a closed or completed action",
                       StatusChange::kReopen, "Reopened");

  auto* copy =
      app.add_subcommand("copy", "Copy an action (needs right 50); prints the copy's number");
  OnClientTarget(*copy, options, [](Client& client, int32_t id) {
    std::cout << client.ActionNumberText(client.Copy(id)) << '\n';
  });

  auto* remove = app.add_subcommand(
      "delete", "Delete actions with their attachments (as the delete permission allows)");
  args->targets.AddTo(*remove, true);
  OnClient(*remove, options, [args](Client& client) {
    const std::vector<int32_t> ids = args->targets.IDsIn(client);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const std::string number = client.ActionNumberText(ids[i]);
      client.Delete(ids[i]);
      std::cout << "Deleted " << number << ".\n";
    }
  });
}

}  // namespace cli
