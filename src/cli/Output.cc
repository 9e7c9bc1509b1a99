#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "vb/Convert.h"

namespace cli {

std::string FieldText(const vb::Variant& value, const vb::Locale& locale) {
  return vb::TextOf(value, locale);
}

namespace {

nlohmann::json JsonValue(const vb::Variant& value, const vb::Locale& locale) {
  switch (value.VarType()) {
    case vb::vbEmpty:
    case vb::vbNull:
      return nullptr;
    case vb::vbBoolean:
      return vb::CBool(value);
    case vb::vbInteger:
    case vb::vbLong:
      return vb::CLng(value);
    case vb::vbDouble:
      return vb::CDbl(value);
    default:
      return vb::TextOf(value, locale);
  }
}

}  // namespace

ado::RecordsetPtr Table(const std::vector<std::pair<std::string, ado::DataTypeEnum>>& columns) {
  auto rs = ado::Recordset::Create();
  for (const auto& [name, type] : columns) {
    rs->Fields().Append(name, type, 0, ado::adFldUpdatable | ado::adFldIsNullable);
  }
  rs->Open(ado::adOpenStatic, ado::adLockOptimistic);
  return rs;
}

void PrintRecordset(std::ostream& out, ado::Recordset& rs, const Options& options) {
  const vb::Locale& locale = LocaleOf(options);
  ado::Fields fields = rs.Fields();
  const int32_t count = fields.Count();
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int32_t i = 0; i < count; ++i) names.push_back(fields.Item(i).Name());

  std::vector<std::vector<std::string>> rows;
  nlohmann::json array = nlohmann::json::array();
  for (; !rs.IsEOF(); rs.MoveNext()) {
    std::vector<std::string> row;
    nlohmann::json object = nlohmann::json::object();
    for (int32_t i = 0; i < count; ++i) {
      const vb::Variant value = fields.Item(i).Value();
      row.push_back(FieldText(value, locale));
      object[names[static_cast<std::size_t>(i)]] = JsonValue(value, locale);
    }
    rows.push_back(std::move(row));
    array.push_back(std::move(object));
  }
  if (options.json) {
    out << array.dump(2) << '\n';
    return;
  }
  std::vector<std::size_t> widths;
  widths.reserve(names.size());
  for (const auto& name : names) widths.push_back(name.size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  auto printLine = [&](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::string cell = cells[i];
      std::replace(cell.begin(), cell.end(), '\n', ' ');
      std::replace(cell.begin(), cell.end(), '\r', ' ');
      out << (i == 0 ? "" : "  ") << cell;
      if (i + 1 < cells.size()) out << std::string(widths[i] - cells[i].size(), ' ');
    }
    out << '\n';
  };
  printLine(names);
  for (const auto& row : rows) printLine(row);
  out << "(" << rows.size() << (rows.size() == 1 ? " row)" : " rows)") << '\n';
}

}  // namespace cli
