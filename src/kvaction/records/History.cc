#include "kvaction/records/History.h"

#include <array>
#include <charconv>
#include <variant>

#include "vb/Convert.h"

namespace kvaction {
namespace {

/// How a column's changes are worded.
enum class Wording {
  kDateOpened,  // no Set line; Cleared reads "was changed from cleared"
  kSetTo,       // Set reads "was set to: "
  kAssignee,    // Set reads "The <Action> was assigned to: "
  kSilent,      // never recorded
  kReviewed,    // the review-status line
  kAlert,       // the alert line, only when switched on
  kLongText,    // the text itself is never copied into the history
  kPlain,       // every other column
};

struct ColumnRule {
  std::string_view name;
  ActionEventCode code;
  Wording wording;
};

constexpr std::array kColumnRules = {
    ColumnRule{"DateOpened", evDateOpenedChanged, Wording::kDateOpened},
    ColumnRule{"DateDue", evDateDueChanged, Wording::kSetTo},
    ColumnRule{"DateClosed", evDateClosedChanged, Wording::kSetTo},
    ColumnRule{"Originator", evOriginatorChanged, Wording::kSetTo},
    ColumnRule{"Assignee", evAssigneeChanged, Wording::kAssignee},
    ColumnRule{"Flags", evFieldChanged, Wording::kSilent},
    ColumnRule{"ReferenceID", evFieldChanged, Wording::kSilent},
    ColumnRule{"AssigneeID", evFieldChanged, Wording::kSilent},
    ColumnRule{"OriginatorID", evFieldChanged, Wording::kSilent},
    ColumnRule{"ActionType", evFieldChanged, Wording::kSilent},
    ColumnRule{"Reviewed", evReviewChanged, Wording::kReviewed},
    ColumnRule{"Alert", evReviewChanged, Wording::kAlert},
    ColumnRule{"Description", evFieldChanged, Wording::kLongText},
    ColumnRule{"Result", evFieldChanged, Wording::kLongText},
};

/// Column names are matched exactly: a name in other letter case is an ordinary column.
ColumnRule RuleFor(std::string_view column) {
  for (const ColumnRule& rule : kColumnRules) {
    if (rule.name == column) return rule;
  }
  return {column, evFieldChanged, Wording::kPlain};
}

/// Who moved the action, and the words between the role and the label of "Action". An empty
/// role is a third user.
struct ReviewPhrase {
  ReviewStatus status;
  std::string_view role;
  std::string_view phrase;
};

constexpr std::array kReviewPhrases = {
    ReviewPhrase{rsAssigneeReview, "Originator", " has assigned the "},
    ReviewPhrase{rsAssigneeRejected, "Originator", " has rejected the "},
    ReviewPhrase{rsAssigneeClarified, "Originator", " has provided clarification for the "},
    ReviewPhrase{rsClosedbyAssignee, "Assignee", " has closed the "},
    ReviewPhrase{rsClosedbyOriginator, "Originator", " has closed the "},
    ReviewPhrase{rsClosedbyOther, "", " has closed the "},
    ReviewPhrase{rsOriginatorClarification, "Assignee", " has requested clarification of the "},
    ReviewPhrase{rsOriginatorCompleted, "Assignee", " has completed the "},
    ReviewPhrase{rsOriginatorReview, "Originator", " has not yet assigned the "},
    ReviewPhrase{rsReOpenedbyAssignee, "Assignee", " has reopened the "},
    ReviewPhrase{rsReOpenedbyOriginator, "Originator", " has reopened the "},
    ReviewPhrase{rsReOpenedbyOther, "", " has reopened the "},
};

/// The value as a number: numbers, dates and booleans (true is -1) as they are, a text when it
/// holds nothing but a number (blanks around it allowed); nullopt otherwise.
std::optional<double> NumberOf(const vb::Variant& value) {
  struct Visitor {
    std::optional<double> operator()(std::monostate) const { return std::nullopt; }
    std::optional<double> operator()(vb::NullValue) const { return std::nullopt; }
    std::optional<double> operator()(bool b) const { return b ? -1.0 : 0.0; }
    std::optional<double> operator()(int16_t i) const { return i; }
    std::optional<double> operator()(int32_t l) const { return l; }
    std::optional<double> operator()(double d) const { return d; }
    std::optional<double> operator()(const vb::Date& d) const { return d.Serial(); }
    std::optional<double> operator()(const std::string& s) const {
      const auto first = s.find_first_not_of(' ');
      if (first == std::string::npos) return std::nullopt;
      const auto last = s.find_last_not_of(' ');
      double number = 0;
      const char* end = s.data() + last + 1;
      const auto [stop, error] = std::from_chars(s.data() + first, end, number);
      if (error != std::errc{} || stop != end) return std::nullopt;
      return number;
    }
  };
  return std::visit(Visitor{}, value.storage());
}

/// Whether two non-null values are the same: texts compare exactly, numbers, dates and booleans
/// by value, a mix of kinds by their text forms.
bool SameValue(const vb::Variant& a, const vb::Variant& b, const vb::Locale& locale) {
  if (a.IsString() && b.IsString()) return a == b;
  if (!a.IsString() && !b.IsString() && !a.IsEmpty() && !b.IsEmpty()) {
    return NumberOf(a) == NumberOf(b);
  }
  return vb::TextOf(a, locale) == vb::TextOf(b, locale);
}

enum class Change { kNone, kChanged, kSet, kCleared };

Change ChangeOf(const vb::Variant& oldValue, const vb::Variant& newValue,
                const vb::Locale& locale) {
  if (oldValue.IsNull() && newValue.IsNull()) return Change::kNone;
  if (oldValue.IsNull()) return Change::kSet;
  if (newValue.IsNull()) return Change::kCleared;
  return SameValue(oldValue, newValue, locale) ? Change::kNone : Change::kChanged;
}

std::string Label(const LabelLookup& label, std::string_view name) {
  return LabelOf(label, name, false);
}

/// The review-status line for a new Reviewed value. A value with a text of its own makes that
/// text the call's review text. Any other value (outside the enumeration, or a cleared Reviewed)
/// still records the move, worded with the call's review text as it stands (empty when the call
/// chose none yet): the history then shows that the status changed, even without words for it.
std::string ReviewLine(const vb::Variant& newValue, const LabelLookup& label,
                       std::string& reviewText) {
  const std::optional<double> status = NumberOf(newValue);
  for (const ReviewPhrase& row : kReviewPhrases) {
    if (status != static_cast<double>(row.status)) continue;
    std::string text = row.role.empty() ? "Another user" : "The " + Label(label, row.role);
    text += row.phrase;
    text += Label(label, "Action");
    text += ".";
    reviewText = std::move(text);
    break;
  }
  return reviewText;
}

/// "The <Action> was reviewed by the <Assignee> or the <Originator>."
std::string AlertLine(const LabelLookup& label) {
  std::string text = "The " + Label(label, "Action");
  text += " was reviewed by the " + Label(label, "Assignee");
  text += " or the " + Label(label, "Originator");
  return text + ".";
}

std::optional<std::string> ChangedText(const ColumnRule& rule, const std::string& oldText,
                                       const std::string& newText, const LabelLookup& label) {
  switch (rule.wording) {
    case Wording::kLongText:
      return "The " + Label(label, rule.name) + " was changed";
    case Wording::kDateOpened:
    case Wording::kSetTo:
    case Wording::kAssignee:
    case Wording::kPlain:
      return "The " + Label(label, rule.name) + " was changed from " + oldText + " to " + newText;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> SetText(const ColumnRule& rule, const std::string& newText,
                                   const LabelLookup& label) {
  switch (rule.wording) {
    case Wording::kSetTo:
      return "The " + Label(label, rule.name) + " was set to: " + newText;
    case Wording::kAssignee:
      return "The " + Label(label, "Action") + " was assigned to: " + newText;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> ClearedText(const ColumnRule& rule, const std::string& oldText,
                                       const LabelLookup& label) {
  switch (rule.wording) {
    case Wording::kDateOpened:
      return "The " + Label(label, rule.name) + " was changed from cleared";
    case Wording::kSetTo:
    case Wording::kAssignee:
    case Wording::kLongText:
      return "The " + Label(label, rule.name) + " was cleared";
    case Wording::kPlain:
      return "The " + Label(label, rule.name) + " was cleared from " + oldText;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<HistoryLine> ColumnHistory(std::string_view column, const vb::Variant& oldValue,
                                         const vb::Variant& newValue, const LabelLookup& label,
                                         const vb::Locale& locale, std::string& reviewText) {
  const Change change = ChangeOf(oldValue, newValue, locale);
  if (change == Change::kNone) return std::nullopt;
  const ColumnRule rule = RuleFor(column);

  if (rule.wording == Wording::kReviewed) {
    if (change == Change::kSet) return std::nullopt;
    return HistoryLine{rule.code, ReviewLine(newValue, label, reviewText)};
  }
  if (rule.wording == Wording::kAlert) {
    if (change != Change::kChanged || NumberOf(newValue) != -1.0) return std::nullopt;
    return HistoryLine{rule.code, AlertLine(label)};
  }

  std::optional<std::string> text;
  switch (change) {
    case Change::kChanged:
      text = ChangedText(rule, vb::TextOf(oldValue, locale), vb::TextOf(newValue, locale), label);
      break;
    case Change::kSet:
      text = SetText(rule, vb::TextOf(newValue, locale), label);
      break;
    case Change::kCleared:
      text = ClearedText(rule, vb::TextOf(oldValue, locale), label);
      break;
    case Change::kNone:
      break;
  }
  if (!text) return std::nullopt;
  return HistoryLine{rule.code, std::move(*text)};
}

}  // namespace kvaction
