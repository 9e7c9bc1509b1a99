// The field lists clients build their views from: the visible columns of the actions table, and
// the fields whose values are validated, with their display labels.
#include <array>
#include <memory>
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/rights/Rights.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "vb/ComError.h"

namespace kvaction {

vb::CollectionPtr Action::VisibleFields() {
  // No action has a negative number: only the columns of the answer are used.
  const RecordsetPtr rs =
      vb::Require(vb::Require(state_->dataServer)->Connection())
          ->OpenRecordset("select * from actions where actionNumber < 0", ado::adOpenKeyset,
                          ado::adUseServer, ado::adLockOptimistic);
  if (!rs) return nullptr;
  auto collection = std::make_shared<vb::Collection>();
  ado::Fields fields = rs->Fields();
  for (int32_t position = 0; position < fields.Count(); ++position) {
    const std::string& name = fields.Item(position).Name();
    if (IsVisibleField(name)) {
      kvdata::DataUtility::AddToCollection(
          collection, VisibleFieldKey(static_cast<int16_t>(position)), vb::Variant(name));
    }
  }
  rs->Close();
  return collection;
}

RecordsetPtr Action::ValidatedFields() {
  const kvdata::DataServer& server = *vb::Require(state_->dataServer);
  RecordsetPtr list = vb::Require(server.NewFieldList());
  const auto settings = vb::Require(server.Settings());
  for (const std::string_view name : {"Category", "Priority"}) {
    list->AddNew({"FieldName"}, {vb::Variant(name)});
    bool found = true;
    list->Update({"FieldLabel"}, {vb::Variant(settings->Label(name, &found))});
  }
  return list;
}

}  // namespace kvaction
