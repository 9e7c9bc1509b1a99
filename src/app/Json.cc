// The one JSON form of a stored value.
#include "app/Json.h"

#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "app/Errors.h"
#include "vb/Convert.h"

namespace app {

std::string Iso8601(const vb::Date& date) {
  std::string text = fmt::format("{:04}-{:02}-{:02}", date.Year(), date.Month(), date.Day());
  if (date.HasTime()) {
    text += fmt::format("T{:02}:{:02}:{:02}", date.Hour(), date.Minute(), date.Second());
  }
  return text;
}

nlohmann::json JsonValue(const vb::Variant& value) {
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
    case vb::vbDate:
      return Iso8601(vb::CDate(value));
    default:
      return vb::CStr(value);
  }
}

nlohmann::json FieldsJson(ado::Recordset& rows) {
  nlohmann::json fields = nlohmann::json::array();
  const ado::Fields all = rows.Fields();
  for (int32_t i = 0; i < all.Count(); ++i) {
    const ado::Field field = all.Item(i);
    fields.push_back({{"name", field.Name()},
                      {"type", static_cast<int32_t>(field.Type())},
                      {"size", field.DefinedSize()}});
  }
  return fields;
}

nlohmann::json RowJson(ado::Recordset& rows) {
  nlohmann::json values = nlohmann::json::array();
  const ado::Fields all = rows.Fields();
  for (int32_t i = 0; i < all.Count(); ++i) values.push_back(JsonValue(all.Item(i).Value()));
  return values;
}

std::vector<ado::FieldInfo> FieldsOfJson(const nlohmann::json& fields) {
  std::vector<ado::FieldInfo> infos;
  const auto malformed = [] { return Invalid("fields", {}, "a list of names and types"); };
  if (!fields.is_array()) throw malformed();
  for (const nlohmann::json& field : fields) {
    if (!field.is_object() || !field.contains("name") || !field["name"].is_string() ||
        !field.contains("type") || !field["type"].is_number_integer()) {
      throw malformed();
    }
    ado::FieldInfo info;
    info.name = field["name"].get<std::string>();
    info.type = static_cast<ado::DataTypeEnum>(field["type"].get<int32_t>());
    if (const auto size = field.find("size"); size != field.end() && size->is_number_integer()) {
      info.definedSize = size->get<int32_t>();
    }
    infos.push_back(std::move(info));
  }
  return infos;
}

vb::Variant ValueOfJson(const nlohmann::json& value, ado::DataTypeEnum type) {
  if (value.is_null()) return vb::Null;
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number_integer()) {
    if (type == ado::adSmallInt) return static_cast<int16_t>(value.get<int32_t>());
    return value.get<int32_t>();
  }
  if (value.is_number()) return value.get<double>();
  if (!value.is_string()) return value.dump();
  const std::string& text = value.get_ref<const std::string&>();
  if (type == ado::adDate || type == ado::adDBTimeStamp) {
    if (const std::optional<vb::Date> date = vb::Date::TryFromIso(text)) return *date;
  }
  return text;
}

}  // namespace app
