#include "kvdata/DataServer.h"

#include <fmt/format.h>

#include "kvdata/AttachmentFiles.h"
#include "kvdata/AttachmentStore.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/EventLog.h"
#include "kvdata/QueryStore.h"
#include "kvdata/ServerState.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvdata {
namespace {

// The setting that names the folder of uploaded attachment content.
constexpr std::string_view kAttachmentPathKey = "AttachmentPath";

}  // namespace

DataServer::DataServer()
    : state_(std::make_shared<ServerState>()),
      clock_(vb::SystemClock::Instance()),
      locale_(vb::Locale::EnUS()),
      files_(AttachmentFiles::Local()) {}

DataServer::~DataServer() = default;

void DataServer::CreateDatabase(std::string_view connectionString, const schema::FirstUser& user,
                                std::shared_ptr<const vb::Clock> clock) {
  const auto connection = DataConnection::Open(connectionString, /*create=*/true);
  connection->SetClock(std::move(clock));
  schema::CreateActionDatabase(*connection, user);
}

void DataServer::OpenDatabase(std::string_view cConnectionString,
                              std::shared_ptr<UserProfile>* profile) {
  const bool hasProfile = profile && *profile;
  std::string target(cConnectionString);
  if (target.empty()) {
    target = hasProfile ? (*profile)->ConnectionString() : std::string(kDefaultConnectionString);
  }
  auto connection = DataConnection::Open(target);
  connection->SetClock(clock_);
  connection->SetLocale(locale_);
  Use(std::move(connection), profile);
  // What writes cut short by a crash left among the attachment files is settled before anyone
  // works with them. A database without the settings (not an action database), an unusable
  // folder or a write under way leaves that to a later open; the open itself has succeeded.
  vb::ErrorTrap recovery;
  recovery.Run(
      [&] { (void)attachments_->Recover(vb::TextOf(settings_->Value(kAttachmentPathKey))); });
}

void DataServer::ShareDatabase(const DataServer& other, std::shared_ptr<UserProfile>* profile) {
  Use(other.Connection(), profile);
}

void DataServer::Use(std::shared_ptr<DataConnection> connection,
                     std::shared_ptr<UserProfile>* profile) {
  const bool hasProfile = profile && *profile;
  CloseDatabase();
  state_->connection = std::move(connection);
  state_->profile = hasProfile ? *profile : UserProfile::Anonymous(state_->connection);
  if (profile && !*profile) *profile = state_->profile;
  settings_ = std::make_shared<SettingsStore>(state_);
  events_ = std::make_shared<EventLog>(state_);
  queries_ = std::make_shared<QueryStore>(state_);
  workgroups_ = std::make_shared<WorkgroupDirectory>(state_);
  attachments_ = std::make_shared<AttachmentStore>(state_, files_);
}

void DataServer::VerifyTables(const std::vector<std::string>& tables) const {
  auto& engine = state_->Open(kServerSource).Engine();
  for (const auto& table : tables) {
    if (!engine.TableExists(table)) {
      throw vb::ComError(kMissingTable, std::string(kServerSource),
                         fmt::format("The database has no table \"{}\".", table));
    }
  }
}

void DataServer::SetProfile(std::shared_ptr<UserProfile>* profile) {
  state_->profile = profile ? *profile : nullptr;
}

void DataServer::CloseDatabase() {
  state_->connection.reset();
  settings_.reset();
  events_.reset();
  queries_.reset();
  workgroups_.reset();
  attachments_.reset();
}

template <class T>
std::shared_ptr<T> DataServer::Handed(const std::shared_ptr<T>& object) const {
  (void)state_->Open(kServerSource);
  return object;
}

std::shared_ptr<SettingsStore> DataServer::Settings() const { return Handed(settings_); }
std::shared_ptr<UserProfile> DataServer::Profile() const { return state_->profile; }
std::shared_ptr<DataConnection> DataServer::Connection() const {
  return Handed(state_->connection);
}
std::shared_ptr<EventLog> DataServer::Events() const { return Handed(events_); }
std::shared_ptr<QueryStore> DataServer::Queries() const { return Handed(queries_); }
std::shared_ptr<WorkgroupDirectory> DataServer::Workgroups() const { return Handed(workgroups_); }
std::shared_ptr<AttachmentStore> DataServer::Attachments() const { return Handed(attachments_); }

ado::RecordsetPtr DataServer::NewFieldList() const {
  auto list = ado::Recordset::Create();
  list->Fields().Append("FieldName", ado::adVarWChar, 255);
  list->Fields().Append("FieldLabel", ado::adVarWChar, 255);
  list->Open(ado::adOpenKeyset, ado::adLockOptimistic);
  return list;
}

void DataServer::SetClock(std::shared_ptr<const vb::Clock> clock) {
  clock_ = std::move(clock);
  if (state_->connection) state_->connection->SetClock(clock_);
}

void DataServer::SetLocale(const vb::Locale& locale) {
  locale_ = locale;
  if (state_->connection) state_->connection->SetLocale(locale_);
}

void DataServer::SetAttachmentFiles(std::shared_ptr<AttachmentFiles> files) {
  files_ = std::move(files);
  if (state_->connection) attachments_ = std::make_shared<AttachmentStore>(state_, files_);
}

}  // namespace kvdata
