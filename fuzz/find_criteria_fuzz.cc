// Feeds arbitrary text as a Find criterion to a small record set. A criterion may be refused only
// with a ComError, and a Find that succeeds must leave the cursor on a matching row or at an end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ado/Criteria.h"
#include "ado/Recordset.h"
#include "vb/ComError.h"
#include "vb/Date.h"
#include "vb/Locale.h"

namespace {

void Expect(bool condition) {
  if (!condition) std::abort();
}

// Rows of every kind of value the library stores, Null and a deleted row included.
ado::RecordsetPtr SmallRecordset(const vb::Locale& locale) {
  ado::RecordsetPtr rs = ado::Recordset::Create();
  rs->SetLocale(locale);
  rs->Fields().Append("ActionID", ado::adInteger);
  rs->Fields().Append("Subject", ado::adVarWChar, 50);
  rs->Fields().Append("DateDue", ado::adDate);
  rs->Fields().Append("Alert", ado::adBoolean);
  rs->Fields().Append("Due Days", ado::adSmallInt);
  rs->Open();
  rs->AddNew({"ActionID", "Subject", "DateDue", "Alert", "Due Days"},
             {int32_t{5}, "O'Brien's report", vb::Date::FromParts(2021, 3, 4), true, int16_t{-2}});
  rs->AddNew({"ActionID", "Subject"}, {int32_t{6}, "Ma\xC3\xAFs *?_%"});
  rs->AddNew({"ActionID", "DateDue"}, {int32_t{7}, vb::Date::FromParts(1999, 12, 31, 23, 59, 59)});
  rs->Delete();
  rs->AddNew({"ActionID", "Alert"}, {int32_t{8}, false});
  return rs;
}

void FindIn(ado::Recordset& rs, std::string_view criteria, const vb::Locale& locale,
            ado::SearchDirectionEnum direction, ado::BookmarkEnum start) {
  try {
    rs.Find(criteria, 0, direction, start);
  } catch (const vb::ComError&) {
    return;
  }
  if (rs.IsEOF() || rs.IsBOF()) return;
  const ado::Criterion criterion = ado::Criterion::Parse(criteria, locale);
  Expect(criterion.Matches(rs.Fields().Item(criterion.FieldName()).Value()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view criteria(reinterpret_cast<const char*>(data), size);
  for (const vb::Locale* locale : {&vb::Locale::EnUS(), &vb::Locale::EnGB()}) {
    const ado::RecordsetPtr rs = SmallRecordset(*locale);
    FindIn(*rs, criteria, *locale, ado::adSearchForward, ado::adBookmarkFirst);
    FindIn(*rs, criteria, *locale, ado::adSearchBackward, ado::adBookmarkLast);
  }
  return 0;
}
