#include "kvaction/alerts/RecordStatus.h"

#include "vb/Convert.h"

namespace kvaction {

StatusColumns StatusColumnsOf(const ColumnValue& column, const vb::Locale& locale,
                              std::optional<int16_t> reviewedWhenNull) {
  const vb::Variant reviewed = column("Reviewed");
  const auto text = [&](std::string_view name) { return vb::TextOf(column(name), locale); };
  return {text("Assignee"),
          text("Originator"),
          text("DateDue"),
          text("DateCompleted"),
          text("DateClosed"),
          text("DateRejected"),
          reviewed.IsNull() && reviewedWhenNull ? *reviewedWhenNull : vb::CInt(reviewed, locale)};
}

StatusColumns StatusColumnsOf(ado::Recordset& record, const vb::Locale& locale,
                              std::optional<int16_t> reviewedWhenNull) {
  ado::Fields fields = record.Fields();
  return StatusColumnsOf([&](std::string_view name) { return fields.Item(name).Value(); }, locale,
                         reviewedWhenNull);
}

StatusTexts RecordStatus(ado::Recordset& record, const vb::Clock& clock, const vb::Locale& locale,
                         std::optional<int16_t> reviewedWhenNull) {
  StatusTexts texts;
  StatusSummary(StatusColumnsOf(record, locale, reviewedWhenNull), texts, clock, locale);
  return texts;
}

}  // namespace kvaction
