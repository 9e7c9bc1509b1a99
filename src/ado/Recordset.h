#pragma once
// ADO-like record sets: field metadata, rows, a cursor, an edit buffer, and (for record sets that
// come from a database) a RowStore that writes inserts, updates and deletes back to the table.
#include <cstdint>
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

/// One row: the values as stored (original) and as currently held.
struct Row {
  std::vector<vb::Variant> values;
  std::vector<vb::Variant> original;
  bool deleted = false;
};

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

/// One field of the current row.
class Field {
 public:
  [[nodiscard]] const std::string& Name() const;
  [[nodiscard]] DataTypeEnum Type() const;
  [[nodiscard]] int32_t DefinedSize() const;
  [[nodiscard]] int32_t Attributes() const;
  /// The current row's value (the edit buffer's while an edit is in progress). No current
  /// record raises kNoCurrentRecord.
  [[nodiscard]] vb::Variant Value() const;
  /// Sets the current row's value, converted to the field's type with the host's errors; starts
  /// an edit when none is in progress. Read-only record sets raise kReadOnly.
  void Value(const vb::Variant& value);
  /// The value as last read from or stored to the database.
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
  /// Appends a field to a closed record set (kObjectOpen when open).
  void Append(std::string_view name, DataTypeEnum type, int32_t definedSize = 0,
              int32_t attributes = adFldUnspecified);

 private:
  friend class Recordset;
  explicit Fields(Recordset* owner) : owner_(owner) {}
  Recordset* owner_;
};

using RecordsetPtr = std::shared_ptr<Recordset>;

class Recordset {
 public:
  Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  /// A new, closed record set (held by shared_ptr, as clients hold record sets).
  [[nodiscard]] static RecordsetPtr Create();

  /// Opens without a connection, over the fields appended so far (no rows).
  void Open(CursorTypeEnum cursorType = adOpenUnspecified,
            LockTypeEnum lockType = adLockUnspecified, int32_t options = -1);
  /// Opens over rows given by a data layer; store (may be null) writes changes back.
  void OpenWithRows(std::vector<FieldInfo> fields, std::vector<Row> rows,
                    CursorTypeEnum cursorType, CursorLocationEnum cursorLocation,
                    LockTypeEnum lockType, std::shared_ptr<RowStore> store);
  void Close();
  [[nodiscard]] ObjectStateEnum State() const;

  [[nodiscard]] ado::Fields Fields();
  /// Shorthand for Fields().Item(name).
  [[nodiscard]] ado::Field operator[](std::string_view name);

  /// Adds a new row and makes it current (edit mode add).
  void AddNew();
  /// Adds a new row with the given fields set, then stores it (as ADO's AddNew with lists).
  void AddNew(const std::vector<std::string>& fieldList, const std::vector<vb::Variant>& values);
  /// Stores the edit in progress (through the RowStore when connected). On failure the record set
  /// is as before the call and the edit stays in the buffer.
  void Update();
  /// Sets the given fields of the current row, then stores it.
  void Update(const std::vector<std::string>& fieldList, const std::vector<vb::Variant>& values);
  /// Drops the edit in progress (an added row disappears).
  void CancelUpdate();
  /// Deletes the current row (through the RowStore when connected).
  void Delete(AffectEnum affect = adAffectCurrent);

  void MoveFirst();
  void MoveNext();
  void MovePrevious();
  void MoveLast();
  /// ADO's EOF and BOF (EOF is a C macro, hence the names).
  [[nodiscard]] bool IsEOF() const;
  [[nodiscard]] bool IsBOF() const;
  [[nodiscard]] int32_t RecordCount() const;
  [[nodiscard]] EditModeEnum EditMode() const;

  /// Finds the next row matching "Field op value" (=, <>, <, >, <=, >=, like with * or %; texts
  /// in single quotes, dates in #…#, numbers bare). Not found leaves the cursor at EOF (forward)
  /// or BOF (backward).
  void Find(std::string_view criteria, int32_t skipRecords = 0,
            SearchDirectionEnum direction = adSearchForward,
            BookmarkEnum start = adBookmarkCurrent);

  /// A record set sharing this one's rows, with its own cursor (on the first row).
  [[nodiscard]] RecordsetPtr Clone(LockTypeEnum lockType = adLockUnspecified);

  [[nodiscard]] CursorTypeEnum CursorType() const;
  [[nodiscard]] CursorLocationEnum CursorLocation() const;
  [[nodiscard]] LockTypeEnum LockType() const;

  /// Locale used to convert texts to dates when a value is set or a criterion read.
  void SetLocale(const vb::Locale& locale);

 private:
  friend class Field;
  friend class ado::Fields;
  struct Shared;  // rows and field metadata shared by clones
  std::shared_ptr<Shared> shared_;
  long position_ = 0;
  std::optional<Row> editBuffer_;
  EditModeEnum editMode_ = adEditNone;
  bool open_ = false;
  CursorTypeEnum cursorType_ = adOpenUnspecified;
  CursorLocationEnum cursorLocation_ = adUseServer;
  LockTypeEnum lockType_ = adLockUnspecified;
  const vb::Locale* locale_ = &vb::Locale::EnUS();
};

}  // namespace ado
