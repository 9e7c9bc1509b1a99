// Row output: display cells, escapes, cutting, and the three writers.
#include "cli/Output.h"

#include "app/Import.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "vb/Date.h"

namespace cli {
namespace {

struct CellCase {
  std::string text;
  std::size_t width;
  std::string escaped;
};

TEST(Output, DisplayCellsAndEscapes) {
  const std::vector<CellCase> cases = {
      {"Roof", 4, "Roof"},
      {"Dach\u00fcber", 8, "Dach\u00fcber"},  // ü is one cell in two bytes
      {"\u5c4b\u6839", 4, "\u5c4b\u6839"},    // wide CJK: two cells each
      {"e\u0301", 1, "e\u0301"},              // a combining accent takes no cell
      {"a\tb", 4, "a\\tb"},
      {"line\r\nnext", 12, "line\\r\\nnext"},
      {"bell\x07", 8, "bell\\x07"},
      {"\xff", 4, "\\xff"},                 // a stray byte
      {"\u0085", 6, "\\u0085"},             // a C1 control
      {"\x1b[31mred", 11, "\\x1b[31mred"},  // a terminal escape cannot colour the table
  };
  for (const CellCase& c : cases) {
    EXPECT_EQ(DisplayWidth(c.text), c.width) << c.escaped;
    EXPECT_EQ(Escaped(c.text), c.escaped);
  }
}

TEST(Output, FittedCutsByCellsNeverInsideACharacter) {
  EXPECT_EQ(Fitted("Fix the roof", 20), "Fix the roof");
  EXPECT_EQ(Fitted("Fix the roof", 6), "Fix t…");
  EXPECT_EQ(Fitted("\u5c4b\u6839\u3092\u76f4\u3059", 6), "\u5c4b\u6839…");  // 2+2+1 cells
  EXPECT_EQ(DisplayWidth(Fitted("\u00fc\u00fc\u00fc\u00fc", 3)), 3u);
}

std::string Written(Format format, const std::vector<ColumnSpec>& columns,
                    const std::vector<std::vector<vb::Variant>>& rows, std::size_t width = 40) {
  std::ostringstream out;
  const auto writer = MakeWriter(format, out, vb::Locale::EnUS(), width);
  writer->Begin(columns);
  for (const auto& row : rows) writer->Row(row);
  writer->End();
  return out.str();
}

TEST(Output, WritersOfTheThreeFormats) {
  const std::vector<ColumnSpec> columns = {{"ActionNumber", 4}, {"DateDue", 10}, {"Subject", 0}};
  const std::vector<std::vector<vb::Variant>> rows = {
      {1, vb::Date::FromParts(2026, 4, 1), "Fix the \"roof\", now"},
      {12, vb::Null, "\u5c4b\u6839\nline two"}};
  EXPECT_EQ(Written(Format::kCsv, columns, rows),
            "ActionNumber,DateDue,Subject\r\n"
            "1,2026-04-01,\"Fix the \"\"roof\"\", now\"\r\n"
            "12,,\"\u5c4b\u6839\nline two\"\r\n");
  EXPECT_EQ(Written(Format::kJson, columns, rows),
            "[\n  {\"ActionNumber\":1,\"DateDue\":\"2026-04-01\",\"Subject\":\"Fix the "
            "\\\"roof\\\", now\"},\n  {\"ActionNumber\":12,\"DateDue\":null,\"Subject\":"
            "\"\u5c4b\u6839\\nline two\"}\n]\n");
  EXPECT_EQ(Written(Format::kJson, columns, {}), "[]\n");
  // A moment keeps its time of day; booleans are words.
  EXPECT_EQ(JsonValue(vb::Date::FromParts(2026, 12, 1, 14, 30, 5)), "2026-12-01T14:30:05");
  EXPECT_EQ(CsvText(false), "false");
  // A text a spreadsheet would take for a formula is written as text; a number is not touched;
  // and import takes off exactly what was put on, whatever the text.
  const std::pair<std::string_view, std::string_view> cells[] = {
      {"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"},
      {"+1", "'+1"},
      {"-x", "'-x"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
      {"\rx", "'\rx"},
      {"'=x", "''=x"},
      {"''-", "'''-"},
      {"'plain", "'plain"},
      {"'", "'"},
      {"a=b", "a=b"},
      {"", ""}};
  for (const auto& [text, written] : cells) {
    EXPECT_EQ(CsvText(vb::Variant(std::string(text))), written) << text;
    EXPECT_EQ(app::FromCell(written), text) << written;
  }
  EXPECT_EQ(CsvText(-5), "-5");
  EXPECT_EQ(CsvText(-2.5), "-2.5");
  // The table: fixed columns padded by cells; the last gets the rest, at least 8 cells, cut.
  EXPECT_EQ(Written(Format::kTable, columns, rows, 24),
            "Act…  DateDue     Subject\n"
            "1     4/1/2026    Fix the…\n"
            "12                \u5c4b\u6839\\nl…\n"
            "(2 rows)\n");
}

}  // namespace
}  // namespace cli
