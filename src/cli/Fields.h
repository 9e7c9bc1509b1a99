#pragma once
// The fields of an action that a person sets on the command line (add, edit) and in imported
// CSV: the option, the actions-table column app/ takes, and the form the text must have.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Locale.h"

namespace cli {

/// The form of a field's text.
enum class FieldKind { kText, kDate, kNumber };

struct FieldOption {
  const char* option;  ///< "--due"
  const char* column;  ///< "DateDue"
  FieldKind kind;
  const char* help;
};

/// The fields add and edit offer, in the order help lists them.
[[nodiscard]] const std::vector<FieldOption>& EditableFields();
/// The field of a column name (letter case ignored), or nullptr.
[[nodiscard]] const FieldOption* FieldOfColumn(std::string_view column);
/// Raises a UsageError naming the option and the expected form when text (not empty) is not
/// a date in locale's short form, or not a whole number.
void CheckForm(const FieldOption& field, std::string_view text, const vb::Locale& locale);
/// The expected form of a field's text, for messages ("a date in the form M/d/yyyy").
[[nodiscard]] std::string ExpectedForm(const FieldOption& field, const vb::Locale& locale);

/// The description with a leading column or field name of app/ ("DateDue: …", "sort: …")
/// replaced by its option ("--due: …", "--sort: …"); the command words every input error so.
[[nodiscard]] std::string InOptionNames(std::string_view description);

}  // namespace cli
