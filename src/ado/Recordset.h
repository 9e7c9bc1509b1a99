#pragma once
// ADO-like record sets: field metadata, rows, a cursor, an edit buffer, and (for record sets that
// come from a database) a RowStore that writes inserts, updates and deletes back to the table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Enums.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace ado {

/// What a field is: name, ADO type, defined size, attributes.
struct FieldInfo {
  std::string name;
  DataTypeEnum type = adVarWChar;
  int32_t definedSize = 0;
  int32_t attributes = adFldUnspecified;
};

/// One row: the values as stored (original) and as currently held. Until the row is edited its
/// originals are its values, and original is left empty rather than holding a copy.
struct Row {
  std::vector<vb::Variant> values;
  std::vector<vb::Variant> original;
  bool deleted = false;
};

/// The rows of a query handed out one at a time, as the engine reads them, for a record set that
/// streams instead of holding every row.
class RowSource {
 public:
  virtual ~RowSource() = default;
  /// Reads the next row into values (one value per field); false when no row is left. Raises a
  /// ComError when the engine fails.
  virtual bool Next(std::vector<vb::Variant>& values) = 0;
};

/// Runs a streamed query from its first row again (each call a new source).
using RowSourceFactory = std::function<std::unique_ptr<RowSource>()>;

/// Writes a connected record set's changes to its table. Implemented by the data layer; an
/// in-memory record set has none. Each call either succeeds completely or throws a ComError and
/// changes nothing in the database.
class RowStore {
 public:
  virtual ~RowStore() = default;
  /// Inserts row.values (fields set to Empty are left to the table's defaults) and writes the
  /// generated values (the key) back into row.values.
  virtual void Insert(const std::vector<FieldInfo>& fields, Row& row) = 0;
  /// Writes the fields listed in changed (indexes), checking that each still holds
  /// row.original in the table; raises kRowNotLocated when the row was changed or removed.
  virtual void Update(const std::vector<FieldInfo>& fields, const Row& row,
                      const std::vector<std::size_t>& changed) = 0;
  /// Removes the row by its key.
  virtual void Delete(const std::vector<FieldInfo>& fields, const Row& row) = 0;
};

class Recordset;

/// The value a field of this kind holds when set to value, as Field::Value(value) converts it:
/// the host's conversion for the field's type (dates and numbers read in locale), Null for Null
/// and Empty. A text longer than a limited text field allows raises kMultipleStep; a value
/// that does not convert raises the host's error.
[[nodiscard]] vb::Variant FieldValueFor(const FieldInfo& field, const vb::Variant& value,
                                        const vb::Locale& locale = vb::Locale::EnUS());

/// Field metadata shared, unchanged, by the record sets opened over the same statement.
using FieldList = std::shared_ptr<const std::vector<FieldInfo>>;

/// One field of the current row.
class Field {
 public:
  [[nodiscard]] const std::string& Name() const;
  [[nodiscard]] DataTypeEnum Type() const;
  [[nodiscard]] int32_t DefinedSize() const;
  [[nodiscard]] int32_t Attributes() const;
  /// The current row's value (the edit buffer's while an edit is in progress). No current
  /// record raises kNoCurrentRecord. The value is the record set's own: it stays valid until
  /// the cursor moves, the field is set, or the record set is closed or goes.
  [[nodiscard]] const vb::Variant& Value() const;
  /// Sets the current row's value, converted to the field's type with the host's conversions
  /// and errors (whole numbers CInt/CLng, adBoolean CBool, dates CDate, other numbers CDbl,
  /// texts CStr; Null and Empty set Null); starts an edit when none is in progress. A text longer
  /// than a non-long text field's DefinedSize (when above 0) raises kMultipleStep; read-only
  /// record sets raise kReadOnly.
  void Value(const vb::Variant& value);
  /// The value as last read from or stored to the database (for an in-memory record set, as
  /// last stored by Update).
  [[nodiscard]] vb::Variant OriginalValue() const;

 private:
  friend class Fields;
  Field(Recordset* owner, std::size_t index) : owner_(owner), index_(index) {}
  Recordset* owner_;
  std::size_t index_;
};

/// The fields of a record set, by name (without regard to letter case) or position.
class Fields {
 public:
  [[nodiscard]] int32_t Count() const;
  /// By 0-based position; out of range raises kItemNotFound.
  [[nodiscard]] Field Item(int32_t index) const;
  /// By name without regard to letter case; missing raises kItemNotFound.
  [[nodiscard]] Field Item(std::string_view name) const;
  [[nodiscard]] Field operator[](std::string_view name) const { return Item(name); }
  [[nodiscard]] bool Contains(std::string_view name) const;
  /// Appends a field to a closed record set (kObjectOpen when open, kAlreadyInCollection when
  /// the name is taken, kBadArguments when it is empty).
  void Append(std::string_view name, DataTypeEnum type, int32_t definedSize = 0,
              int32_t attributes = adFldUnspecified);

 private:
  friend class Recordset;
  explicit Fields(Recordset* owner) : owner_(owner) {}
  /// Raises kItemNotFound for a position out of range.
  [[noreturn]] static Field OutOfRange();
  Recordset* owner_;
};

using RecordsetPtr = std::shared_ptr<Recordset>;

/// An ADO 2.x record set. Every failing call raises a ComError and leaves the record set as it
/// was (one exception: AddNew and the moves store a pending edit first, and that store stays).
/// Unless said otherwise, calls on a closed record set raise kObjectClosed, and writes on a
/// read-only one (adLockReadOnly) raise kReadOnly.
class Recordset {
 public:
  Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  /// A new, closed record set (held by shared_ptr, as clients hold record sets).
  [[nodiscard]] static RecordsetPtr Create();

  /// Opens without a connection, over the fields appended so far (no rows). As ADO's client
  /// cursor does, such a record set is client-side (adUseClient) and static, and an unspecified
  /// lock type becomes adLockBatchOptimistic; an unspecified cursor type becomes adOpenStatic.
  /// options is accepted for ADO's signature; there is no source for it to describe. Fields of
  /// rows added to it start as Null. Raises kObjectOpen when already open, kConnectionUnusable
  /// when no field was appended.
  void Open(CursorTypeEnum cursorType = adOpenUnspecified,
            LockTypeEnum lockType = adLockUnspecified, int32_t options = -1);
  /// Opens over rows given by a data layer, with the options given unchanged; store (may be
  /// null) writes changes back. A row without original values gets its values as originals; a
  /// row whose value count differs from the field count raises kBadArguments. Fields of rows
  /// added to a record set with a store start as Empty (left to the table's defaults), and only
  /// fields whose attributes include adFldUpdatable (or are unspecified) may be set (else
  /// kMultipleStep).
  void OpenWithRows(std::vector<FieldInfo> fields, std::vector<Row> rows, CursorTypeEnum cursorType,
                    CursorLocationEnum cursorLocation, LockTypeEnum lockType,
                    std::shared_ptr<RowStore> store);
  /// The same over field metadata held by others too (never changed by the record set).
  void OpenWithRows(FieldList fields, std::vector<Row> rows, CursorTypeEnum cursorType,
                    CursorLocationEnum cursorLocation, LockTypeEnum lockType,
                    std::shared_ptr<RowStore> store);
  /// Opens a forward-only, read-only record set that holds only the current row, reading the
  /// next one from the query as the cursor moves forward. Whatever needs more than that
  /// (RecordCount, MoveLast, MovePrevious, Find, Clone) reads the remaining rows into memory
  /// first, running the query again when rows already passed are needed; MoveFirst runs the
  /// query again from its first row. Raises what the first read raises.
  void OpenStreaming(std::vector<FieldInfo> fields, RowSourceFactory query,
                     CursorLocationEnum cursorLocation);
  /// The same over field metadata held by others too.
  void OpenStreaming(FieldList fields, RowSourceFactory query, CursorLocationEnum cursorLocation);
  /// Drops any pending edit and releases the rows (clones keep theirs); the fields stay, so the
  /// record set can be opened again.
  void Close();
  /// Never raises.
  [[nodiscard]] ObjectStateEnum State() const;

  /// The fields (also of a closed record set). The Fields and Field objects refer to this record
  /// set and must not outlive it.
  [[nodiscard]] ado::Fields Fields();
  /// Shorthand for Fields().Item(name).
  [[nodiscard]] ado::Field operator[](std::string_view name);

  /// Adds a new row and makes it current (edit mode add); a pending edit is stored first. The
  /// row joins the rows (and clones see it) when Update stores it.
  void AddNew();
  /// Adds a new row with the given fields set, then stores it (as ADO's AddNew with lists).
  /// Lists of different lengths raise kBadArguments, an unknown name kItemNotFound.
  void AddNew(const std::vector<std::string>& fieldList, const std::vector<vb::Variant>& values);
  /// Stores the edit in progress: an added row through RowStore::Insert (keeping the generated
  /// values it writes back), an edited row through RowStore::Update with the fields set during
  /// the edit. The stored values become the originals. Without an edit it does nothing. On
  /// failure the record set is as before the call and the edit stays in the buffer.
  void Update();
  /// Sets the given fields of the current row (or of the pending edit), then stores it. On
  /// failure nothing of the call is kept.
  void Update(const std::vector<std::string>& fieldList, const std::vector<vb::Variant>& values);
  /// Drops the edit in progress; an added row disappears and the row current before AddNew is
  /// current again. Without an edit it does nothing.
  void CancelUpdate();
  /// Deletes the current row (through RowStore::Delete first when connected) together with any
  /// edit of it; with a row being added, drops that row instead. The cursor stays on the deleted
  /// row, which has no values to read, until it moves; moves, Find and RecordCount skip deleted
  /// rows. Only adAffectCurrent is supported (others raise kBadArguments).
  void Delete(AffectEnum affect = adAffectCurrent);

  /// The moves store a pending edit first. MoveNext at EOF and MovePrevious at BOF raise
  /// kNoCurrentRecord; moving past the last (first) row sets EOF (BOF).
  void MoveFirst();
  void MoveNext();
  void MovePrevious();
  void MoveLast();
  /// ADO's EOF and BOF (EOF is a C macro, hence the names); both true on an empty record set.
  [[nodiscard]] bool IsEOF() const;
  [[nodiscard]] bool IsBOF() const;
  /// Rows not deleted, with a row being added.
  [[nodiscard]] int32_t RecordCount() const;
  /// The edit under way on the current row; kNoCurrentRecord at BOF/EOF with no row being added.
  [[nodiscard]] EditModeEnum EditMode() const;

  /// Finds the next row matching a criterion (see Criterion in ado/Criteria.h; dates read in
  /// SetLocale's locale), after storing a pending edit. The search starts at the first row, the
  /// last row or the current row (start), moves skipRecords rows in direction, and takes that row
  /// and the ones after it in direction. Not found leaves the cursor at EOF (forward) or BOF
  /// (backward). A malformed criterion, a negative skip or an unknown direction or start raise
  /// kBadArguments, an unknown field kItemNotFound; starting from the current row at BOF/EOF
  /// kNoCurrentRecord.
  void Find(std::string_view criteria, int32_t skipRecords = 0,
            SearchDirectionEnum direction = adSearchForward,
            BookmarkEnum start = adBookmarkCurrent);

  /// A record set sharing this one's rows, store and options, with its own cursor (on the first
  /// row). Rows stored, added or deleted through either are seen by both; pending edits are not.
  /// lockType adLockUnspecified keeps this one's lock type, adLockReadOnly makes the clone
  /// read-only; any other raises kBadArguments.
  [[nodiscard]] RecordsetPtr Clone(LockTypeEnum lockType = adLockUnspecified);

  /// The options as opened (see Open); never raise. Before the first Open: adOpenForwardOnly,
  /// adUseServer and adLockReadOnly.
  [[nodiscard]] CursorTypeEnum CursorType() const;
  [[nodiscard]] CursorLocationEnum CursorLocation() const;
  [[nodiscard]] LockTypeEnum LockType() const;

  /// Locale used to convert texts to dates when a value is set or a criterion read; it must
  /// outlive the record set. The default is en-US.
  void SetLocale(const vb::Locale& locale);

 private:
  friend class Field;
  friend class ado::Fields;
  /// The fields of a record set before any is appended.
  static const FieldList& NoFields();
  /// Rows and field metadata shared by clones.
  struct Shared {
    // Never changed once shared: record sets opened over the same statement hold one copy.
    FieldList fields = NoFields();
    std::vector<Row> rows;
    std::shared_ptr<RowStore> store;
    // A streamed query: how to run it again (kept for the record set's life: it may hold what
    // the rows need), whether rows are still read as the cursor moves, the run being read (none
    // once it is read to the end), where rows[0] stands among the query's rows, a buffer for the
    // next.
    RowSourceFactory query;
    bool streaming = false;
    std::unique_ptr<RowSource> source;
    std::size_t base = 0;
    std::vector<vb::Variant> next;
  };

  /// Where the cursor stands: before the first row, after the last, or on rows[index].
  struct Cursor {
    bool bof = true;
    bool eof = true;
    std::size_t index = 0;
  };
  /// The edit buffer: a copy of the row being edited (or the row being added) and which fields
  /// were set since the edit began.
  struct Edit {
    Row row;
    std::vector<bool> assigned;
    EditModeEnum mode = adEditNone;
  };

  /// An empty shared part for a new open, this record set's own when no clone holds it.
  Shared& FreshShared();
  void RequireOpen() const;
  void RequireUpdatable() const;
  [[nodiscard]] bool Adding() const;
  /// The stored row under the cursor; raises kNoCurrentRecord at BOF/EOF or on a deleted row.
  [[nodiscard]] Row& CurrentRow() const;
  /// Raises kItemNotFound for a field that is gone (a Field kept over Close and a new Open).
  void RequireField(std::size_t index) const;
  [[nodiscard]] const FieldInfo& Info(std::size_t index) const;
  [[nodiscard]] std::optional<std::size_t> IndexOf(std::string_view name) const;
  [[nodiscard]] std::vector<std::size_t> IndexesOf(const std::vector<std::string>& fieldList,
                                                   const std::vector<vb::Variant>& values) const;
  [[nodiscard]] Edit NewRowEdit() const;
  // What a field of a new row holds until it is set: Empty on a connected row, so that the
  // table's defaults apply to it, else Null.
  [[nodiscard]] vb::Variant Unset() const;
  [[nodiscard]] Edit CurrentRowEdit() const;
  void Assign(Edit& edit, std::size_t index, const vb::Variant& value) const;
  /// Stores edit (through the RowStore when connected), then ends it; raises with nothing changed.
  void Commit(const Edit& edit);
  /// Stores a pending edit before the cursor moves.
  void UpdatePending();
  /// The next row not deleted after from in direction (from the start when from is empty).
  [[nodiscard]] std::optional<std::size_t> NextLive(std::optional<std::size_t> from,
                                                    SearchDirectionEnum direction) const;
  /// The cursor on row at, or past the end in direction when there is none.
  [[nodiscard]] Cursor CursorAt(std::optional<std::size_t> at, SearchDirectionEnum direction) const;
  /// The cursor on the first live row met in direction (the last row when backward).
  [[nodiscard]] Cursor FirstCursor(SearchDirectionEnum direction) const;
  /// The common read (a stored row under the cursor, no edit) inline; anything else through
  /// CheckedFieldValue.
  [[nodiscard]] const vb::Variant& FieldValue(std::size_t index) const;
  [[nodiscard]] const vb::Variant& CheckedFieldValue(std::size_t index) const;
  void FieldValue(std::size_t index, const vb::Variant& value);
  [[nodiscard]] vb::Variant FieldOriginalValue(std::size_t index) const;
  /// Whether rows are still read from the query as the cursor moves.
  [[nodiscard]] bool Streaming() const;
  /// Reads the first row of a new run of the streamed query; the cursor stands on it.
  void RestartStream();
  /// Reads the next row of the streamed query in place of the current one.
  void StreamNext();
  /// Reads every row left in the streamed query into memory, so that the record set moves
  /// freely from then on; the cursor stays on its row.
  void Materialize() const;

  std::shared_ptr<Shared> shared_;
  Cursor cursor_;
  std::optional<Edit> edit_;
  bool open_ = false;
  CursorTypeEnum cursorType_ = adOpenForwardOnly;  // what a record set never opened reports
  CursorLocationEnum cursorLocation_ = adUseServer;
  LockTypeEnum lockType_ = adLockReadOnly;
  const vb::Locale* locale_ = &vb::Locale::EnUS();
};

// Reading fields is what every client does for every cell: the common case is inline.

inline const vb::Variant& Recordset::FieldValue(std::size_t index) const {
  // A stored row under the cursor with no edit, in as few tests as it takes (a stored row has a
  // value for each field); anything else goes through the checks in their order.
  if (open_ && !edit_ && !cursor_.bof && !cursor_.eof) {
    const Row& row = shared_->rows[cursor_.index - shared_->base];
    if (!row.deleted && index < row.values.size()) return row.values[index];
  }
  return CheckedFieldValue(index);
}

inline const vb::Variant& Field::Value() const { return owner_->FieldValue(index_); }

inline Field Fields::Item(int32_t index) const {
  if (index >= 0 && static_cast<std::size_t>(index) < owner_->shared_->fields->size()) {
    return Field(owner_, static_cast<std::size_t>(index));
  }
  return OutOfRange();
}

}  // namespace ado
