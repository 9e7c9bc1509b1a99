#pragma once
// The data server: owns the connection to an action database and hands out the objects that
// work on it (settings, the current user's profile, history, saved queries, workgroups,
// attachments).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Recordset.h"
#include "kvdata/schema/Schema.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvdata {

class AttachmentFiles;
class AttachmentStore;
class DataConnection;
class EventLog;
class QueryStore;
class SettingsStore;
class UserProfile;
class WorkgroupDirectory;
struct ServerState;

/// The database a data server opens when neither the connection string nor the profile names
/// one: the SQLite file actions.kvdb in the current folder.
inline constexpr std::string_view kDefaultConnectionString =
    "Provider=SQLite;Data Source=actions.kvdb";

class DataServer {
 public:
  /// A data server with no open database, the system clock and en-US.
  DataServer();
  ~DataServer();
  DataServer(const DataServer&) = delete;
  DataServer& operator=(const DataServer&) = delete;

  /// Creates an empty action database (see schema::CreateActionDatabase) where the connection
  /// string points: a new SQLite file, or an empty PostgreSQL database. Raises kDatabaseExists
  /// over an existing action database and changes nothing then.
  static void CreateDatabase(std::string_view connectionString, const schema::FirstUser& user,
                             std::shared_ptr<const vb::Clock> clock = vb::SystemClock::Instance());

  /// Opens a database, closing any opened before. An empty connection string takes the database
  /// of the profile given, else kDefaultConnectionString. A profile given becomes Profile;
  /// without one, Profile is a new anonymous profile, also handed back through profile when
  /// that points to nothing. Open failures are the connection's errors.
  void OpenDatabase(std::string_view cConnectionString = {},
                    std::shared_ptr<UserProfile>* profile = nullptr);
  /// Works on the database other has open, through other's connection (one session for both;
  /// its clock and locale are other's), closing any opened before. The profile rules are
  /// OpenDatabase's. Raises kNotOpen when other has none open.
  void ShareDatabase(const DataServer& other, std::shared_ptr<UserProfile>* profile = nullptr);
  /// Raises kMissingTable naming the first of tables that the database lacks.
  void VerifyTables(const std::vector<std::string>& tables) const;
  /// What profile points to becomes Profile (nothing when it points to nothing).
  void SetProfile(std::shared_ptr<UserProfile>* profile);
  /// Releases the connection and the objects handed out for it (unsaved settings are dropped).
  void CloseDatabase();

  /// The objects working on the open database; each raises kNotOpen while none is open.
  [[nodiscard]] std::shared_ptr<SettingsStore> Settings() const;
  /// The current user's profile, or nothing before a database is opened.
  [[nodiscard]] std::shared_ptr<UserProfile> Profile() const;
  [[nodiscard]] std::shared_ptr<DataConnection> Connection() const;
  [[nodiscard]] std::shared_ptr<EventLog> Events() const;
  [[nodiscard]] std::shared_ptr<QueryStore> Queries() const;
  [[nodiscard]] std::shared_ptr<WorkgroupDirectory> Workgroups() const;
  [[nodiscard]] std::shared_ptr<AttachmentStore> Attachments() const;
  /// A new, open, empty in-memory record set with the fields FieldName and FieldLabel.
  [[nodiscard]] ado::RecordsetPtr NewFieldList() const;

  /// Where today and now come from, and the short date form; passed on to the connection.
  void SetClock(std::shared_ptr<const vb::Clock> clock);
  void SetLocale(const vb::Locale& locale);
  /// The file system under the attachment store (tests replace it to inject failures).
  void SetAttachmentFiles(std::shared_ptr<AttachmentFiles> files);

 private:
  // Makes connection the open database, with OpenDatabase's profile rules.
  void Use(std::shared_ptr<DataConnection> connection, std::shared_ptr<UserProfile>* profile);
  template <class T>
  [[nodiscard]] std::shared_ptr<T> Handed(const std::shared_ptr<T>& object) const;

  std::shared_ptr<ServerState> state_;
  std::shared_ptr<const vb::Clock> clock_;
  vb::Locale locale_;
  std::shared_ptr<AttachmentFiles> files_;
  std::shared_ptr<SettingsStore> settings_;
  std::shared_ptr<EventLog> events_;
  std::shared_ptr<QueryStore> queries_;
  std::shared_ptr<WorkgroupDirectory> workgroups_;
  std::shared_ptr<AttachmentStore> attachments_;
};

}  // namespace kvdata
