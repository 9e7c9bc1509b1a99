#include "kvdata/StoredValue.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <type_traits>

#include "ado/Errors.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

[[noreturn]] void Unreadable(int16_t type) {
  throw vb::ComError(kBadArgument, std::string(kSettingsSource),
                     fmt::format("A stored value of type {} cannot be read.", type));
}

template <class T>
T ParseNumber(const std::string& text, int16_t type) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) Unreadable(type);
  return value;
}

}  // namespace

StoredValue ToStored(const vb::Variant& value) {
  StoredValue stored{value.VarType(), std::nullopt};
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          stored.text = v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t> ||
                             std::is_same_v<T, double>) {
          stored.text = fmt::format("{}", v);  // shortest text that reads back exactly
        } else if constexpr (std::is_same_v<T, vb::Date>) {
          stored.text = v.ToIso();
        } else if constexpr (std::is_same_v<T, std::string>) {
          stored.text = v;
        }
      },
      value.storage());
  return stored;
}

vb::Variant FromStored(const vb::Variant& typeValue, const vb::Variant& textValue) {
  const auto type = vb::CInt(typeValue);
  if (type == vb::vbNull) return vb::Null;
  if (textValue.IsNull() || textValue.IsEmpty()) Unreadable(type);
  std::string text = vb::CStr(textValue);
  switch (type) {
    case vb::vbBoolean:
      return text == "True";
    case vb::vbInteger:
      return ParseNumber<int16_t>(text, type);
    case vb::vbLong:
      return ParseNumber<int32_t>(text, type);
    case vb::vbDouble:
      return ParseNumber<double>(text, type);
    case vb::vbDate:
      return vb::Date::FromIso(text);
    case vb::vbString:
      return vb::Variant(std::move(text));
    default:
      Unreadable(type);
  }
}

}  // namespace kvdata

namespace kvdata {
namespace {

std::string Select(std::string_view table, std::string_view condition) {
  std::string sql = "select * from ";
  return sql.append(table).append(" where ").append(condition);
}

}  // namespace

vb::Variant ReadStoredValue(DataConnection& connection, std::string_view table,
                            std::string_view condition) {
  // Two values of one row that nothing edits: read from the engine's answer as it comes.
  return StoredValueIn(connection.ReadAnswer(Select(table, condition)));
}

vb::Variant StoredValueIn(const engine::Result& answer) {
  if (answer.rows.empty()) return {};
  const auto& columns = answer.columns.All();
  const auto value = [&](std::string_view name) -> const vb::Variant& {
    const auto at = std::find_if(columns.begin(), columns.end(), [&](const engine::Column& c) {
      return vb::EqualsText(c.name, name);
    });
    if (at == columns.end()) throw ado::Error(ado::kItemNotFound, "ADODB.Fields");
    return answer.rows.front()[static_cast<std::size_t>(at - columns.begin())];
  };
  return FromStored(value("ValueType"), value("ValueText"));
}

void WriteStoredValue(DataConnection& connection, std::string_view table,
                      std::string_view condition, const std::vector<std::string>& keyFields,
                      const std::vector<vb::Variant>& keyValues, const vb::Variant& value) {
  DataConnection::Transaction transaction(connection);
  const auto rs = connection.OpenRecordset(Select(table, condition));
  if (value.IsEmpty()) {
    if (!rs->IsEOF()) rs->Delete();
  } else {
    const auto stored = ToStored(value);
    const vb::Variant text = stored.text ? vb::Variant(*stored.text) : vb::Variant(vb::Null);
    if (rs->IsEOF()) {
      auto fields = keyFields;
      auto values = keyValues;
      fields.insert(fields.end(), {"ValueType", "ValueText"});
      values.insert(values.end(), {vb::Variant(stored.type), text});
      rs->AddNew(fields, values);
    } else {
      rs->Update({"ValueType", "ValueText"}, {vb::Variant(stored.type), text});
    }
  }
  transaction.Commit();
}

}  // namespace kvdata
