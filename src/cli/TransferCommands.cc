// export and import: actions as CSV. export writes the rows a list would show, every column,
// dates in ISO 8601; import reads such a file (or one with only some columns), checks every row
// and stores all of them or none.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/Import.h"
#include "app/Lists.h"
#include "cli/Cli.h"
#include "cli/Fields.h"
#include "vb/Convert.h"

namespace cli {
namespace {

/// One CSV record and the line it starts on.
struct Record {
  std::size_t line = 0;
  std::vector<std::string> fields;
};

/// Reads CSV (RFC 4180: quoted fields may hold commas, quotes doubled, line breaks) one record
/// at a time, counting lines for messages. Fields come back as the texts export wrote them
/// from (the apostrophe that keeps a spreadsheet from taking a text for a formula is gone).
class CsvReader {
 public:
  explicit CsvReader(std::istream& in) : in_(in) {}
  /// The next record, or nothing at the end. Raises naming the line of an unclosed quote.
  std::optional<Record> Next() {
    Record record{line_ + 1, {}};
    std::string field;
    bool quoted = false;
    bool any = false;
    for (int c = in_.get(); c != EOF; c = in_.get()) {
      any = true;
      if (quoted) {
        if (c == '"' && in_.peek() == '"') {
          field += static_cast<char>(in_.get());
        } else if (c == '"') {
          quoted = false;
        } else {
          if (c == '\n') ++line_;
          field += static_cast<char>(c);
        }
        continue;
      }
      if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        record.fields.push_back(app::FromCell(std::exchange(field, {})));
      } else if (c == '\n' || c == '\r') {
        if (c == '\r' && in_.peek() == '\n') in_.get();
        ++line_;
        record.fields.push_back(app::FromCell(field));
        return record;
      } else {
        field += static_cast<char>(c);
      }
    }
    if (quoted) Fail(fmt::format("line {}: a quoted field is never closed", record.line));
    if (!any) return std::nullopt;
    ++line_;
    record.fields.push_back(app::FromCell(field));
    return record;
  }

 private:
  std::istream& in_;
  std::size_t line_ = 0;
};

/// Columns of an exported file that import passes over: the database assigns them, or they
/// follow from the IDs (the names) or from later work on the action.
bool SkippedOnImport(std::string_view column) {
  for (const std::string_view skipped :
       {"ActionID", "ActionNumber", "Originator", "OriginatorID", "DateOpened", "DateCompleted",
        "DateClosed", "DateRejected", "Reviewed", "Alert", "Flags", "Result", "Results"}) {
    if (vb::EqualsText(skipped, column)) return true;
  }
  return false;
}

bool HasColumn(const Record& header, std::string_view name) {
  return std::any_of(header.fields.begin(), header.fields.end(),
                     [&](const std::string& field) { return vb::EqualsText(field, name); });
}

/// Where each CSV column goes: the field it sets, or nothing for a column passed over. The
/// assignee is a user ID: AssigneeID as export writes it, or Assignee in a file without that.
std::vector<const FieldOption*> ImportColumns(const Record& header) {
  const bool assigneeIDs = HasColumn(header, "AssigneeID");
  std::vector<const FieldOption*> columns;
  for (const std::string& name : header.fields) {
    const bool skipped = SkippedOnImport(name) || (assigneeIDs && vb::EqualsText(name, "Assignee"));
    const FieldOption* field =
        skipped ? nullptr : FieldOfColumn(vb::EqualsText(name, "AssigneeID") ? "Assignee" : name);
    if (!skipped && (field == nullptr || !field->onCreate)) {
      Fail(fmt::format("line {}: '{}' is not a column import can fill", header.line, name));
    }
    columns.push_back(field);
  }
  return columns;
}

/// A date of the file (ISO 8601 as export writes it, or the short form) as app/ takes it.
std::string DateText(const std::string& text, const vb::Locale& locale, std::size_t line,
                     std::string_view column) {
  std::string day = text.substr(0, text.find('T'));
  const std::optional<vb::Date> date = locale.ParseDate(day);
  if (!date) {
    Fail(fmt::format("line {}: {}: '{}' is not a date in the form yyyy-mm-dd or {}", line, column,
                     text, locale.ShortDatePattern()));
  }
  return locale.FormatShortDate(*date);
}

/// The fields of one data record, checked for form; raises naming the line.
app::FieldTexts RowTexts(const Record& record, const std::vector<const FieldOption*>& columns,
                         const vb::Locale& locale) {
  if (record.fields.size() != columns.size()) {
    Fail(fmt::format("line {}: {} fields where the header has {}", record.line,
                     record.fields.size(), columns.size()));
  }
  app::FieldTexts texts;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const FieldOption* field = columns[i];
    if (field == nullptr || record.fields[i].empty()) continue;
    std::string text = record.fields[i];
    if (field->kind == FieldKind::kDate) text = DateText(text, locale, record.line, field->column);
    if (field->kind == FieldKind::kNumber) {
      try {
        CheckForm(*field, text, locale);
      } catch (const UsageError&) {
        Fail(fmt::format("line {}: {}: '{}' is not {}", record.line, field->column, text,
                         ExpectedForm(*field, locale)));
      }
    }
    texts.emplace_back(field->column, std::move(text));
  }
  return texts;
}

void RegisterExport(CLI::App& app, Options& options) {
  struct Args {
    std::optional<int32_t> query;
    std::string output;
    std::string sort;
  };
  auto args = std::make_shared<Args>();
  auto* exported = app.add_subcommand(
      "export", "Write actions as CSV, every column (your open ones, or a saved query's)");
  exported->add_option("--query", args->query, "A saved query's ID");
  exported->add_option("--sort", args->sort, "Order, e.g. \"ActionNumber\"");
  exported->add_option("--output", args->output, "File to create (default: standard output)");
  OnSession(*exported, options, [args](app::Session& session) {
    app::ListRequest request;
    request.queryID = args->query;
    request.sort = args->sort;
    const ado::RecordsetPtr rs = WithOptionNames([&] { return app::List(session, request); });
    std::ofstream file;
    if (!args->output.empty()) {
      file.open(args->output, std::ios::binary | std::ios::trunc);
      if (!file) Fail(fmt::format("Cannot write {}.", args->output));
    }
    std::ostream& out = args->output.empty() ? std::cout : file;
    PrintRecordset(out, *rs, Format::kCsv, session.locale());
    if (!out.flush()) Fail(fmt::format("Cannot write {}.", args->output));
  });
}

void RegisterImport(CLI::App& app, Options& options) {
  auto file = std::make_shared<std::string>();
  auto* imported = app.add_subcommand(
      "import",
      "Add the actions of a CSV file (a header row of column names, as export writes): every "
      "row is checked first, and either all are stored or none");
  imported->add_option("FILE", *file, "The CSV file (- for standard input)")->required();
  OnSession(*imported, options, [file](app::Session& session) {
    std::ifstream stream;
    if (*file != "-") {
      stream.open(*file, std::ios::binary);
      if (!stream) Fail(fmt::format("Cannot read {}.", *file));
    }
    CsvReader reader(*file == "-" ? std::cin : stream);
    const std::optional<Record> header = reader.Next();
    if (!header) Fail("The file is empty: it needs a header row of column names.");
    const std::vector<const FieldOption*> columns = ImportColumns(*header);
    std::vector<app::FieldTexts> rows;
    std::vector<std::size_t> lines;
    std::vector<std::string> problems;
    while (const std::optional<Record> record = reader.Next()) {
      if (record->fields.size() == 1 && record->fields[0].empty()) continue;  // a blank line
      try {
        rows.push_back(RowTexts(*record, columns, session.locale()));
        lines.push_back(record->line);
      } catch (const vb::ComError& e) {
        problems.push_back(e.description());
      }
    }
    // The rows that have the right form go to app/, which checks them all before storing any.
    if (problems.empty()) {
      for (const app::ImportProblem& problem : app::ImportActions(session, rows).problems) {
        problems.push_back(fmt::format("line {}: {}", lines.at(problem.row), problem.message));
      }
    }
    if (!problems.empty()) {
      std::string text = "Nothing was imported:";
      for (const std::string& problem : problems) text += "\n  " + problem;
      Fail(text);
    }
    std::cout << "Imported " << rows.size() << (rows.size() == 1 ? " action.\n" : " actions.\n");
  });
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, Options& options) {
  RegisterExport(app, options);
  RegisterImport(app, options);
}

}  // namespace cli
