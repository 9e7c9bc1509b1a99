#include <array>
#include <optional>
#include <set>
#include <vector>

#include "kvdata/AttachmentStore.h"

#include <fmt/format.h>
#include <sodium.h>

#include "kvdata/AttachmentFiles.h"
#include "kvdata/Base64.h"
#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/ServerState.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvdata {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Refuse(std::string description) {
  throw vb::ComError(kAttachmentError, std::string(kAttachmentSource), std::move(description));
}

void CheckKeyColumn(std::string_view keyColumn) {
  if (!vb::EqualsText(keyColumn, "ActionID")) {
    throw vb::ComError(
        kBadArgument, std::string(kAttachmentSource),
        fmt::format("Attachments belong to actions by \"ActionID\", not by \"{}\".", keyColumn));
  }
}

bool IsBase64(std::string_view encoding) { return vb::EqualsText(encoding, kBase64Encoding); }

void CheckEncoding(std::string_view encoding) {
  if (!encoding.empty() && !IsBase64(encoding) && !vb::EqualsText(encoding, kTextEncoding)) {
    Refuse(fmt::format("The attachment encoding \"{}\" is not known: use \"base64\" or \"text\".",
                       encoding));
  }
}

std::string Decode(std::string_view encoding, std::string_view data) {
  if (!IsBase64(encoding)) return std::string(data);
  auto bytes = FromBase64(data);
  if (!bytes) Refuse("The attachment content is not valid base64.");
  return std::move(*bytes);
}

std::string Encode(std::string_view encoding, const std::string& bytes) {
  return IsBase64(encoding) ? ToBase64(bytes) : bytes;
}

// A fresh name that no client chooses: 128 random bits, in hexadecimal between these.
constexpr std::string_view kNamePrefix = "att-";
constexpr std::string_view kNameSuffix = ".dat";

std::string NewStoredName() {
  if (sodium_init() < 0) Refuse("No random source is available for attachment names.");
  unsigned char random[16];
  randombytes_buf(random, sizeof random);
  char hex[sizeof random * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, random, sizeof random);
  return fmt::format("{}{}{}", kNamePrefix, hex, kNameSuffix);
}

// The file of a stored name under the attachment folder; a name that could reach outside the
// folder (a separator, "..", an absolute path) is refused.
fs::path FileIn(const fs::path& folder, std::string_view name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    Refuse(fmt::format("The attachment name \"{}\" would leave the attachment folder.", name));
  }
  return folder / fs::path(name);
}

// The markers of a stored name whose row's fate is open: a store writes the content under the
// first until its row is committed, a removal sets the file aside under the second until its
// row's removal is.
constexpr std::string_view kStoring = ".tmp";
constexpr std::string_view kRemoving = ".del";

fs::path Marker(const fs::path& folder, std::string_view name, std::string_view marker) {
  return FileIn(folder, std::string(name) + std::string(marker));
}

// The stored name a marker's file name stands for, or nothing for another file (what else
// lies in the folder is not the store's to settle).
std::optional<std::string> MarkedName(std::string_view file) {
  for (const auto marker : {kStoring, kRemoving}) {
    if (!file.ends_with(marker)) continue;
    const auto name = file.substr(0, file.size() - marker.size());
    if (name.starts_with(kNamePrefix) && name.ends_with(kNameSuffix) &&
        name.size() == kNamePrefix.size() + 32 + kNameSuffix.size()) {
      return std::string(name);
    }
  }
  return std::nullopt;
}

// The stored names that carry a marker among the files of folder (each name once).
std::set<std::string> MarkedNames(AttachmentFiles& files, const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& file : files.Names(folder)) {
    if (auto name = MarkedName(file)) names.insert(std::move(*name));
  }
  return names;
}

// On PostgreSQL the commit of a writer that dies may still be with the server, which carries it
// out after the writer is gone, when the folder hold has gone with it. So each store and removal
// also holds this advisory lock shared until its transaction ends, and the settling waits for it
// alone (a while at most: a caller's transaction may hold it) before it reads any row.
constexpr std::string_view kWritingLock = "SELECT pg_advisory_xact_lock_shared(1635021921)";
constexpr std::string_view kSettlingWait = "SET LOCAL lock_timeout = '5s'";
constexpr std::string_view kSettlingLock = "SELECT pg_advisory_xact_lock(1635021921)";

bool CommitsOutliveTheirClient(DataConnection& connection) {
  return connection.Engine().Target() == sql::Target::PostgreSQL;
}

// Inside the writer's transaction, before its first file step that a row depends on.
void HoldWriting(DataConnection& connection) {
  if (CommitsOutliveTheirClient(connection)) connection.Engine().ExecuteUnread(kWritingLock);
}

fs::path Folder(AttachmentFiles& files, std::string_view path) {
  if (path.empty()) Refuse("No attachment path is set up for uploaded attachments.");
  if (!files.IsFolder(fs::path(path))) {
    Refuse(fmt::format("The attachment path {} is not a folder.", path));
  }
  return fs::path(path);
}

struct StoredRow {
  ado::RecordsetPtr rs;
  [[nodiscard]] std::string Text(std::string_view field) const {
    return vb::TextOf(rs->Fields().Item(field).Value());
  }
  [[nodiscard]] bool HasContent() const {
    return !rs->Fields().Item("StoredName").Value().IsNull();
  }
};

StoredRow RowByID(DataConnection& connection, int32_t id, int32_t lockType) {
  return {connection.OpenRecordset(
      fmt::format("select * from ActionAttachments where AttachmentID={}", id), ado::adOpenKeyset,
      ado::adUseServer, lockType)};
}

std::string Link(const StoredRow& row, std::string_view path, std::string_view url) {
  if (!row.HasContent()) return row.Text("URL");
  const auto name = row.Text("StoredName");
  if (!url.empty()) return fmt::format("{}/{}", url, name);
  return path.empty() ? std::string() : (fs::path(path) / name).string();
}

ado::RecordsetPtr NewList(int32_t cursorType, int32_t lockType) {
  auto list = ado::Recordset::Create();
  auto fields = list->Fields();
  fields.Append("AttachmentID", ado::adInteger);
  fields.Append("ActionID", ado::adInteger);
  fields.Append("Description", ado::adVarWChar, 255);
  fields.Append("URL", ado::adVarWChar, 2000);
  fields.Append("AttachmentType", ado::adSmallInt);
  fields.Append("EncodeType", ado::adVarWChar, 20);
  fields.Append("Created", ado::adDate);
  fields.Append("Link", ado::adVarWChar, 2000);
  list->Open(static_cast<ado::CursorTypeEnum>(cursorType),
             static_cast<ado::LockTypeEnum>(lockType));
  return list;
}

}  // namespace

AttachmentStore::AttachmentStore(std::shared_ptr<const ServerState> state,
                                 std::shared_ptr<AttachmentFiles> files)
    : state_(std::move(state)), files_(std::move(files)) {}

ado::RecordsetPtr AttachmentStore::AttachmentList(std::string_view cKeyColumn, int32_t nActionID,
                                                  std::string_view cPath, std::string_view cURL,
                                                  int32_t cursorType, int32_t /*cursorLocation*/,
                                                  int32_t lockType) const {
  CheckKeyColumn(cKeyColumn);
  const StoredRow row{state_->Open(kAttachmentSource)
                          .OpenRecordset(fmt::format("select * from ActionAttachments where "
                                                     "ActionID={} order by AttachmentID",
                                                     nActionID),
                                         ado::adOpenForwardOnly, ado::adUseServer,
                                         ado::adLockReadOnly)};
  auto list = NewList(cursorType, lockType);
  constexpr std::array kCopied = {"AttachmentID",   "ActionID",   "Description", "URL",
                                  "AttachmentType", "EncodeType", "Created"};
  for (; !row.rs->IsEOF(); row.rs->MoveNext()) {
    std::vector<std::string> names(kCopied.begin(), kCopied.end());
    std::vector<vb::Variant> values;
    values.reserve(kCopied.size() + 1);
    for (const auto* name : kCopied) values.push_back(row.rs->Fields().Item(name).Value());
    names.emplace_back("Link");
    values.emplace_back(Link(row, cPath, cURL));
    list->AddNew(names, values);
  }
  if (list->RecordCount() > 0) list->MoveFirst();
  return list;
}

ado::RecordsetPtr AttachmentStore::AttachmentByID(int32_t nAttachmentID) const {
  return RowByID(state_->Open(kAttachmentSource), nAttachmentID, ado::adLockReadOnly).rs;
}

int32_t AttachmentStore::StoreAttachment(std::string_view cPath, std::string_view cKeyColumn,
                                         int32_t nActionID, std::string_view cDescription,
                                         std::string_view cURL, int16_t nAttachmentType,
                                         std::string_view cEncodeType, const std::string* cData,
                                         int16_t* /*flag*/) {
  CheckKeyColumn(cKeyColumn);
  CheckEncoding(cEncodeType);
  auto& connection = state_->Open(kAttachmentSource);
  const bool content = nAttachmentType >= 1;
  std::vector<std::string> fields{"ActionID",       "Description", "URL",
                                  "AttachmentType", "EncodeType",  "Created"};
  std::vector<vb::Variant> values{nActionID,       cDescription, cURL,
                                  nAttachmentType, cEncodeType,  connection.Clock().Now()};
  const auto rs = connection.OpenRecordset("select * from ActionAttachments where AttachmentID=0");
  if (!content) {
    rs->AddNew(fields, values);
    return vb::CLng(rs->Fields().Item("AttachmentID").Value());
  }
  const auto folder = Folder(*files_, cPath);
  const auto bytes = Decode(cEncodeType, cData ? std::string_view(*cData) : std::string_view());
  const auto name = NewStoredName();
  const auto final = FileIn(folder, name);
  const auto marker = Marker(folder, name, kStoring);
  const auto hold = files_->HoldFolder(folder, /*exclusive=*/false);
  // Inside a caller's transaction the commit below decides nothing: the marker stays for the
  // next open to settle by what became of the row.
  const bool decided = !connection.InTransaction();
  files_->Write(marker, bytes);
  bool linked = false;
  try {
    DataConnection::Transaction transaction(connection);
    HoldWriting(connection);
    fields.emplace_back("StoredName");
    values.emplace_back(name);
    rs->AddNew(fields, values);
    const auto id = vb::CLng(rs->Fields().Item("AttachmentID").Value());
    files_->Link(marker, final);
    linked = true;
    transaction.Commit();
    // The row is committed: the marker has done its work. One left behind is Recover's.
    vb::ErrorTrap cleanup;
    if (decided) cleanup.Run([&] { files_->Remove(marker); });
    return id;
  } catch (...) {
    // The row was not stored: the file goes, its marker last, so that a failure here leaves
    // what Recover removes.
    vb::ErrorTrap cleanup;
    if (!linked || cleanup.Run([&] { files_->Remove(final); })) {
      cleanup.Run([&] { files_->Remove(marker); });
    }
    throw;
  }
}

void AttachmentStore::RemoveAttachment(std::string_view cKeyColumn, std::string_view cPath,
                                       int32_t nAttachmentID) {
  CheckKeyColumn(cKeyColumn);
  auto& connection = state_->Open(kAttachmentSource);
  // A link has no file: its row goes without the folder (which may not be set up).
  std::unique_ptr<AttachmentFiles::Hold> hold;
  if (!cPath.empty() && files_->IsFolder(fs::path(cPath))) {
    hold = files_->HoldFolder(fs::path(cPath), /*exclusive=*/false);
  }
  const bool decided = !connection.InTransaction();  // as in StoreAttachment
  DataConnection::Transaction transaction(connection);
  HoldWriting(connection);
  const auto row = RowByID(connection, nAttachmentID, ado::adLockOptimistic);
  if (row.rs->IsEOF()) Refuse(fmt::format("There is no attachment {}.", nAttachmentID));
  if (!row.HasContent()) {
    row.rs->Delete();
    transaction.Commit();
    return;
  }
  const auto name = row.Text("StoredName");
  const auto folder = Folder(*files_, cPath);
  const auto file = FileIn(folder, name);
  const auto removed = Marker(folder, name, kRemoving);
  // A file already gone (or set aside by a removal a crash cut short) leaves only the row to
  // remove: a row whose content cannot be read must still be removable.
  const bool present = files_->Exists(file);
  if (present) files_->Rename(file, removed);
  try {
    row.rs->Delete();
    transaction.Commit();
  } catch (...) {
    vb::ErrorTrap restore;
    if (present) restore.Run([&] { files_->Rename(removed, file); });
    throw;
  }
  // The row is gone; a file left behind here is Recover's.
  vb::ErrorTrap cleanup;
  cleanup.Run([&] {
    if (decided && files_->Exists(removed)) files_->Remove(removed);
  });
}

bool AttachmentStore::ReadAttachment(std::string_view cKeyColumn, int32_t nAttachmentID,
                                     std::string_view cPath, std::string* cEncodeType,
                                     std::string* cData) const {
  CheckKeyColumn(cKeyColumn);
  const auto row = RowByID(state_->Open(kAttachmentSource), nAttachmentID, ado::adLockReadOnly);
  if (row.rs->IsEOF() || !row.HasContent()) return false;
  const auto encoding = row.Text("EncodeType");
  const auto folder = Folder(*files_, cPath);
  const auto name = row.Text("StoredName");
  auto file = FileIn(folder, name);
  // A removal cut short by a crash may have set the file aside without removing its row: the
  // attachment still exists, so its content is read where the removal left it.
  if (!files_->Exists(file) && files_->Exists(Marker(folder, name, kRemoving)))
    file = Marker(folder, name, kRemoving);
  auto data = Encode(encoding, files_->Read(file));
  if (cEncodeType) *cEncodeType = encoding;
  if (cData) *cData = std::move(data);
  return true;
}

bool AttachmentStore::Recover(std::string_view cPath) {
  if (cPath.empty() || !files_->IsFolder(fs::path(cPath))) return true;
  const fs::path folder(cPath);
  if (MarkedNames(*files_, folder).empty()) return true;
  const auto hold = files_->HoldFolder(folder, /*exclusive=*/true);
  if (!hold) return false;
  auto& connection = state_->Open(kAttachmentSource);
  // Alone with the rows as well: a write transaction (on SQLite it waits for the one writer),
  // so that no row a marker stands for is still being decided.
  DataConnection::Transaction alone(connection);
  if (CommitsOutliveTheirClient(connection)) {
    (void)connection.Engine().Execute(kSettlingWait);
    (void)connection.Engine().Execute(kSettlingLock);
  }
  // Listed again under the hold: writes that were under way before it may have finished.
  for (const auto& name : MarkedNames(*files_, folder)) {
    const auto file = FileIn(folder, name);
    const bool hasRow = !connection
                             .OpenRecordset(
                                 "select AttachmentID from ActionAttachments where "
                                 "StoredName = " +
                                     DataUtility::SqlText(name),
                                 ado::adOpenForwardOnly, ado::adUseServer, ado::adLockReadOnly)
                             ->IsEOF();
    // Either marker holds the whole content (written in full before any row named it): a
    // committed row whose file is not in place yet gets it back from the marker.
    for (const auto marker : {kStoring, kRemoving}) {
      const auto marked = Marker(folder, name, marker);
      if (!files_->Exists(marked)) continue;
      if (hasRow && !files_->Exists(file)) files_->Link(marked, file);
      if (!hasRow && files_->Exists(file)) files_->Remove(file);
      files_->Remove(marked);
    }
  }
  alone.Commit();
  return true;
}

}  // namespace kvdata
