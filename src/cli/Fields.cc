// The fields a person sets on the command line, and messages that name their options.
#include "cli/Fields.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "app/Errors.h"
#include "cli/Cli.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {

const std::vector<FieldOption>& EditableFields() {
  using enum FieldKind;
  static const std::vector<FieldOption> fields = {
      {"--subject", "Subject", kText, "Subject (required by add)"},
      {"--assignee", "Assignee", kText, "The assignee's user ID (add: default yourself)"},
      {"--originator", "Originator", kText, "The originator's user ID"},
      {"--due", "DateDue", kDate, "Due date, in the short date form (--locale)"},
      {"--opened", "DateOpened", kDate, "Day opened, in the short date form"},
      {"--category", "Category", kText, "Category"},
      {"--priority", "Priority", kText, "Priority"},
      {"--description", "Description", kText, "What is to be done"},
      {"--result", "Result", kText, "The action taken (replaces it; see complete --note)"},
      {"--reference", "Reference", kText, "Reference text"},
      {"--reference-id", "ReferenceID", kText, "ID of the record the action belongs to"},
      {"--type", "ActionType", kNumber, "0 approval required, 1 acknowledge only"},
  };
  return fields;
}

const FieldOption* FieldOfColumn(std::string_view column) {
  const auto& fields = EditableFields();
  const auto found = std::find_if(fields.begin(), fields.end(), [&](const FieldOption& f) {
    return vb::EqualsText(f.column, column);
  });
  return found == fields.end() ? nullptr : &*found;
}

std::string ExpectedForm(const FieldOption& field, const vb::Locale& locale) {
  switch (field.kind) {
    case FieldKind::kDate:
      return "a date in the form " + locale.ShortDatePattern();
    case FieldKind::kNumber:
      return "a whole number";
    case FieldKind::kText:
      break;
  }
  return "a text";
}

void CheckForm(const FieldOption& field, std::string_view text, const vb::Locale& locale) {
  if (text.empty()) return;  // clears the field
  bool good = true;
  if (field.kind == FieldKind::kDate) good = locale.ParseDate(text).has_value();
  if (field.kind == FieldKind::kNumber) {
    const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
    good = !digits.empty() && digits.size() < 10 &&
           std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
  }
  if (!good) BadValue(field.option, text, ExpectedForm(field, locale));
}

namespace {

// The options of the fields app/ names by an ID of their own rather than a column.
struct NamedOption {
  std::string_view field;
  std::string_view option;
};
constexpr std::array<NamedOption, 20> kNamedOptions = {{
    {"sort", "--sort"},
    {"columns", "--columns"},
    {"limit", "--limit"},
    {"status", "--status"},
    {"dueWithin", "--due-within"},
    {"mine", "--mine"},
    {"grep", "--grep"},
    {"group", "--group"},
    {"reassignTo", "--reassign-to"},
    {"url", "--link"},
    {"dueFrom", "--due-from"},
    {"dueTo", "--due-to"},
    {"openedFrom", "--opened-from"},
    {"openedTo", "--opened-to"},
    {"completedFrom", "--completed-from"},
    {"completedTo", "--completed-to"},
    {"closedFrom", "--closed-from"},
    {"closedTo", "--closed-to"},
    {"since", "--since"},
    {"before", "--before"},
}};

std::string_view OptionOf(std::string_view name) {
  for (const auto& named : kNamedOptions) {
    if (named.field == name) return named.option;
  }
  const FieldOption* field = FieldOfColumn(name);
  return field == nullptr ? std::string_view() : std::string_view(field->option);
}

}  // namespace

std::string InOptionNames(std::string_view description) {
  const std::size_t colon = description.find(':');
  if (colon == std::string_view::npos) return std::string(description);
  const std::string_view option = OptionOf(description.substr(0, colon));
  if (option.empty()) return std::string(description);
  return std::string(option) + std::string(description.substr(colon));
}

}  // namespace cli
