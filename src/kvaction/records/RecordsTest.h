#pragma once
// Test base for the record operations: an Action with admin logged in on a fresh database of
// each engine, value sets built in memory, and the stored rows and history read back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "kvaction/action/ActionTest.h"
#include "vb/Convert.h"
#include "vb/Date.h"

namespace kvaction {

/// One history event as stored: code and text.
struct StoredEvent {
  int32_t code;
  std::string text;
  friend bool operator==(const StoredEvent&, const StoredEvent&) = default;
  friend std::ostream& operator<<(std::ostream& out, const StoredEvent& e) {
    return out << e.code << " \"" << e.text << "\"";
  }
};

class RecordsTest : public ActionTest {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    if (HasFatalFailure()) return;
    action_ = AdminAction();
  }

  /// A one-row in-memory record set with the given columns and values (type from the value).
  [[nodiscard]] static RecordsetPtr Values(
      const std::vector<std::pair<std::string, vb::Variant>>& columns) {
    auto rs = ado::Recordset::Create();
    for (const auto& [name, value] : columns) {
      rs->Fields().Append(name, TypeOf(value), 0, ado::adFldUpdatable | ado::adFldIsNullable);
    }
    rs->Open(ado::adOpenStatic, ado::adLockOptimistic);
    AddRow(*rs, columns);
    return rs;
  }
  /// Adds one more row to a record set made by Values.
  static void AddRow(ado::Recordset& rs,
                     const std::vector<std::pair<std::string, vb::Variant>>& columns) {
    rs.AddNew();
    for (const auto& [name, value] : columns) rs[name].Value(value);
    rs.Update();
  }

  /// Creates an action with a subject; returns its ID.
  int32_t Create(const std::string& subject) {
    const int32_t id = action_->addRecord(nullptr, Values({{"Subject", subject}}));
    EXPECT_GT(id, 0);
    return id;
  }
  /// A column of a stored action.
  [[nodiscard]] vb::Variant Stored(int32_t actionID, std::string_view column) {
    const auto rs = action_->DataRecord(actionID);
    if (rs->IsEOF()) return vb::Variant{};
    return (*rs)[column].Value();
  }
  [[nodiscard]] int32_t Count(const std::string& sql) {
    const auto rs = action_->Recordset(sql);
    return vb::CLng(rs->Fields().Item(0).Value());
  }
  /// The history of an action, oldest first.
  [[nodiscard]] std::vector<StoredEvent> Events(int32_t actionID) {
    std::vector<StoredEvent> events;
    const auto rs = action_->Recordset(
        "select EventCode, EventText from ActionEvents where ActionID=" + std::to_string(actionID) +
        " order by EventID");
    for (; !rs->IsEOF(); rs->MoveNext()) {
      events.push_back(
          {vb::CLng((*rs)["EventCode"].Value()), vb::TextOf((*rs)["EventText"].Value())});
    }
    return events;
  }
  /// The fixture's today and a day relative to it.
  [[nodiscard]] static vb::Date Day(int32_t offset = 0) {
    return vb::Date::FromParts(2024, 3, 15).AddDays(offset);
  }

  std::unique_ptr<Action> action_;

 private:
  static ado::DataTypeEnum TypeOf(const vb::Variant& value) {
    if (value.IsDate()) return ado::adDate;
    if (value.IsBoolean()) return ado::adBoolean;
    if (value.IsNumeric()) return ado::adInteger;
    return ado::adVarWChar;
  }
};

}  // namespace kvaction
