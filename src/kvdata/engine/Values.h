#pragma once
// The rules both engines share for values: what the library accepts for writing, and how the
// type of a computed column is settled from the values it returned.
#include <cstdint>
#include <string_view>
#include <vector>

#include "ado/Recordset.h"
#include "kvdata/engine/Engine.h"
#include "vb/Variant.h"

namespace kvdata::engine {

/// Whether text is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
[[nodiscard]] bool IsValidUtf8(std::string_view text);
/// Whether text may be stored as it is: valid UTF-8 with no NUL character (RequireUtf8's test,
/// for a caller that builds the name of what it checks only when the test fails).
[[nodiscard]] bool IsStorableText(std::string_view text);
/// Raises kSqlError naming what (a column, "the statement") when text is not valid UTF-8 or
/// holds a NUL character (which one engine would cut the text at).
void RequireUtf8(std::string_view text, std::string_view what);
/// RequireUtf8 for the text bound as a statement's value at position (1 for the first): "value
/// N" is worded only for a text that is refused.
void RequireBoundText(std::string_view text, std::size_t position);
/// The number of characters (code points) of valid UTF-8 text.
[[nodiscard]] std::size_t CharacterCount(std::string_view text);

/// The value to store in a column of the given field: Empty and Null become Null; the others are
/// converted to the field's type with the host's errors (6 "Overflow" for 16/32-bit ranges, 13
/// for a text that is not a date); texts must be valid UTF-8 and fit the field's size
/// (kSqlError otherwise).
[[nodiscard]] vb::Variant ValueToStore(const vb::Variant& value, const ado::FieldInfo& field);

/// A whole number read from an engine, narrowed to the host type: a 16-bit value for adSmallInt
/// columns when it fits, else 32-bit when it fits, else a Double.
[[nodiscard]] vb::Variant WholeNumber(int64_t value, ado::DataTypeEnum type);

/// A date text as the engines write it ("yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", with fractions or
/// a zone after it), or the text unchanged when it is not one.
[[nodiscard]] vb::Variant DateFromText(std::string_view text);

/// The defined size ADO gives a fixed-size type (0 for the others).
[[nodiscard]] int32_t FixedSize(ado::DataTypeEnum type);

/// ADO attributes of a column.
[[nodiscard]] int32_t ColumnAttributes(ado::DataTypeEnum type, bool updatable, bool nullable,
                                       bool key);

/// Texts up to this many characters from computed columns are adVarWChar of this size.
inline constexpr int32_t kComputedTextSize = 255;
/// The defined size ADO gives long texts.
inline constexpr int32_t kLongTextSize = 1073741823;

/// Settles the type of computed column `index` (type adEmpty on entry) from its values: whole
/// numbers adInteger, other numbers adDouble, dates adDate, booleans adBoolean, texts adVarWChar
/// (adLongVarWChar when one is longer than kComputedTextSize).
void SettleComputedColumn(Column& column, std::size_t index,
                          const std::vector<std::vector<vb::Variant>>& rows);

}  // namespace kvdata::engine
