#pragma once
// How settings and profile values are kept in the database so that they read back with their
// type: a VarType code and a text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Variant.h"

namespace kvdata {

struct StoredValue {
  int16_t type = 0;                 ///< vb::VbVarType of the value.
  std::optional<std::string> text;  ///< The value's canonical text; none for Null.
};

/// The stored form of a value that is not Empty (Empty means "no value" and is never stored).
[[nodiscard]] StoredValue ToStored(const vb::Variant& value);

/// The value a stored type code and text stand for. Raises kBadArgument for a type code or text
/// that ToStored never writes.
[[nodiscard]] vb::Variant FromStored(const vb::Variant& type, const vb::Variant& text);

}  // namespace kvdata

namespace kvdata {
class DataConnection;
namespace engine {
struct Result;
}  // namespace engine

/// The value kept in the row of table that condition (a search condition) selects, with its
/// type; Empty when there is no such row. The table has the columns ValueType and ValueText.
[[nodiscard]] vb::Variant ReadStoredValue(DataConnection& connection, std::string_view table,
                                          std::string_view condition);

/// The value an engine's answer holds in the columns ValueType and ValueText of its first row;
/// Empty when it has no row.
[[nodiscard]] vb::Variant StoredValueIn(const engine::Result& answer);

/// Keeps value in the row that condition selects: updates it, or adds it with keyFields set to
/// keyValues; Empty removes the row. One transaction: the row is written completely or not at all.
void WriteStoredValue(DataConnection& connection, std::string_view table,
                      std::string_view condition, const std::vector<std::string>& keyFields,
                      const std::vector<vb::Variant>& keyValues, const vb::Variant& value);

}  // namespace kvdata
