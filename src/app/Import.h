#pragma once
// Actions as CSV: the cells an export writes, and adding many actions at once (a CSV import):
// every row is checked as Add checks it, and the rows are stored together or not at all.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Actions.h"
#include "app/Session.h"
#include "vb/Variant.h"

namespace app {

/// A text as a CSV cell holds it. A spreadsheet takes a cell starting with =, +, -, @, a tab or
/// a carriage return for a formula; such a text, and one whose leading apostrophes come before
/// one of those, gets one apostrophe more in front, which the spreadsheet shows it as text by.
/// Only texts go through here: numbers and dates are written as they are.
[[nodiscard]] std::string ToCell(std::string_view text);
/// The text of a cell as ToCell wrote it, or as a person typed it in a spreadsheet: one leading
/// apostrophe goes when apostrophes lead to one of those characters. FromCell(ToCell(t)) == t.
[[nodiscard]] std::string FromCell(std::string_view cell);

/// A value for CSV: dates as ISO 8601, booleans as true/false, Null as empty, texts as ToCell
/// writes them (a formula-like text shown as text). The one CSV form of every front end's export.
[[nodiscard]] std::string CsvText(const vb::Variant& value);
/// A CSV field: quoted when it holds a comma, a quote or a line break (RFC 4180).
[[nodiscard]] std::string CsvField(std::string_view text);
/// One CSV record of texts (each through CsvField), ended by CRLF.
[[nodiscard]] std::string CsvLine(const std::vector<std::string>& texts);

/// One CSV record and the line of the file it starts on.
struct CsvRecord {
  std::size_t line = 0;
  std::vector<std::string> fields;
};

/// Reads CSV (RFC 4180: quoted fields may hold commas, doubled quotes, line breaks) one record
/// at a time, counting lines for messages. Fields come back through FromCell, as the texts
/// export wrote them from.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in) : in_(in) {}
  /// The next record, or nothing at the end. Raises kInvalidInput naming the line of a quote
  /// that is never closed.
  [[nodiscard]] std::optional<CsvRecord> Next();

 private:
  std::istream& in_;
  std::size_t line_ = 0;
};

/// A row that could not be added: its index in the rows given (ImportCsv: the line of the file
/// it starts on) and the reason.
struct ImportProblem {
  std::size_t row = 0;
  std::string message;
};

/// What became of an import: the new ActionIDs in row order, or the problems (then nothing was
/// stored).
struct ImportResult {
  std::vector<int32_t> added;
  std::vector<ImportProblem> problems;
};

/// Adds one action per row (right 50, as Add) in one transaction. Every row is tried, so the
/// problems name each bad row; when there is any, the transaction is rolled back.
[[nodiscard]] ImportResult ImportActions(Session& session, const std::vector<FieldTexts>& rows);

/// Adds the actions of a CSV file as export writes it, or one with only some columns: a header
/// row of column names (letter case ignored), then one action a record; blank lines are passed
/// over. Columns the database assigns or later work sets (ActionNumber, the dates of later
/// steps, Result…) are passed over too; the assignee is AssigneeID, or Assignee in a file
/// without that; a date is yyyy-mm-dd (a time after it is dropped) or the session's short form.
/// Raises kInvalidInput for an empty file, a column import cannot fill and an unclosed quote,
/// naming the line. A record of the wrong form, or that Add refuses, is a problem; then
/// nothing is stored (form problems first: only a file without them goes to ImportActions).
[[nodiscard]] ImportResult ImportCsv(Session& session, std::istream& csv);

}  // namespace app
