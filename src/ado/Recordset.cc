#include "ado/Recordset.h"

#include <algorithm>
#include <utility>

#include "ado/Criteria.h"
#include "ado/Errors.h"
#include "vb/Convert.h"
#include "vb/TextScan.h"

namespace ado {

const FieldList& Recordset::NoFields() {
  static const FieldList none = std::make_shared<const std::vector<FieldInfo>>();
  return none;
}

namespace {

constexpr const char* kFieldSource = "ADODB.Field";
constexpr const char* kFieldsSource = "ADODB.Fields";

// Unspecified attributes (-1) hold every bit, adFldUpdatable among them, as a client testing
// Attributes And adFldUpdatable sees.
bool IsUpdatable(const FieldInfo& info) { return (info.attributes & adFldUpdatable) != 0; }

// Long texts (memo columns) have no length limit, whatever their defined size says; unspecified
// attributes do not make a field long.
bool HasLengthLimit(const FieldInfo& info) {
  const bool longAttribute = info.attributes != adFldUnspecified && (info.attributes & adFldLong);
  return info.definedSize > 0 && info.type != adLongVarChar && info.type != adLongVarWChar &&
         !longAttribute;
}

std::size_t CharacterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A text for a text field; longer than a limited field allows is refused as ADO's field does.
std::string FieldText(const vb::Variant& value, const FieldInfo& info, const vb::Locale& locale) {
  std::string text = vb::CStr(value, locale);
  if (HasLengthLimit(info) && CharacterCount(text) > static_cast<std::size_t>(info.definedSize)) {
    throw Error(kMultipleStep, kFieldSource);
  }
  return text;
}

}  // namespace

vb::Variant FieldValueFor(const FieldInfo& info, const vb::Variant& value,
                          const vb::Locale& locale) {
  if (value.IsNull() || value.IsEmpty()) return vb::Null;
  switch (info.type) {
    case adSmallInt:
    case adTinyInt:
      return vb::CInt(value, locale);
    case adInteger:
      return vb::CLng(value, locale);
    case adBoolean:
      return vb::CBool(value, locale);
    case adSingle:
    case adDouble:
    case adCurrency:
    case adBigInt:
      return vb::CDbl(value, locale);
    case adDate:
    case adDBDate:
    case adDBTimeStamp:
      return vb::CDate(value, locale);
    case adBSTR:
    case adChar:
    case adWChar:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
      return FieldText(value, info, locale);
    case adEmpty:
    case adVariant:
      break;
  }
  return value;
}

// ---------------------------------------------------------------------------------------------
// Field and Fields

const std::string& Field::Name() const { return owner_->Info(index_).name; }
DataTypeEnum Field::Type() const { return owner_->Info(index_).type; }
int32_t Field::DefinedSize() const { return owner_->Info(index_).definedSize; }
int32_t Field::Attributes() const { return owner_->Info(index_).attributes; }
void Field::Value(const vb::Variant& value) { owner_->FieldValue(index_, value); }
vb::Variant Field::OriginalValue() const { return owner_->FieldOriginalValue(index_); }

int32_t Fields::Count() const { return static_cast<int32_t>(owner_->shared_->fields->size()); }

Field Fields::OutOfRange() { throw Error(kItemNotFound, kFieldsSource); }

Field Fields::Item(std::string_view name) const {
  const std::optional<std::size_t> index = owner_->IndexOf(name);
  if (!index) throw Error(kItemNotFound, kFieldsSource);
  return Field(owner_, *index);
}

bool Fields::Contains(std::string_view name) const { return owner_->IndexOf(name).has_value(); }

void Fields::Append(std::string_view name, DataTypeEnum type, int32_t definedSize,
                    int32_t attributes) {
  if (owner_->open_) throw Error(kObjectOpen, kFieldsSource);
  if (name.empty()) throw Error(kBadArguments, kFieldsSource);
  if (Contains(name)) throw Error(kAlreadyInCollection, kFieldsSource);
  auto fields = std::make_shared<std::vector<FieldInfo>>(*owner_->shared_->fields);
  fields->push_back(FieldInfo{std::string(name), type, definedSize, attributes});
  owner_->shared_->fields = std::move(fields);
}

// ---------------------------------------------------------------------------------------------
// Recordset: opening and closing

Recordset::Recordset() : shared_(std::make_shared<Shared>()) {}

RecordsetPtr Recordset::Create() { return std::make_shared<Recordset>(); }

void Recordset::Open(CursorTypeEnum cursorType, LockTypeEnum lockType, int32_t /*options*/) {
  if (open_) throw Error(kObjectOpen);
  // With neither a connection nor fields of its own there is nothing to open over.
  if (shared_->fields->empty()) throw Error(kConnectionUnusable);
  auto shared = std::make_shared<Shared>();
  shared->fields = shared_->fields;
  shared_ = std::move(shared);
  cursor_ = Cursor{};
  edit_.reset();
  open_ = true;
  cursorType_ = cursorType == adOpenUnspecified ? adOpenStatic : cursorType;
  cursorLocation_ = adUseClient;
  lockType_ = lockType == adLockUnspecified ? adLockBatchOptimistic : lockType;
}

void Recordset::OpenWithRows(std::vector<FieldInfo> fields, std::vector<Row> rows,
                             CursorTypeEnum cursorType, CursorLocationEnum cursorLocation,
                             LockTypeEnum lockType, std::shared_ptr<RowStore> store) {
  OpenWithRows(std::make_shared<const std::vector<FieldInfo>>(std::move(fields)), std::move(rows),
               cursorType, cursorLocation, lockType, std::move(store));
}

void Recordset::OpenWithRows(FieldList fields, std::vector<Row> rows, CursorTypeEnum cursorType,
                             CursorLocationEnum cursorLocation, LockTypeEnum lockType,
                             std::shared_ptr<RowStore> store) {
  if (open_) throw Error(kObjectOpen);
  if (!fields) throw Error(kBadArguments);
  // Originals are copied when a row is first edited: until then they are the values read.
  for (Row& row : rows) {
    if (row.values.size() != fields->size()) throw Error(kBadArguments);
    if (row.original.size() != row.values.size()) row.original.clear();
  }
  Shared& shared = FreshShared();
  shared.fields = std::move(fields);
  shared.rows = std::move(rows);
  shared.store = std::move(store);
  edit_.reset();
  open_ = true;
  cursorType_ = cursorType;
  cursorLocation_ = cursorLocation;
  lockType_ = lockType;
  cursor_ = FirstCursor(adSearchForward);
}

void Recordset::OpenStreaming(std::vector<FieldInfo> fields, RowSourceFactory query,
                              CursorLocationEnum cursorLocation) {
  OpenStreaming(std::make_shared<const std::vector<FieldInfo>>(std::move(fields)), std::move(query),
                cursorLocation);
}

void Recordset::OpenStreaming(FieldList fields, RowSourceFactory query,
                              CursorLocationEnum cursorLocation) {
  if (open_) throw Error(kObjectOpen);
  if (!fields) throw Error(kBadArguments);
  Shared& shared = FreshShared();
  shared.fields = std::move(fields);
  shared.query = std::move(query);
  shared.streaming = true;
  edit_.reset();
  cursorType_ = adOpenForwardOnly;
  cursorLocation_ = cursorLocation;
  lockType_ = adLockReadOnly;
  RestartStream();
  open_ = true;
}

Recordset::Shared& Recordset::FreshShared() {
  // A closed record set's own part (its fields alone) is reused when no clone holds it: most
  // record sets are opened once, straight after they are made.
  if (shared_.use_count() == 1) {
    *shared_ = Shared{};
  } else {
    shared_ = std::make_shared<Shared>();
  }
  return *shared_;
}

void Recordset::Close() {
  RequireOpen();
  auto shared = std::make_shared<Shared>();
  shared->fields = shared_->fields;
  shared_ = std::move(shared);
  edit_.reset();
  cursor_ = Cursor{};
  open_ = false;
}

ObjectStateEnum Recordset::State() const { return open_ ? adStateOpen : adStateClosed; }

ado::Fields Recordset::Fields() { return ado::Fields(this); }

ado::Field Recordset::operator[](std::string_view name) { return Fields().Item(name); }

// ---------------------------------------------------------------------------------------------
// Recordset: editing

void Recordset::AddNew() {
  RequireOpen();
  RequireUpdatable();
  UpdatePending();
  edit_ = NewRowEdit();
}

void Recordset::AddNew(const std::vector<std::string>& fieldList,
                       const std::vector<vb::Variant>& values) {
  RequireOpen();
  RequireUpdatable();
  const std::vector<std::size_t> indexes = IndexesOf(fieldList, values);
  UpdatePending();
  Edit edit = NewRowEdit();
  for (std::size_t i = 0; i < indexes.size(); ++i) Assign(edit, indexes[i], values[i]);
  Commit(edit);
}

void Recordset::Update() {
  RequireOpen();
  if (!edit_) return;
  Commit(*edit_);
  edit_.reset();
}

void Recordset::Update(const std::vector<std::string>& fieldList,
                       const std::vector<vb::Variant>& values) {
  RequireOpen();
  RequireUpdatable();
  const std::vector<std::size_t> indexes = IndexesOf(fieldList, values);
  Edit edit = edit_ ? *edit_ : CurrentRowEdit();
  for (std::size_t i = 0; i < indexes.size(); ++i) Assign(edit, indexes[i], values[i]);
  Commit(edit);
  edit_.reset();
}

void Recordset::CancelUpdate() {
  RequireOpen();
  edit_.reset();
}

void Recordset::Delete(AffectEnum affect) {
  RequireOpen();
  if (affect != adAffectCurrent) throw Error(kBadArguments);
  RequireUpdatable();
  if (Adding()) {
    edit_.reset();
    return;
  }
  Row& row = CurrentRow();
  if (row.original.empty()) row.original = row.values;
  if (shared_->store) shared_->store->Delete(*shared_->fields, row);
  row.deleted = true;
  edit_.reset();
}

void Recordset::Commit(const Edit& edit) {
  Shared& shared = *shared_;
  if (edit.mode == adEditAdd) {
    // The edit keeps its row until the store succeeds; a new row has no originals (as stored,
    // the originals are the values).
    Row row{edit.row.values, {}, false};
    if (shared.store) shared.store->Insert(*shared.fields, row);
    shared.rows.push_back(std::move(row));
    cursor_ = Cursor{false, false, shared.rows.size() - 1};
    return;
  }
  Row& target = shared.rows[cursor_.index];
  if (target.deleted) throw Error(kRowNotLocated);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < edit.assigned.size(); ++i) {
    if (edit.assigned[i]) changed.push_back(i);
  }
  if (shared.store && !changed.empty()) shared.store->Update(*shared.fields, edit.row, changed);
  // Only the fields set in this edit are written, so that a clone's change to others survives.
  for (const std::size_t i : changed) {
    target.values[i] = edit.row.values[i];
    if (!target.original.empty()) target.original[i] = edit.row.values[i];
  }
}

void Recordset::UpdatePending() {
  if (edit_) Update();
}

vb::Variant Recordset::Unset() const {
  return shared_->store ? vb::Variant{} : vb::Variant{vb::Null};
}

Recordset::Edit Recordset::NewRowEdit() const {
  const std::size_t count = shared_->fields->size();
  Row row{std::vector<vb::Variant>(count, Unset()), {}, false};
  return Edit{std::move(row), std::vector<bool>(count, false), adEditAdd};
}

Recordset::Edit Recordset::CurrentRowEdit() const {
  const Row& row = CurrentRow();
  Edit edit{row, std::vector<bool>(row.values.size(), false), adEditInProgress};
  // The stored values are what the optimistic update compares with.
  if (edit.row.original.empty()) edit.row.original = row.values;
  return edit;
}

void Recordset::Assign(Edit& edit, std::size_t index, const vb::Variant& value) const {
  const FieldInfo& info = Info(index);
  if (shared_->store && !IsUpdatable(info)) {
    throw Error(kMultipleStep, kFieldSource);
  }
  edit.row.values[index] = FieldValueFor(info, value, *locale_);
  edit.assigned[index] = true;
}

// ---------------------------------------------------------------------------------------------
// Recordset: field access

void Recordset::RequireField(std::size_t index) const {
  if (index >= shared_->fields->size()) throw Error(kItemNotFound, kFieldsSource);
}

const FieldInfo& Recordset::Info(std::size_t index) const {
  RequireField(index);
  return (*shared_->fields)[index];
}

std::optional<std::size_t> Recordset::IndexOf(std::string_view name) const {
  const auto& fields = *shared_->fields;
  // Names of another length or first letter never match: no call for them.
  const auto it = std::find_if(fields.begin(), fields.end(), [&](const FieldInfo& info) {
    return info.name.size() == name.size() &&
           (name.empty() || vb::FoldAscii(info.name[0]) == vb::FoldAscii(name[0])) &&
           vb::EqualsText(info.name, name);
  });
  if (it == fields.end()) return std::nullopt;
  return static_cast<std::size_t>(it - fields.begin());
}

std::vector<std::size_t> Recordset::IndexesOf(const std::vector<std::string>& fieldList,
                                              const std::vector<vb::Variant>& values) const {
  if (fieldList.size() != values.size()) throw Error(kBadArguments);
  std::vector<std::size_t> indexes;
  indexes.reserve(fieldList.size());
  for (const std::string& name : fieldList) {
    const std::optional<std::size_t> index = IndexOf(name);
    if (!index) throw Error(kItemNotFound, kFieldsSource);
    indexes.push_back(*index);
  }
  return indexes;
}

const vb::Variant& Recordset::CheckedFieldValue(std::size_t index) const {
  RequireOpen();
  RequireField(index);
  if (edit_) return edit_->row.values[index];
  return CurrentRow().values[index];
}

void Recordset::FieldValue(std::size_t index, const vb::Variant& value) {
  RequireOpen();
  RequireUpdatable();
  RequireField(index);
  if (edit_) {
    Assign(*edit_, index, value);
    return;
  }
  Edit edit = CurrentRowEdit();
  Assign(edit, index, value);
  edit_ = std::move(edit);
}

vb::Variant Recordset::FieldOriginalValue(std::size_t index) const {
  RequireOpen();
  RequireField(index);
  // A row being added has no originals: each reads as a field not yet set.
  if (Adding()) return Unset();
  const Row& row = CurrentRow();
  return row.original.empty() ? row.values[index] : row.original[index];
}

// ---------------------------------------------------------------------------------------------
// Recordset: streamed rows

bool Recordset::Streaming() const { return shared_->streaming; }

void Recordset::RestartStream() {
  Shared& shared = *shared_;
  std::unique_ptr<RowSource> source = shared.query();
  std::vector<vb::Variant> values;
  const bool any = source->Next(values);
  shared.rows.clear();
  shared.base = 0;
  if (any) {
    shared.rows.push_back(Row{std::move(values), {}, false});
    shared.source = std::move(source);
    cursor_ = Cursor{false, false, 0};
  } else {
    shared.source.reset();
    cursor_ = Cursor{};
  }
}

void Recordset::StreamNext() {
  Shared& shared = *shared_;
  if (shared.source && shared.source->Next(shared.next)) {
    shared.rows.front().values.swap(shared.next);
    ++shared.base;
    cursor_ = Cursor{false, false, shared.base};
    return;
  }
  // Past the last row: the run is over, and going back means running the query again.
  shared.source.reset();
  shared.rows.clear();
  ++shared.base;
  cursor_ = Cursor{false, true, 0};
}

void Recordset::Materialize() const {
  Shared& shared = *shared_;
  if (!shared.streaming) return;
  std::vector<Row> rows;
  std::unique_ptr<RowSource> source;
  if (shared.base > 0) {
    source = shared.query();
  } else {
    rows = std::move(shared.rows);
    source = std::move(shared.source);
  }
  std::vector<vb::Variant> values;
  while (source && source->Next(values)) rows.push_back(Row{std::move(values), {}, false});
  shared.rows = std::move(rows);
  shared.base = 0;
  shared.source.reset();
  shared.streaming = false;
}

// ---------------------------------------------------------------------------------------------
// Recordset: cursor

void Recordset::MoveFirst() {
  RequireOpen();
  UpdatePending();
  if (Streaming()) {
    // On the first row already (or no rows at all), nothing is read again.
    if (shared_->base > 0) RestartStream();
    if (!shared_->rows.empty()) cursor_ = Cursor{false, false, 0};
    return;
  }
  cursor_ = FirstCursor(adSearchForward);
}

void Recordset::MoveLast() {
  RequireOpen();
  UpdatePending();
  Materialize();
  cursor_ = FirstCursor(adSearchBackward);
}

void Recordset::MoveNext() {
  RequireOpen();
  UpdatePending();
  if (cursor_.eof) throw Error(kNoCurrentRecord);
  if (Streaming()) return StreamNext();
  const auto from = cursor_.bof ? std::nullopt : std::optional(cursor_.index);
  cursor_ = CursorAt(NextLive(from, adSearchForward), adSearchForward);
}

void Recordset::MovePrevious() {
  RequireOpen();
  UpdatePending();
  if (cursor_.bof) throw Error(kNoCurrentRecord);
  Materialize();
  const auto from = cursor_.eof ? std::nullopt : std::optional(cursor_.index);
  cursor_ = CursorAt(NextLive(from, adSearchBackward), adSearchBackward);
}

bool Recordset::IsEOF() const {
  RequireOpen();
  return !Adding() && cursor_.eof;
}

bool Recordset::IsBOF() const {
  RequireOpen();
  return !Adding() && cursor_.bof;
}

int32_t Recordset::RecordCount() const {
  RequireOpen();
  Materialize();
  const auto& rows = shared_->rows;
  const auto live =
      std::count_if(rows.begin(), rows.end(), [](const Row& r) { return !r.deleted; });
  return static_cast<int32_t>(live) + (Adding() ? 1 : 0);
}

EditModeEnum Recordset::EditMode() const {
  RequireOpen();
  if (edit_) return edit_->mode;
  // Without a row under the cursor (an empty record set, BOF or EOF) there is no mode to tell.
  if (cursor_.bof || cursor_.eof) throw Error(kNoCurrentRecord);
  return adEditNone;
}

std::optional<std::size_t> Recordset::NextLive(std::optional<std::size_t> from,
                                               SearchDirectionEnum direction) const {
  const auto& rows = shared_->rows;
  if (direction == adSearchForward) {
    for (std::size_t i = from ? *from + 1 : 0; i < rows.size(); ++i) {
      if (!rows[i].deleted) return i;
    }
    return std::nullopt;
  }
  for (std::size_t i = from ? *from : rows.size(); i-- > 0;) {
    if (!rows[i].deleted) return i;
  }
  return std::nullopt;
}

Recordset::Cursor Recordset::CursorAt(std::optional<std::size_t> at,
                                      SearchDirectionEnum direction) const {
  if (at) return Cursor{false, false, *at};
  // Past the end; on a record set without rows both ends are reached at once.
  const bool forward = direction == adSearchForward;
  const bool empty = !NextLive(std::nullopt, adSearchForward);
  return Cursor{!forward || empty, forward || empty, 0};
}

Recordset::Cursor Recordset::FirstCursor(SearchDirectionEnum direction) const {
  return CursorAt(NextLive(std::nullopt, direction), direction);
}

void Recordset::Find(std::string_view criteria, int32_t skipRecords, SearchDirectionEnum direction,
                     BookmarkEnum start) {
  RequireOpen();
  Materialize();
  const Criterion criterion = Criterion::Parse(criteria, *locale_);
  const std::optional<std::size_t> field = IndexOf(criterion.FieldName());
  if (!field) throw Error(kItemNotFound);
  const bool knownStart =
      start == adBookmarkCurrent || start == adBookmarkFirst || start == adBookmarkLast;
  if (skipRecords < 0 || !knownStart ||
      (direction != adSearchForward && direction != adSearchBackward)) {
    throw Error(kBadArguments);
  }
  if (start == adBookmarkCurrent && !Adding() && (cursor_.bof || cursor_.eof)) {
    throw Error(kNoCurrentRecord);
  }
  UpdatePending();

  std::optional<std::size_t> at = cursor_.index;
  if (start != adBookmarkCurrent) {
    at = NextLive(std::nullopt, start == adBookmarkFirst ? adSearchForward : adSearchBackward);
  }
  for (int32_t i = 0; i < skipRecords && at; ++i) at = NextLive(at, direction);
  const auto& rows = shared_->rows;
  if (at && (rows[*at].deleted || !criterion.Matches(rows[*at].values[*field]))) {
    do {
      at = NextLive(at, direction);
    } while (at && !criterion.Matches(rows[*at].values[*field]));
  }
  cursor_ = CursorAt(at, direction);
}

// ---------------------------------------------------------------------------------------------
// Recordset: clones, options, checks

RecordsetPtr Recordset::Clone(LockTypeEnum lockType) {
  RequireOpen();
  if (lockType != adLockUnspecified && lockType != adLockReadOnly) throw Error(kBadArguments);
  Materialize();
  RecordsetPtr clone = Create();
  clone->shared_ = shared_;
  clone->open_ = true;
  clone->cursorType_ = cursorType_;
  clone->cursorLocation_ = cursorLocation_;
  clone->lockType_ = lockType == adLockUnspecified ? lockType_ : adLockReadOnly;
  clone->locale_ = locale_;
  clone->cursor_ = clone->FirstCursor(adSearchForward);
  return clone;
}

CursorTypeEnum Recordset::CursorType() const { return cursorType_; }
CursorLocationEnum Recordset::CursorLocation() const { return cursorLocation_; }
LockTypeEnum Recordset::LockType() const { return lockType_; }
void Recordset::SetLocale(const vb::Locale& locale) { locale_ = &locale; }

void Recordset::RequireOpen() const {
  if (!open_) throw Error(kObjectClosed);
}

void Recordset::RequireUpdatable() const {
  if (lockType_ == adLockReadOnly) throw Error(kReadOnly);
}

bool Recordset::Adding() const { return edit_ && edit_->mode == adEditAdd; }

Row& Recordset::CurrentRow() const {
  if (cursor_.bof || cursor_.eof) throw Error(kNoCurrentRecord);
  Row& row = shared_->rows[cursor_.index - shared_->base];
  if (row.deleted) throw Error(kNoCurrentRecord);
  return row;
}

}  // namespace ado
