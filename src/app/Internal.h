#pragma once
// Helpers the command files share: the stored row of an action, the person's rights on it, the
// checks that refuse before anything changes, and the history writes of this layer.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "app/Session.h"
#include "kvaction/Enums.h"
#include "vb/Variant.h"

namespace kvdata {
class DataConnection;
}

namespace app::internal {

/// The fields of a record set, and its current row's values.
[[nodiscard]] std::vector<ado::FieldInfo> FieldsOf(ado::Recordset& rs);
[[nodiscard]] ado::Row RowOf(ado::Recordset& rs);
/// Rows held in memory as a read-only record set (forward-only unless told).
[[nodiscard]] ado::RecordsetPtr HeldRows(std::vector<ado::FieldInfo> fields,
                                         std::vector<ado::Row> rows,
                                         ado::CursorTypeEnum cursor = ado::adOpenForwardOnly);

/// The columns of the actions table as the database describes them (name, type, size,
/// attributes), in table order: read once per change of the data (a schema upgrade by another
/// process is one) and kept.
[[nodiscard]] std::shared_ptr<const std::vector<ado::FieldInfo>> ActionShape(Session& session);
/// The column of the actions table of that name (any letter case), or nothing.
[[nodiscard]] std::optional<ado::FieldInfo> ActionField(Session& session, std::string_view name);

/// The open connection of the session's data server.
[[nodiscard]] kvdata::DataConnection& Connection(Session& session);
/// The rows of a query for reading: forward-only and read-only, so they stream from the
/// database and nothing can write through them.
[[nodiscard]] ado::RecordsetPtr ReadRows(kvdata::DataConnection& connection, std::string_view sql);
[[nodiscard]] ado::RecordsetPtr ReadRows(Session& session, std::string_view sql);
/// The rows of a single-table query for changing: AddNew, Update and Delete write back to the
/// table (a query that matches no row, "… where Key = 0", gives an empty set to add to).
[[nodiscard]] ado::RecordsetPtr WritableRows(kvdata::DataConnection& connection,
                                             std::string_view sql);
[[nodiscard]] ado::RecordsetPtr WritableRows(Session& session, std::string_view sql);
/// A new random secret (256 bits, hex), and the hash it is stored as: secrets are random, so a
/// fast hash suffices and a stolen table gives no usable secret.
[[nodiscard]] std::string NewToken();
[[nodiscard]] std::string TokenHash(std::string_view token);

/// Whether the person is a SuperUser (HasAccess(255)).
[[nodiscard]] bool IsSuper(Session& session);
/// Refuses with kRefused unless the person holds right; what names the request.
void Require(Session& session, int32_t right, std::string_view what);
/// The rights of the people who maintain users and workgroups, who read every user's address
/// and workgroup and every workgroup's rights.
inline constexpr std::array<int32_t, 3> kMaintenanceRights = {
    kvaction::arAddEditUsers, kvaction::arDeleteUsers, kvaction::arChangeWorkgroups};

/// Whether the person holds at least one of rights.
[[nodiscard]] bool HoldsAny(Session& session, std::span<const int32_t> rights);
/// Refuses with kRefused, naming every one of rights, unless the person holds one of them.
void RequireAny(Session& session, std::span<const int32_t> rights, std::string_view what);
/// Refuses with kRefused unless the person is a SuperUser.
void RequireSuper(Session& session, std::string_view what);

/// Whether a value holds something (neither Null nor Empty).
[[nodiscard]] bool IsSet(const vb::Variant& value);
/// Whether row's column holds something.
[[nodiscard]] bool IsSet(ado::Recordset& row, std::string_view column);
/// The review status of the action at row's current position (unset: the assignee's review).
[[nodiscard]] int32_t ReviewedOf(ado::Recordset& row);
/// text without the blanks around it.
[[nodiscard]] std::string TrimBlanks(std::string_view text);

/// The stored row of an action; raises kNotFound. Outside a transaction a read-only copy of the
/// row, kept between changes of the data; inside one the library's own (DataRecord).
[[nodiscard]] ado::RecordsetPtr Row(Session& session, int32_t actionID);
/// A column of a row as text in the session's short date form (Null: "").
[[nodiscard]] std::string Text(const Session& session, ado::Recordset& row,
                               std::string_view column);
/// The action's number as users know it, for messages.
[[nodiscard]] std::string NumberText(const Session& session, ado::Recordset& row);

/// The person's editing rights on one action, with CloseAction decided (see docs/rights.md).
struct ActionRights {
  ado::RecordsetPtr record;
  bool owner = false;     ///< originator (in a workgroup other than 0) or SuperUser
  bool assignee = false;  ///< the assignee (or holds right 66)
  [[nodiscard]] bool Has(std::string_view field) const;
  /// Whether any Edit* field is true: the person may work on the action's content.
  [[nodiscard]] bool AnyEdit() const;
};
[[nodiscard]] ActionRights RightsOf(Session& session, int32_t actionID);
/// Refuses unless rights.Has(field); what names the request.
void RequireField(const ActionRights& rights, std::string_view field, std::string_view what);

/// Writes one history event as the person (ActionID 0 for administration).
void Record(Session& session, int32_t code, int32_t actionID, std::string_view text);

/// An open in-memory record set of the columns given (nullable, updatable).
[[nodiscard]] ado::RecordsetPtr Table(
    const std::vector<std::pair<std::string, ado::DataTypeEnum>>& columns);
/// The column values of one action, by column name of the actions table.
using ColumnValues = std::vector<std::pair<std::string, vb::Variant>>;
/// Stores values on one action through the library's update, which writes the history lines:
/// only the columns given change (updateRecord stores every column it is given).
void UpdateAction(Session& session, int32_t actionID, const ColumnValues& values);

/// The review steps of Review, Complete, Close and Reopen, whose note records the words of the
/// move it came with (move: "rejected the completion" for a reopening that rejects one).
void ReviewAs(Session& session, int32_t actionID, int32_t reviewStatus, std::string_view note,
              std::string_view move);
void CompleteAs(Session& session, int32_t actionID, std::string_view note, std::string_view move);
void CloseAs(Session& session, int32_t actionID, std::string_view note, std::string_view move);
void ReopenAs(Session& session, int32_t actionID, std::string_view note, std::string_view move);

/// The day a filter's date names: ISO (yyyy-mm-dd) or the short date form of locale. Raises
/// kInvalidInput naming field and both forms.
[[nodiscard]] vb::Date DayOf(const vb::Locale& locale, std::string_view field,
                             const std::string& text);
/// Checks a text against a column size (0: unbounded); raises kInvalidInput naming field.
void CheckSize(std::string_view field, std::string_view text, int32_t size);
/// Checks a password against the product's rule; raises kInvalidInput.
void CheckPassword(std::string_view password);
/// Checks a user's e-mail address ("" for none) as every way of storing one does: it fits the
/// column and has an '@'. Raises kInvalidInput naming the field "email".
void CheckEmail(std::string_view email);
/// A user's display name; raises kNotFound for an unknown user ID.
[[nodiscard]] std::string UserName(Session& session, std::string_view userID);
/// Whether a workgroup exists.
[[nodiscard]] bool WorkgroupExists(Session& session, int32_t groupID);
/// The number of rows a counting query ("select count(*) as n …") returns in its first column.
[[nodiscard]] int32_t Count(Session& session, const std::string& sql);

}  // namespace app::internal
