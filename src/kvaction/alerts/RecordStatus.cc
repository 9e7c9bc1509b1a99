#include "kvaction/alerts/RecordStatus.h"

#include "vb/Convert.h"

namespace kvaction {

StatusColumns StatusColumnsOf(ado::Recordset& record, const vb::Locale& locale) {
  ado::Fields fields = record.Fields();
  const auto text = [&](std::string_view column) {
    return vb::TextOf(fields.Item(column).Value(), locale);
  };
  return {text("Assignee"),
          text("Originator"),
          text("DateDue"),
          text("DateCompleted"),
          text("DateClosed"),
          text("DateRejected"),
          vb::CInt(fields.Item("Reviewed").Value(), locale)};
}

StatusTexts RecordStatus(ado::Recordset& record, const vb::Clock& clock, const vb::Locale& locale) {
  StatusTexts texts;
  StatusSummary(StatusColumnsOf(record, locale), texts, clock, locale);
  return texts;
}

}  // namespace kvaction
