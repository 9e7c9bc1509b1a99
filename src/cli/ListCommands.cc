// Listing actions: list (a saved query, ad-hoc filters, columns, sort, limit), alerts, due, and
// the saved queries themselves. Rows are printed as they come from the database.
#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Errors.h"
#include "app/Lists.h"
#include "app/View.h"
#include "cli/Cli.h"
#include "cli/Fields.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

/// The columns a listing derives from the view of an action: its state and whose turn it is,
/// as codes in JSON and CSV, in words in a table.
constexpr std::string_view kState = "State";
constexpr std::string_view kTurn = "Turn";
bool IsDerived(std::string_view column) { return column == kState || column == kTurn; }

/// The view people see when they ask for no columns.
const std::vector<std::string>& DefaultView() {
  static const std::vector<std::string> view = {"ActionNumber", "DateDue", "State", "Turn",
                                                "Subject"};
  return view;
}

/// A short heading for a table (JSON and CSV keep the column names).
std::string Heading(const std::string& column) {
  static const std::vector<std::pair<std::string_view, std::string_view>> headings = {
      {"ActionNumber", "No."},        {"DateDue", "Due"},       {"DateOpened", "Opened"},
      {"DateCompleted", "Completed"}, {"DateClosed", "Closed"}, {"DateRejected", "Moved"}};
  for (const auto& [name, heading] : headings) {
    if (vb::EqualsText(name, column)) return std::string(heading);
  }
  return column;
}

/// The cells a table gives a column of this type (0: a share of what is left).
std::size_t TableWidth(std::string_view column, ado::DataTypeEnum type) {
  if (column == kState) return 16;
  if (column == kTurn) return 20;
  switch (type) {
    case ado::adInteger:
    case ado::adSmallInt:
      return 7;
    case ado::adBoolean:
      return 5;
    case ado::adDate:
    case ado::adDBTimeStamp:
      return 10;
    default:
      break;
  }
  for (const std::string_view name : {"Assignee", "Originator", "AssigneeID", "OriginatorID"}) {
    if (vb::EqualsText(name, column)) return 14;
  }
  for (const std::string_view name : {"Category", "Priority", "ReferenceID"}) {
    if (vb::EqualsText(name, column)) return 10;
  }
  return 0;
}

/// The columns to print, read from a record set of (at least) them; State and Turn are derived.
class Listing {
 public:
  Listing(Client& client, std::vector<std::string> view, Format format)
      : client_(client), view_(std::move(view)), format_(format) {}

  /// The table columns the record set must hold for the view.
  [[nodiscard]] std::vector<std::string> SourceColumns() const {
    std::vector<std::string> columns;
    const auto need = [&](const std::string& column) {
      for (const std::string& c : columns) {
        if (vb::EqualsText(c, column)) return;
      }
      columns.push_back(column);
    };
    for (const std::string& column : view_) {
      if (!IsDerived(column)) need(column);
    }
    return Derives() ? app::WithStateColumns(columns) : columns;
  }
  /// Whether the view shows State or Turn, which each row's state gives.
  [[nodiscard]] bool Derives() const { return std::any_of(view_.begin(), view_.end(), IsDerived); }

  /// Prints every row from the record set's current row on.
  void Print(ado::Recordset& rs) {
    ado::Fields fields = rs.Fields();
    std::vector<ColumnSpec> specs;
    std::vector<std::optional<ado::Field>> sources;  // nothing for State and Turn
    for (const std::string& column : view_) {
      const bool derived = IsDerived(column);
      if (!derived && !fields.Contains(column)) {
        BadValue("--columns", column, "a column of the actions table (or State, Turn)");
      }
      if (!derived)
        sources.emplace_back(fields.Item(column));
      else
        sources.emplace_back();
      // Keys spelled as the table spells its columns.
      const std::string name = derived ? column : sources.back()->Name();
      const ado::DataTypeEnum type = derived ? ado::adVarWChar : sources.back()->Type();
      specs.push_back({format_ == Format::kTable ? Heading(name) : name, TableWidth(name, type)});
    }
    const auto writer = MakeWriter(format_, std::cout, client_.locale(), TerminalWidth());
    writer->Begin(specs);
    const bool derives = Derives();
    const bool words = format_ == Format::kTable;
    std::vector<vb::Variant> values(view_.size());
    for (; !rs.IsEOF(); rs.MoveNext()) {
      app::RowState state;
      if (derives) state = client_.StateOf(rs);
      for (std::size_t i = 0; i < view_.size(); ++i) {
        if (sources[i]) {
          values[i] = sources[i]->Value();
        } else if (view_[i] == kState) {
          values[i] = vb::Variant(words ? state.words : std::string(app::StateCode(state.state)));
        } else {
          values[i] = vb::Variant(words ? state.turnWords : std::string(app::TurnCode(state)));
        }
      }
      writer->Row(values);
    }
    writer->End();
  }

 private:
  Client& client_;
  std::vector<std::string> view_;
  Format format_;
};

/// The column names of --columns: "ActionNumber,Subject" (blanks around names ignored).
std::vector<std::string> ColumnList(const std::string& text) {
  std::vector<std::string> columns;
  std::istringstream in(text);
  for (std::string name; std::getline(in, name, ',');) {
    const auto first = name.find_first_not_of(' ');
    const auto last = name.find_last_not_of(' ');
    if (first == std::string::npos) BadValue("--columns", text, "a list of column names");
    columns.push_back(name.substr(first, last - first + 1));
  }
  if (columns.empty()) BadValue("--columns", text, "a list of column names");
  return columns;
}

/// Options shared by the commands that print a listing.
struct ViewArgs {
  std::string columns;
  bool csv = false;
  void AddTo(CLI::App& command) {
    command.add_option("--columns", columns,
                       "Columns to show, e.g. ActionNumber,DateDue,State,Subject (default those "
                       "and Turn; State and Turn are derived: whose turn it is)");
    command.add_flag("--csv", csv, "Print CSV (RFC 4180) instead of a table");
  }
  [[nodiscard]] Listing ListingFor(Client& client, const Options& options) const {
    const Format format = csv ? Format::kCsv : FormatOf(options);
    return {client, columns.empty() ? DefaultView() : ColumnList(columns), format};
  }
};

/// The filter options: the option, the field ID app/ reads its text under, and the help.
struct FilterOption {
  const char* option;
  const char* field;
  const char* help;
};
constexpr std::array<FilterOption, 16> kFilterOptions = {{
    {"--assignee", "assignee", "Only actions assigned to this user ID"},
    {"--originator", "originator", "Only actions raised by this user ID"},
    {"--status", "status",
     "States, comma-separated: active (all but closed), open, due-today, overdue, completed, "
     "clarification, rejected, closed"},
    {"--due-within", "dueWithin", "Open actions due within N days"},
    {"--category", "category", "Only this category"},
    {"--priority", "priority", "Only this priority"},
    {"--grep", "grep",
     "Text in any field: subject, description, result, notes, category, priority, reference, "
     "people by name or user ID (letter case ignored)"},
    {"--reference", "reference", "Only actions of this reference ID"},
    {"--due-from", "dueFrom", "Due on or after DATE (yyyy-mm-dd or your short date form)"},
    {"--due-to", "dueTo", "Due on or before DATE"},
    {"--opened-from", "openedFrom", "Opened on or after DATE"},
    {"--opened-to", "openedTo", "Opened on or before DATE"},
    {"--completed-from", "completedFrom", "Completed on or after DATE"},
    {"--completed-to", "completedTo", "Completed on or before DATE"},
    {"--closed-from", "closedFrom", "Closed on or after DATE"},
    {"--closed-to", "closedTo", "Closed on or before DATE"},
}};

/// The ad-hoc filter options as given; app/ reads them into a filter.
struct FilterArgs {
  bool mine = false;
  std::array<std::optional<std::string>, kFilterOptions.size()> texts;

  void AddTo(CLI::App& command) {
    command.add_flag("--mine", mine, "Only actions you are assignee or originator of");
    for (size_t i = 0; i < kFilterOptions.size(); ++i) {
      command.add_option(kFilterOptions[i].option, texts[i], kFilterOptions[i].help);
    }
  }
  /// The filter as given, by app/'s field IDs, once app/ has read it here: a value it cannot
  /// read is a usage error naming the option, before anything is asked of a server.
  [[nodiscard]] app::FilterTexts Texts() const {
    app::FilterTexts given;
    if (mine) given.emplace_back("mine", "true");
    for (size_t i = 0; i < kFilterOptions.size(); ++i) {
      if (texts[i]) given.emplace_back(kFilterOptions[i].field, *texts[i]);
    }
    try {
      (void)app::FilterOf(given);
    } catch (const vb::ComError& e) {
      if (e.number() != app::kInvalidInput) throw;
      throw UsageError(InOptionNames(e.description()));
    }
    return given;
  }
};

struct ListArgs {
  std::optional<int32_t> query;
  FilterArgs filter;
  std::string sort;
  int32_t limit = 0;
  ViewArgs view;
};

void RegisterList(CLI::App& app, Options& options) {
  auto args = std::make_shared<ListArgs>();
  auto* list = app.add_subcommand(
      "list",
      "List actions: your open ones, a saved query's, or those the filters choose (--csv, "
      "--json)");
  list->add_option("--query", args->query, "A saved query's ID (see query list)");
  args->filter.AddTo(*list);
  list->add_option("--sort", args->sort, "Order, e.g. \"DateDue desc, ActionNumber\"");
  list->add_option("--limit", args->limit, "At most N rows")->check(CLI::NonNegativeNumber);
  args->view.AddTo(*list);
  OnClient(*list, options, [args, &options](Client& client) {
    Listing listing = args->view.ListingFor(client, options);
    ListQuery query;
    query.queryID = args->query;
    query.filter = args->filter.Texts();
    query.columns = listing.SourceColumns();
    query.sort = args->sort;
    query.limit = args->limit;
    query.states = listing.Derives();
    listing.Print(*client.List(query));
  });
}

void RegisterQuery(CLI::App& app, Options& options) {
  struct Args {
    std::string name;
    FilterArgs filter;
    int32_t id = 0;
    bool off = false;
  };
  auto args = std::make_shared<Args>();
  CLI::App* query = AddGroup(app, "query", "Saved queries: add, list, share, delete");

  auto* add = query->add_subcommand(
      "add", "Save the filters as a query (right 52; others' actions need 68); prints its ID");
  add->add_option("NAME", args->name, "The query's name")->required();
  args->filter.AddTo(*add);
  OnClient(*add, options, [args](Client& client) {
    std::cout << client.QueryAdd(args->name, args->filter.Texts()) << '\n';
  });

  auto* list = query->add_subcommand("list", "List the queries you may use (yours and shared)");
  OnClient(*list, options, [&options](Client& client) {
    PrintRecordset(std::cout, *client.QueryList(), FormatOf(options), client.locale());
  });

  auto* share = query->add_subcommand(
      "share", "Make one of your queries available to everyone (right 53); --off withdraws it");
  share->add_option("ID", args->id, "The query's ID")->required();
  share->add_flag("--off", args->off, "Withdraw it instead");
  OnClient(*share, options, [args](Client& client) {
    client.QueryShare(args->id, !args->off);
    std::cout << (args->off ? "Withdrew" : "Shared") << " the query " << args->id << ".\n";
  });

  auto* remove = query->add_subcommand("delete", "Delete one of your saved queries");
  remove->add_option("ID", args->id, "The query's ID")->required();
  OnClient(*remove, options, [args](Client& client) {
    client.QueryDelete(args->id);
    std::cout << "Deleted the query " << args->id << ".\n";
  });
}

void RegisterAlerts(CLI::App& app, Options& options) {
  struct Args {
    bool list = false;
    ViewArgs view;
  };
  auto args = std::make_shared<Args>();
  auto* alerts =
      app.add_subcommand("alerts", "Count the actions that need your attention; --list lists them");
  alerts->add_flag("--list", args->list, "List the actions the count counts instead");
  args->view.AddTo(*alerts);
  OnClient(*alerts, options, [args, &options](Client& client) {
    if (args->list) {
      Listing listing = args->view.ListingFor(client, options);
      ListQuery query;
      query.columns = listing.SourceColumns();
      query.states = listing.Derives();
      listing.Print(*client.AlertList(query));
      return;
    }
    const int32_t count = client.AlertCount();
    if (options.json) {
      std::cout << nlohmann::json{{"Alerts", count}}.dump() << '\n';
    } else {
      std::cout << count << '\n';
    }
  });
}

void RegisterDue(CLI::App& app, Options& options) {
  struct Args {
    std::optional<int32_t> days;
    bool mine = false;
    ViewArgs view;
  };
  auto args = std::make_shared<Args>();
  auto* due = app.add_subcommand(
      "due", "List open actions due within --days days (default: your profile's horizon)");
  due->add_option("--days", args->days, "Days beyond today")->check(CLI::Range(-32768, 32767));
  due->add_flag("--mine", args->mine, "Only actions you are assignee or originator of");
  args->view.AddTo(*due);
  OnClient(*due, options, [args, &options](Client& client) {
    Listing listing = args->view.ListingFor(client, options);
    listing.Print(*client.DueList(args->days, args->mine, listing.Derives()));
  });
}

}  // namespace

void RegisterListCommands(CLI::App& app, Options& options) {
  RegisterList(app, options);
  RegisterAlerts(app, options);
  RegisterDue(app, options);
}

void RegisterQueryCommands(CLI::App& app, Options& options) { RegisterQuery(app, options); }

}  // namespace cli
