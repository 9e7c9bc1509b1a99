// Row output of the command: display cells, escapes, and the three writers.
#include "cli/Output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <utility>

#include <fmt/format.h>

#include "app/Import.h"
#include "vb/Convert.h"
#include "vb/Date.h"

namespace cli {
namespace {

/// One UTF-8 sequence read from text at pos: its code point, or nothing for a byte that does not
/// start a valid sequence (which then counts as one byte).
struct Decoded {
  std::optional<char32_t> codePoint;
  std::size_t length = 1;
};

Decoded DecodeAt(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return {};
  }
  if (pos + length > text.size()) return {};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, length};
}

struct Range {
  char32_t first;
  char32_t last;
};

bool InRanges(char32_t c, const auto& ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

/// Marks that combine with the character before them, and zero-width characters.
constexpr std::array kZeroWidth = {
    Range{0x0300, 0x036F}, Range{0x0483, 0x0489}, Range{0x0591, 0x05BD}, Range{0x0610, 0x061A},
    Range{0x064B, 0x065F}, Range{0x0E31, 0x0E31}, Range{0x0E34, 0x0E3A}, Range{0x1AB0, 0x1AFF},
    Range{0x1DC0, 0x1DFF}, Range{0x200B, 0x200F}, Range{0x20D0, 0x20FF}, Range{0xFE00, 0xFE0F},
    Range{0xFE20, 0xFE2F}, Range{0xFEFF, 0xFEFF}};
/// East Asian wide and full-width characters, and the emoji blocks terminals draw wide.
constexpr std::array kWide = {
    Range{0x1100, 0x115F},   Range{0x2E80, 0x303E},  Range{0x3041, 0x33FF}, Range{0x3400, 0x4DBF},
    Range{0x4E00, 0x9FFF},   Range{0xA000, 0xA4CF},  Range{0xAC00, 0xD7A3}, Range{0xF900, 0xFAFF},
    Range{0xFE30, 0xFE4F},   Range{0xFF00, 0xFF60},  Range{0xFFE0, 0xFFE6}, Range{0x1F300, 0x1F64F},
    Range{0x1F900, 0x1F9FF}, Range{0x20000, 0x3FFFD}};

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::size_t CellsOf(char32_t c) {
  if (InRanges(c, kZeroWidth)) return 0;
  return InRanges(c, kWide) ? 2 : 1;
}

/// The escape that shows a control character or a stray byte.
std::string EscapeOf(std::optional<char32_t> c, unsigned char byte) {
  if (!c) return fmt::format("\\x{:02x}", byte);
  switch (*c) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    default:
      break;
  }
  return *c < 0x80 ? fmt::format("\\x{:02x}", static_cast<unsigned>(*c))
                   : fmt::format("\\u{:04x}", static_cast<unsigned>(*c));
}

}  // namespace

std::string Escaped(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const Decoded d = DecodeAt(text, pos);
    if (!d.codePoint || IsControl(*d.codePoint)) {
      shown += EscapeOf(d.codePoint, static_cast<unsigned char>(text[pos]));
    } else {
      shown.append(text.substr(pos, d.length));
    }
    pos += d.length;
  }
  return shown;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t cells = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Decoded d = DecodeAt(text, pos);
    cells += (!d.codePoint || IsControl(*d.codePoint))
                 ? EscapeOf(d.codePoint, static_cast<unsigned char>(text[pos])).size()
                 : CellsOf(*d.codePoint);
    pos += d.length;
  }
  return cells;
}

std::string Fitted(std::string_view text, std::size_t cells) {
  if (DisplayWidth(text) <= cells) return std::string(text);
  if (cells == 0) return {};
  std::string kept;
  std::size_t used = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Decoded d = DecodeAt(text, pos);
    const std::size_t width = d.codePoint ? CellsOf(*d.codePoint) : 1;
    if (used + width > cells - 1) break;  // one cell stays for the ellipsis
    kept.append(text.substr(pos, d.length));
    used += width;
    pos += d.length;
  }
  return kept + "…";
}

std::string FieldText(const vb::Variant& value, const vb::Locale& locale) {
  return vb::TextOf(value, locale);
}

std::size_t TerminalWidth() {
  winsize size{};
  if (isatty(STDOUT_FILENO) != 0 && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0) {
    return size.ws_col;
  }
  if (const char* columns = std::getenv("COLUMNS"); columns != nullptr) {
    const long width = std::strtol(columns, nullptr, 10);
    if (width > 0) return static_cast<std::size_t>(width);
  }
  return 120;
}

namespace {

class CsvWriter : public RowWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) {}
  void Begin(const std::vector<ColumnSpec>& columns) override {
    std::vector<std::string> names;
    for (const ColumnSpec& column : columns) names.push_back(app::ToCell(column.name));
    out_ << app::CsvLine(names);
  }
  void Row(const std::vector<vb::Variant>& values) override {
    std::vector<std::string> fields;
    fields.reserve(values.size());
    for (const vb::Variant& value : values) fields.push_back(app::CsvText(value));
    out_ << app::CsvLine(fields);
  }
  void End() override { out_.flush(); }

 private:
  std::ostream& out_;
};

class JsonWriter : public RowWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  void Begin(const std::vector<ColumnSpec>& columns) override {
    for (const ColumnSpec& column : columns) names_.push_back(column.name);
    out_ << '[';
  }
  void Row(const std::vector<vb::Variant>& values) override {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < values.size() && i < names_.size(); ++i) {
      object[names_[i]] = JsonValue(values[i]);
    }
    out_ << (rows_++ == 0 ? "\n  " : ",\n  ") << object.dump();
  }
  void End() override {
    out_ << (rows_ == 0 ? "]\n" : "\n]\n");
    out_.flush();
  }

 private:
  std::ostream& out_;
  std::vector<std::string> names_;
  std::size_t rows_ = 0;
};

/// Aligned columns of fixed widths: the columns of width 0 share what the others leave of the
/// line; the last column is never padded.
class TableWriter : public RowWriter {
 public:
  TableWriter(std::ostream& out, const vb::Locale& locale, std::size_t lineWidth)
      : out_(out), locale_(locale), lineWidth_(lineWidth) {}
  void Begin(const std::vector<ColumnSpec>& columns) override {
    std::size_t fixed = 0;
    std::size_t shared = 0;
    for (const ColumnSpec& column : columns) {
      fixed += column.width;
      if (column.width == 0) ++shared;
    }
    fixed += columns.empty() ? 0 : 2 * (columns.size() - 1);
    const std::size_t left = lineWidth_ > fixed ? lineWidth_ - fixed : 0;
    constexpr std::size_t kNarrowest = 8;
    for (const ColumnSpec& column : columns) {
      widths_.push_back(column.width != 0
                            ? column.width
                            : std::max(kNarrowest, left / std::max<std::size_t>(shared, 1)));
    }
    std::vector<std::string> names;
    for (const ColumnSpec& column : columns) names.push_back(column.name);
    Line(names);
  }
  void Row(const std::vector<vb::Variant>& values) override {
    std::vector<std::string> cells;
    cells.reserve(values.size());
    for (const vb::Variant& value : values) cells.push_back(Escaped(FieldText(value, locale_)));
    Line(cells);
    ++rows_;
  }
  void End() override {
    out_ << '(' << rows_ << (rows_ == 1 ? " row)" : " rows)") << '\n';
    out_.flush();
  }

 private:
  void Line(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size() && i < widths_.size(); ++i) {
      if (i > 0) line += "  ";
      const std::string cell = Fitted(cells[i], widths_[i]);
      line += cell;
      if (i + 1 < cells.size()) line.append(widths_[i] - DisplayWidth(cell), ' ');
    }
    out_ << line << '\n';
  }
  std::ostream& out_;
  const vb::Locale& locale_;
  std::size_t lineWidth_;
  std::vector<std::size_t> widths_;
  std::size_t rows_ = 0;
};

}  // namespace

std::unique_ptr<RowWriter> MakeWriter(Format format, std::ostream& out, const vb::Locale& locale,
                                      std::size_t lineWidth) {
  switch (format) {
    case Format::kCsv:
      return std::make_unique<CsvWriter>(out);
    case Format::kJson:
      return std::make_unique<JsonWriter>(out);
    case Format::kTable:
      break;
  }
  return std::make_unique<TableWriter>(out, locale, lineWidth);
}

void PrintRecordset(std::ostream& out, ado::Recordset& rs, Format format,
                    const vb::Locale& locale) {
  ado::Fields fields = rs.Fields();
  std::vector<ColumnSpec> columns;
  for (int32_t i = 0; i < fields.Count(); ++i) columns.push_back({fields.Item(i).Name()});
  const auto valuesOf = [&] {
    std::vector<vb::Variant> values;
    values.reserve(columns.size());
    for (int32_t i = 0; i < fields.Count(); ++i) values.push_back(fields.Item(i).Value());
    return values;
  };
  std::vector<std::vector<vb::Variant>> rows;
  std::unique_ptr<RowWriter> writer;
  if (format == Format::kTable) {
    // A small record set: measure every cell first, so that nothing is cut.
    for (ColumnSpec& column : columns) column.width = DisplayWidth(column.name);
    for (; !rs.IsEOF(); rs.MoveNext()) {
      rows.push_back(valuesOf());
      for (std::size_t i = 0; i < columns.size(); ++i) {
        columns[i].width =
            std::max(columns[i].width, DisplayWidth(Escaped(FieldText(rows.back()[i], locale))));
      }
    }
    for (ColumnSpec& column : columns) column.width = std::max<std::size_t>(column.width, 1);
    writer = MakeWriter(format, out, locale, 0);
    writer->Begin(columns);
    for (const auto& row : rows) writer->Row(row);
  } else {
    writer = MakeWriter(format, out, locale, 0);
    writer->Begin(columns);
    for (; !rs.IsEOF(); rs.MoveNext()) writer->Row(valuesOf());
  }
  writer->End();
}

}  // namespace cli
