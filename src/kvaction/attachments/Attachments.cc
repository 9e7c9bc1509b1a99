// Attachments: the library reads the attachment settings, decides whether an operation may go
// ahead, and hands the work to the data server's attachment store, always tying attachments to
// their action by "ActionID".
#include <memory>
#include <string>

#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvdata/AttachmentStore.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

constexpr std::string_view kKeyColumn = "ActionID";
constexpr std::string_view kPathKey = "AttachmentPath";
constexpr std::string_view kURLKey = "AttachmentURL";
constexpr std::string_view kModeKey = "AttachmentMode";

kvdata::SettingsStore& Settings(const DataServerPtr& server) {
  return *vb::Require(vb::Require(server)->Settings());
}

std::shared_ptr<kvdata::AttachmentStore> Store(const DataServerPtr& server) {
  return vb::Require(vb::Require(server)->Attachments());
}

// A setting read as a string: empty when it was never set. A value that is no text (a Null)
// fails the read, and the failure reaches the caller.
std::string SettingText(const DataServerPtr& server, std::string_view key,
                        const vb::Locale& locale) {
  return vb::CStr(Settings(server).Value(key), locale);
}

// The path as uploads and retrievals read it: their read is trapped, so a path that cannot be
// read (one stored as Null, a failing settings store) stays empty and meets the "no attachment
// path" refusal.
std::string TrappedPath(const DataServerPtr& server, const vb::Locale& locale) {
  std::string path;
  vb::ErrorTrap trap;
  trap.Assign(path, [&] { return SettingText(server, kPathKey, locale); });
  return path;
}

// The base address attachment lists link through: "AttachmentURL" in mode 0, else none. A setting
// that cannot be read gives no address rather than a failed list.
std::string ListURL(const DataServerPtr& server, const vb::Locale& locale) {
  std::string url;
  vb::ErrorTrap trap;
  trap.Run([&] {
    if (vb::CInt(Settings(server).Value(kModeKey), locale) == 0) {
      url = SettingText(server, kURLKey, locale);
    }
  });
  return url;
}

// Seeds a setting that was never made; a stored value is never overwritten or cleared.
void SeedSetting(const DataServerPtr& server, std::string_view key, std::string_view value,
                 const vb::Locale& locale) {
  if (!value.empty() && SettingText(server, key, locale).empty()) {
    Settings(server).Value(key, vb::Variant(value));
  }
}

[[noreturn]] void RefuseWithoutPath(std::string_view source, std::string_view doing) {
  throw vb::ComError(kRefused, std::string(source),
                     "Unable to " + std::string(doing) +
                         " attachment.  No attachment path specified.  Please contact your "
                         "system administrator to specify a path for uploaded attachments.");
}

}  // namespace

int32_t Action::addAttachment(int32_t nActionID, std::string_view cDescription,
                              std::string_view cURL, int16_t nAttachmentType,
                              std::string_view cEncodeType, std::string* cData) {
  if (nActionID == 0) return 0;
  const std::string path = TrappedPath(state_->dataServer, state_->locale);
  // Uploaded content needs somewhere to go; a link needs no path.
  if (path.empty() && nAttachmentType >= 1) {
    RefuseWithoutPath("Action.AddAttachment", "upload");
  }
  int16_t flag = 0;
  return Store(state_->dataServer)
      ->StoreAttachment(path, kKeyColumn, nActionID, cDescription, cURL, nAttachmentType,
                        cEncodeType, cData, &flag);
}

RecordsetPtr Action::AttachmentRecordset(int32_t nActionID, int32_t nAttachmentID) {
  if (nAttachmentID >= 1) return Store(state_->dataServer)->AttachmentByID(nAttachmentID);
  if (nActionID <= 0) return nullptr;
  const std::string path = SettingText(state_->dataServer, kPathKey, state_->locale);
  const std::string url = ListURL(state_->dataServer, state_->locale);
  return Store(state_->dataServer)
      ->AttachmentList(kKeyColumn, nActionID, path, url, ado::adOpenKeyset, ado::adUseServer,
                       ado::adLockOptimistic);
}

void Action::DeleteAttachment(int32_t nAttachmentID) {
  const std::string path = SettingText(state_->dataServer, kPathKey, state_->locale);
  Store(state_->dataServer)->RemoveAttachment(kKeyColumn, path, nAttachmentID);
}

bool Action::getAttachment(int32_t nAttachmentID, std::string& cEncodeType, std::string& cData) {
  const std::string path = TrappedPath(state_->dataServer, state_->locale);
  if (path.empty()) RefuseWithoutPath("Action.getAttachment", "retrieve");
  return Store(state_->dataServer)
      ->ReadAttachment(kKeyColumn, nAttachmentID, path, &cEncodeType, &cData);
}

void Action::DefaultAttachmentURL(std::string_view value) {
  SeedSetting(state_->dataServer, kURLKey, value, state_->locale);
}

void Action::DefaultAttachmentPath(std::string_view value) {
  SeedSetting(state_->dataServer, kPathKey, value, state_->locale);
}

}  // namespace kvaction
