#pragma once
// How the `kvaction` command prints rows: an aligned table that fits the terminal, CSV, or JSON.
// Every writer prints each row as it comes, so a listing of any length costs the memory of one
// row; only the table of a small record set (PrintRecordset) measures its columns first.
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ado/Recordset.h"
#include "app/Import.h"
#include "app/Json.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace cli {

/// How rows are printed.
enum class Format { kTable, kCsv, kJson };

/// The display cells text takes on a terminal (UTF-8; wide East Asian characters count 2,
/// combining marks 0). Bytes that are not UTF-8 count as the escape that shows them.
[[nodiscard]] std::size_t DisplayWidth(std::string_view text);
/// text with control characters and bytes that are not UTF-8 shown as escapes (\t, \n, \r,
/// \xNN, \u0085), so that a cell never moves the cursor.
[[nodiscard]] std::string Escaped(std::string_view text);
/// text cut to at most cells display cells, ending in "…" when it was cut.
[[nodiscard]] std::string Fitted(std::string_view text, std::size_t cells);

/// A value for JSON: the one form the API gives it too.
using app::JsonValue;
/// A value for CSV: the one form every export gives it (app::CsvText).
using app::CsvText;
/// A value for people: dates in the locale's short date form, booleans True/False.
[[nodiscard]] std::string FieldText(const vb::Variant& value, const vb::Locale& locale);

/// The width of the terminal on standard output; $COLUMNS, or 120, when it is not one.
[[nodiscard]] std::size_t TerminalWidth();

/// One column of a listing: its name (a key in JSON, a heading in CSV and tables) and the
/// display cells a table gives it (0: what is left of the line).
struct ColumnSpec {
  std::string name;
  std::size_t width = 0;
};

/// Prints rows one at a time in one format. Begin once, Row per row, End once.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void Begin(const std::vector<ColumnSpec>& columns) = 0;
  virtual void Row(const std::vector<vb::Variant>& values) = 0;
  virtual void End() = 0;
};

/// A writer of format onto out; a table fits lineWidth cells and shows dates in locale's form.
[[nodiscard]] std::unique_ptr<RowWriter> MakeWriter(Format format, std::ostream& out,
                                                    const vb::Locale& locale,
                                                    std::size_t lineWidth);

/// Prints a record set from its current row to its end. A table measures its columns first (for
/// small record sets: settings, rights, users); CSV and JSON stream.
void PrintRecordset(std::ostream& out, ado::Recordset& rs, Format format, const vb::Locale& locale);

}  // namespace cli
