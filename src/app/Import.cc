// Adding many actions in one transaction: each row goes through Add with its checks, every row
// is tried so that all problems are reported at once, and any problem rolls everything back.
#include "app/Import.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace app {
namespace {

// Whether a spreadsheet would take the text behind its leading apostrophes for a formula.
bool FormulaBehindApostrophes(std::string_view text) {
  const auto start = text.find_first_not_of('\'');
  return start != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(text[start]) != std::string_view::npos;
}

// An input error whose description is the whole text.
vb::ComError Wrong(std::string description) {
  return {kInvalidInput, std::string(kSource), std::move(description)};
}

// Columns of an exported file that import passes over: the database assigns them, or they
// follow from the IDs (the names) or from later work on the action.
bool SkippedOnImport(std::string_view column) {
  for (const std::string_view skipped :
       {"ActionID", "ActionNumber", "Originator", "OriginatorID", "DateOpened", "DateCompleted",
        "DateClosed", "DateRejected", "Reviewed", "Alert", "Flags", "Result", "Results"}) {
    if (vb::EqualsText(skipped, column)) return true;
  }
  return false;
}

bool HasColumn(const CsvRecord& header, std::string_view name) {
  return std::any_of(header.fields.begin(), header.fields.end(),
                     [&](const std::string& field) { return vb::EqualsText(field, name); });
}

// The column each field of a record sets (empty: passed over). The assignee is a user ID:
// AssigneeID as export writes it, or Assignee in a file without that.
std::vector<std::string> ColumnsOf(const CsvRecord& header) {
  const bool assigneeIDs = HasColumn(header, "AssigneeID");
  std::vector<std::string> columns;
  for (const std::string& name : header.fields) {
    if (SkippedOnImport(name) || (assigneeIDs && vb::EqualsText(name, "Assignee"))) {
      columns.emplace_back();
      continue;
    }
    const std::string column = vb::EqualsText(name, "AssigneeID") ? "Assignee" : name;
    if (!IsNewActionColumn(column)) {
      throw Invalid(fmt::format("line {}", header.line), name, "a column import can fill");
    }
    columns.push_back(column);
  }
  return columns;
}

// A date of the file (ISO 8601 as export writes it, or the short form) as Add takes it.
std::string DateText(const std::string& text, const vb::Locale& locale, std::string_view column) {
  const std::optional<vb::Date> date = locale.ParseDate(text.substr(0, text.find('T')));
  if (!date) {
    throw Invalid(column, text,
                  fmt::format("a date in the form yyyy-mm-dd or {}", locale.ShortDatePattern()));
  }
  return locale.FormatShortDate(*date);
}

// The fields of one data record as Add takes them; raises when its form is wrong.
FieldTexts RowTexts(const CsvRecord& record, const std::vector<std::string>& columns,
                    const vb::Locale& locale) {
  if (record.fields.size() != columns.size()) {
    throw Wrong(
        fmt::format("{} fields where the header has {}", record.fields.size(), columns.size()));
  }
  FieldTexts texts;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string& column = columns[i];
    if (column.empty() || record.fields[i].empty()) continue;
    texts.emplace_back(column, vb::EqualsText(column, "DateDue")
                                   ? DateText(record.fields[i], locale, "DateDue")
                                   : record.fields[i]);
  }
  return texts;
}

}  // namespace

std::string CsvText(const vb::Variant& value) {
  switch (value.VarType()) {
    case vb::vbEmpty:
    case vb::vbNull:
      return {};
    case vb::vbBoolean:
      return vb::CBool(value) ? "true" : "false";
    case vb::vbDate:
      return Iso8601(vb::CDate(value));
    case vb::vbString:
      return ToCell(vb::CStr(value));
    default:
      return vb::TextOf(value);
  }
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

std::string CsvLine(const std::vector<std::string>& texts) {
  std::string line;
  for (std::size_t i = 0; i < texts.size(); ++i) line += (i == 0 ? "" : ",") + CsvField(texts[i]);
  return line + "\r\n";
}

std::optional<CsvRecord> CsvReader::Next() {
  CsvRecord record{line_ + 1, {}};
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
      record.fields.push_back(FromCell(std::exchange(field, {})));
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && in_.peek() == '\n') in_.get();
      ++line_;
      record.fields.push_back(FromCell(field));
      return record;
    } else {
      field += static_cast<char>(c);
    }
  }
  if (quoted) throw Wrong(fmt::format("line {}: a quoted field is never closed", record.line));
  if (!any) return std::nullopt;
  ++line_;
  record.fields.push_back(FromCell(field));
  return record;
}

std::string ToCell(std::string_view text) {
  return FormulaBehindApostrophes(text) ? "'" + std::string(text) : std::string(text);
}

std::string FromCell(std::string_view cell) {
  // Written by ToCell only when the apostrophes lead to such a character: any other cell, one
  // starting with an apostrophe included, is the text itself.
  if (cell.starts_with('\'') && FormulaBehindApostrophes(cell)) cell.remove_prefix(1);
  return std::string(cell);
}

ImportResult ImportActions(Session& session, const std::vector<FieldTexts>& rows) {
  internal::Require(session, kvaction::arAddActions, "adding actions");
  ImportResult result;
  kvdata::DataConnection::Transaction transaction(internal::Connection(session));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    try {
      result.added.push_back(Add(session, rows[i]));
    } catch (const vb::ComError& e) {
      result.problems.push_back({i, e.description()});
      // A failure of the database itself may have spoilt the transaction: later rows would
      // only report that, so the import stops here.
      if (KindOf(e) == ErrorKind::Other) break;
    }
  }
  if (!result.problems.empty()) {
    result.added.clear();
    return result;  // the transaction rolls back as it goes
  }
  transaction.Commit();
  return result;
}

ImportResult ImportCsv(Session& session, std::istream& csv) {
  CsvReader reader(csv);
  const std::optional<CsvRecord> header = reader.Next();
  if (!header) throw Wrong("The file is empty: it needs a header row of column names.");
  const std::vector<std::string> columns = ColumnsOf(*header);
  std::vector<FieldTexts> rows;
  std::vector<std::size_t> lines;
  ImportResult result;
  while (const std::optional<CsvRecord> record = reader.Next()) {
    if (record->fields.size() == 1 && record->fields[0].empty()) continue;  // a blank line
    try {
      rows.push_back(RowTexts(*record, columns, session.locale()));
      lines.push_back(record->line);
    } catch (const vb::ComError& e) {
      if (e.number() != kInvalidInput) throw;
      result.problems.push_back({record->line, e.description()});
    }
  }
  if (!result.problems.empty()) return result;
  result = ImportActions(session, rows);
  for (ImportProblem& problem : result.problems) problem.row = lines.at(problem.row);
  return result;
}

}  // namespace app
