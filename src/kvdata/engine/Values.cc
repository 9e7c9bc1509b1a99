#include "kvdata/engine/Values.h"

#include <fmt/format.h>

#include <limits>

#include "kvdata/Errors.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvdata::engine {
namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when it is malformed.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t min = 0;
  uint32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  return (cp < min || cp > 0x10FFFF || surrogate) ? 0 : length;
}

bool IsText(ado::DataTypeEnum type) {
  switch (type) {
    case ado::adVarWChar:
    case ado::adLongVarWChar:
    case ado::adVarChar:
    case ado::adLongVarChar:
    case ado::adWChar:
    case ado::adChar:
    case ado::adBSTR:
      return true;
    default:
      return false;
  }
}

bool IsLong(ado::DataTypeEnum type) {
  return type == ado::adLongVarWChar || type == ado::adLongVarChar;
}

vb::Variant TextToStore(const vb::Variant& value, const ado::FieldInfo& field) {
  std::string text = vb::CStr(value);
  // The field is named only for a text that is refused: every stored text passes through here.
  if (!IsStorableText(text)) RequireUtf8(text, fmt::format("the value of \"{}\"", field.name));
  if (!IsLong(field.type) && field.definedSize > 0 &&
      CharacterCount(text) > static_cast<std::size_t>(field.definedSize)) {
    throw vb::ComError(kSqlError, std::string(kConnectionSource),
                       fmt::format("The text for \"{}\" is longer than its {} characters.",
                                   field.name, field.definedSize));
  }
  return vb::Variant(std::move(text));
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsStorableText(std::string_view text) {
  return IsValidUtf8(text) && text.find('\0') == std::string_view::npos;
}

void RequireUtf8(std::string_view text, std::string_view what) {
  if (!IsValidUtf8(text)) {
    throw vb::ComError(kSqlError, std::string(kConnectionSource),
                       fmt::format("The text of {} is not valid UTF-8.", what));
  }
  // PostgreSQL ends a text at its first NUL and SQLite keeps it: refused on both, never cut.
  if (text.find('\0') != std::string_view::npos) {
    throw vb::ComError(kSqlError, std::string(kConnectionSource),
                       fmt::format("The text of {} holds a NUL character.", what));
  }
}

void RequireBoundText(std::string_view text, std::size_t position) {
  if (!IsStorableText(text)) RequireUtf8(text, fmt::format("value {}", position));
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

vb::Variant ValueToStore(const vb::Variant& value, const ado::FieldInfo& field) {
  if (value.IsEmpty() || value.IsNull()) return vb::Null;
  switch (field.type) {
    case ado::adBoolean:
      return vb::Variant(vb::CBool(value));
    case ado::adSmallInt:
      return vb::Variant(vb::CInt(value));
    case ado::adInteger:
      return vb::Variant(vb::CLng(value));
    case ado::adDouble:
    case ado::adSingle:
      return vb::Variant(vb::CDbl(value));
    case ado::adDate:
      return vb::Variant(vb::CDate(value));
    default:
      return IsText(field.type) ? TextToStore(value, field) : value;
  }
}

vb::Variant WholeNumber(int64_t value, ado::DataTypeEnum type) {
  const auto fits = [value](auto limits) {
    return value >= decltype(limits)::min() && value <= decltype(limits)::max();
  };
  if (type == ado::adSmallInt && fits(std::numeric_limits<int16_t>{})) {
    return vb::Variant(static_cast<int16_t>(value));
  }
  if (fits(std::numeric_limits<int32_t>{})) return vb::Variant(static_cast<int32_t>(value));
  return vb::Variant(static_cast<double>(value));
}

vb::Variant DateFromText(std::string_view text) {
  constexpr std::size_t kDateOnly = 10;
  constexpr std::size_t kDateTime = 19;
  const std::string_view iso =
      text.substr(0, text.size() >= kDateTime && text[kDateOnly] != '+' ? kDateTime : kDateOnly);
  try {
    return vb::Variant(vb::Date::FromIso(iso));
  } catch (const vb::ComError&) {
    return vb::Variant(text);
  }
}

int32_t FixedSize(ado::DataTypeEnum type) {
  switch (type) {
    case ado::adSmallInt:
    case ado::adBoolean:
      return 2;
    case ado::adInteger:
    case ado::adSingle:
      return 4;
    case ado::adDate:
    case ado::adDouble:
    case ado::adBigInt:
      return 8;
    default:
      return 0;
  }
}

int32_t ColumnAttributes(ado::DataTypeEnum type, bool updatable, bool nullable, bool key) {
  int32_t attributes = 0;
  if (updatable) attributes |= ado::adFldUpdatable | ado::adFldUnknownUpdatable;
  if (nullable) attributes |= ado::adFldIsNullable | ado::adFldMayBeNull;
  if (FixedSize(type) > 0) attributes |= ado::adFldFixed;
  if (IsLong(type)) attributes |= ado::adFldLong;
  if (key) attributes |= ado::adFldKeyColumn;
  return attributes;
}

void SettleComputedColumn(Column& column, std::size_t index,
                          const std::vector<std::vector<vb::Variant>>& rows) {
  ado::DataTypeEnum type = ado::adEmpty;
  std::size_t longest = 0;
  for (const auto& row : rows) {
    const vb::Variant& value = row[index];
    if (value.IsNull()) continue;
    ado::DataTypeEnum valueType = ado::adVarWChar;
    if (value.IsString()) {
      longest = std::max(longest, CharacterCount(std::get<std::string>(value.storage())));
    } else if (value.IsDate()) {
      valueType = ado::adDate;
    } else if (value.IsBoolean()) {
      valueType = ado::adBoolean;
    } else if (value.IsNumeric()) {
      valueType = value.VarType() == vb::vbDouble ? ado::adDouble : ado::adInteger;
    }
    // Whole numbers and fractions in one column make it a Double column.
    const bool mixedNumbers = (type == ado::adInteger && valueType == ado::adDouble) ||
                              (type == ado::adDouble && valueType == ado::adInteger);
    type = mixedNumbers ? ado::adDouble : (type == ado::adEmpty ? valueType : type);
  }
  if (type == ado::adEmpty || type == ado::adVarWChar) {
    const bool isLong = longest > static_cast<std::size_t>(kComputedTextSize);
    type = isLong ? ado::adLongVarWChar : ado::adVarWChar;
    column.definedSize = isLong ? kLongTextSize : kComputedTextSize;
  } else {
    column.definedSize = FixedSize(type);
  }
  column.type = type;
  column.attributes = ColumnAttributes(type, false, true, false);
}

}  // namespace kvdata::engine
