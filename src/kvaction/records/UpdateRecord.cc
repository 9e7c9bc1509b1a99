// Storing edited values of actions, with one history event for each column whose value really
// changes. A call's events and stored rows are written in one transaction, so a process killed
// midway leaves no change without its events. When a step fails, what was written before it
// stays (earlier rows and the current row's events), and the error reaches the caller.
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvaction/records/History.h"
#include "kvaction/records/RecordWrites.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/EventLog.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

// The column that names the action in the values; it is never written.
bool IsKeyColumn(std::string_view name) {
  constexpr std::string_view kKey = "actionid";
  return name.size() == kKey.size() && vb::EqualsText(name, kKey);
}

// A value that reads as an empty text is stored as Null: a cleared value is never an empty text.
vb::Variant StoredForm(const vb::Variant& value, const vb::Locale& locale) {
  // A text is its own text form: no copy made to look at it.
  const auto* text = std::get_if<std::string>(&value.storage());
  if (text != nullptr ? text->empty() : vb::TextOf(value, locale).empty()) return vb::Null;
  return value;
}

// Writes the values of one row of the caller's record set into an action's stored row, with the
// history of each column. The review-status text lives from one Reviewed column to the next
// for the whole call.
class RowUpdater {
 public:
  RowUpdater(const kvdata::DataServer& server, const vb::Locale& locale)
      : connection_(server.Connection()),
        settings_(server.Settings()),
        events_(server.Events()),
        label_([this](std::string_view name, bool& flag) { return settings_->Label(name, &flag); }),
        locale_(locale) {}
  RowUpdater(const RowUpdater&) = delete;
  RowUpdater& operator=(const RowUpdater&) = delete;

  // Every column but the key, in column order: its history first, then its new value.
  void Apply(ado::Recordset& values, ado::Recordset& stored, int32_t actionID) {
    auto fields = values.Fields();
    for (int32_t i = 0; i < fields.Count(); ++i) {
      const ado::Field field = fields.Item(i);
      if (IsKeyColumn(field.Name())) continue;
      ado::Field target = stored.Fields().Item(field.Name());
      const vb::Variant newValue = field.Value();
      const std::optional<HistoryLine> line =
          ColumnHistory(field.Name(), target.Value(), newValue, label_, locale_, reviewText_);
      if (line) {
        UndoAloneOnFailure(*connection_,
                           [&] { events_->AddEvent(line->code, actionID, line->text); });
      }
      target.Value(StoredForm(newValue, locale_));
    }
  }

  // Stores the row's new values.
  void Store(ado::Recordset& stored) {
    UndoAloneOnFailure(*connection_, [&] { stored.Update(); });
  }

 private:
  std::shared_ptr<kvdata::DataConnection> connection_;
  std::shared_ptr<kvdata::SettingsStore> settings_;
  std::shared_ptr<kvdata::EventLog> events_;
  LabelLookup label_;
  const vb::Locale& locale_;
  std::string reviewText_;
};

}  // namespace

void Action::updateRecord(const RecordsetPtr& rsValues) {
  ado::Recordset& values = *vb::Require(rsValues);
  const kvdata::DataServer& server = *vb::Require(state_->dataServer);
  RowUpdater updater(server, state_->locale);
  WriteKeepingWhatWasDone(*server.Connection(), [&] {
    values.MoveFirst();
    while (!values.IsEOF()) {
      const int32_t actionID = vb::CLng(values["actionID"].Value(), state_->locale);
      // An ID that names no action is passed over, without an event.
      const RecordsetPtr stored = DataRecord(actionID);
      if (stored && !stored->IsEOF()) {
        updater.Apply(values, *stored, actionID);
        updater.Store(*stored);
      }
      values.MoveNext();
    }
    values.MoveFirst();
  });
}

}  // namespace kvaction
