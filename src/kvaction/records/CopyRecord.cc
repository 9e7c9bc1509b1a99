// Copying an action: the current row of the caller's record set becomes a one-row set of
// default values for a new action, so the copy gets its own ID and number and a creation event,
// and keeps every other value of the source that is not null.
#include "kvaction/Action.h"
#include "kvaction/records/RecordWrites.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

// The columns a copy never takes from its source: its identity.
bool IsIdentityColumn(std::string_view name) {
  const std::string lower = vb::LCase(name);
  return lower == "actionid" || lower == "actionnumber";
}

// An in-memory record set with rs's columns (same names, types, sizes and attributes) and one
// row holding the current row's values that a new action may take.
RecordsetPtr DefaultsFrom(ado::Recordset& rs) {
  RecordsetPtr defaults = ado::Recordset::Create();
  auto source = rs.Fields();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const ado::Field field = source.Item(i);
    defaults->Fields().Append(field.Name(), field.Type(), field.DefinedSize(), field.Attributes());
  }
  defaults->Open(ado::adOpenStatic, ado::adLockOptimistic);
  defaults->AddNew();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const ado::Field field = source.Item(i);
    ado::Field target = defaults->Fields().Item(field.Name());
    const vb::Variant value = field.Value();
    if (IsUpdatable(target) && !IsIdentityColumn(field.Name()) && !value.IsNull()) {
      target.Value(value);
    }
  }
  defaults->Update();
  return defaults;
}

}  // namespace

int32_t Action::copyRecord(RecordsetPtr* rs) {
  const RecordsetPtr source = vb::Require(*vb::Require(rs));
  if (source->IsBOF() || source->IsEOF()) return 0;
  return addRecord(rs, DefaultsFrom(*source), {});
}

}  // namespace kvaction
