// The one JSON form of a stored value.
#include "app/Json.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

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

}  // namespace app
