#include "kvaction/alerts/RecordStatus.h"

#include "vb/Convert.h"

namespace kvaction {

StatusColumns StatusColumnsOf(ado::Recordset& record, const vb::Locale& locale,
                              std::optional<int16_t> reviewedWhenNull) {
  ado::Fields fields = record.Fields();
  const vb::Variant reviewed = fields.Item("Reviewed").Value();
  const auto text = [&](std::string_view column) {
    return vb::TextOf(fields.Item(column).Value(), locale);
  };
  return {text("Assignee"),
          text("Originator"),
          text("DateDue"),
          text("DateCompleted"),
          text("DateClosed"),
          text("DateRejected"),
          reviewed.IsNull() && reviewedWhenNull ? *reviewedWhenNull : vb::CInt(reviewed, locale)};
}

StatusTexts RecordStatus(ado::Recordset& record, const vb::Clock& clock, const vb::Locale& locale,
                         std::optional<int16_t> reviewedWhenNull) {
  StatusTexts texts;
  StatusSummary(StatusColumnsOf(record, locale, reviewedWhenNull), texts, clock, locale);
  return texts;
}

}  // namespace kvaction
