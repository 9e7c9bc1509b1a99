#pragma once
// kvAction: the business rules of an action-item tracking database. `Action` is the library's one
// public class: open a database, log a user in, then create, edit, complete, close, copy and delete
// actions, list them through saved queries, count alerts, build notification e-mails, answer
// rights questions, and manage attachments and users. Every failure is a vb::ComError.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "kvaction/Enums.h"
#include "vb/Clock.h"
#include "vb/Collection.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace kvdata {
class DataServer;
class UserProfile;
}  // namespace kvdata
namespace kvuser {
class User;
}  // namespace kvuser

namespace kvaction {

using DataServerPtr = std::shared_ptr<kvdata::DataServer>;
using UserPtr = std::shared_ptr<kvuser::User>;
using UserProfilePtr = std::shared_ptr<kvdata::UserProfile>;
using ado::RecordsetPtr;

/// One client's work with one action database. Not thread-safe: one caller at a time.
/// Object references are shared_ptr (nothing = nullptr); an in/out argument is a pointer to the
/// caller's reference (nullptr = omitted), which the operation may replace.
class Action {
 public:
  Action();
  /// Termination: saves the settings store, releases the user directory, closes the database;
  /// each step's failure is ignored.
  ~Action();
  Action(const Action&) = delete;
  Action& operator=(const Action&) = delete;
  Action(Action&&) noexcept;
  Action& operator=(Action&&) noexcept;

  /// Where today and now come from (default: the system clock), and the short date form used to
  /// read and write dates as text (default en-US "M/d/yyyy"). Set before OpenConnection.
  void SetClock(std::shared_ptr<const vb::Clock> clock);
  void SetLocale(const vb::Locale& locale);
  [[nodiscard]] const vb::Clock& Clock() const;
  [[nodiscard]] const vb::Locale& Locale() const;

  // --- Connection and data access ---------------------------------------------------------
  /// Reserved extension point: accepts any command and changes nothing.
  void CallProcedure(std::string_view cCommand, vb::Variant* Parameters = nullptr,
                     vb::Variant* Results = nullptr);
  /// "1.003": the schema version OpenConnection demands.
  [[nodiscard]] std::string RequiredDatabaseVersion() const;
  /// major.minor(3 digits).revision(3 digits) of this build.
  [[nodiscard]] std::string Version() const;
  /// The data server (nullptr before the first OpenConnection and after a failed check).
  [[nodiscard]] DataServerPtr DataServer() const;
  /// The user directory (nullptr before the first OpenConnection/Login).
  [[nodiscard]] UserPtr User() const;
  /// The current user's profile; raises 91 without a data server.
  [[nodiscard]] UserProfilePtr UserProfile() const;
  /// Opens the database, checks the eight action tables and the schema version, and connects the
  /// user directory. Raises 1003 (not an action database) or 1004 (version rejected).
  void OpenConnection(std::string_view cConnectionString = {}, UserProfilePtr* oProfile = nullptr);
  /// Authenticates a user and makes his or her profile the current one.
  void Login(std::string_view cUserName = {}, std::string_view cPassword = {},
             UserProfilePtr* oProfile = nullptr, std::string_view cLoginID = {});

  // Stored settings and version properties.
  [[nodiscard]] std::string SMTPHost() const;
  void SMTPHost(std::string_view value);
  [[nodiscard]] bool SMTPDefault() const;
  void SMTPDefault(bool value);
  [[nodiscard]] bool AutoEmail() const;
  void AutoEmail(bool value);
  [[nodiscard]] bool VersionSensing() const;
  void VersionSensing(bool value);
  [[nodiscard]] std::string twWebURL() const;
  void twWebURL(std::string_view value);

  // Generic record-set services. Recordset and Execute run the CALLER's statement as it is, as a
  // database driver would: trusted text from the program, never a person's input. Every value
  // the library itself puts into a statement (references, saved-query fields, user IDs) goes in
  // as a quoted literal, and the lists and counts it builds are checked to read only the actions
  // table.
  [[nodiscard]] RecordsetPtr Recordset(std::string_view cSQL, int32_t CursorType = 1,
                                       int32_t CursorLocation = 2, int32_t LockType = 3);
  void Execute(std::string_view cSQL);
  [[nodiscard]] RecordsetPtr DataRecord(int32_t nID);
  [[nodiscard]] RecordsetPtr ReferenceRecordset(std::string_view cReference,
                                                std::string_view cRefID = {});
  /// Writes the settings store back to the database.
  void save();

  // --- Action records ---------------------------------------------------------------------
  /// Creates an action; returns its ActionID, 0 when nothing was stored (never raises).
  int32_t addRecord(RecordsetPtr* rs = nullptr, const RecordsetPtr& rsDefaults = nullptr,
                    std::string_view cReference = {});
  /// Stores edited values of the actions in rsValues, writing one history event per change.
  void updateRecord(const RecordsetPtr& rsValues);
  /// Stamps completion/closing dates and appends a result note.
  void setStatus(int32_t nActionID, RecordsetPtr* rs = nullptr, bool bComplete = false,
                 bool bClose = false, std::string_view cResults = {}, int16_t nReviewed = 0);
  /// Creates a copy of rs's current action; returns the copy's ActionID or 0.
  int32_t copyRecord(RecordsetPtr* rs);
  /// Deletes actions by ID, by rs's current row, or by the list in rsActionID; returns whether
  /// any action was deleted.
  bool delete_(int32_t nActionID = 0, RecordsetPtr* rs = nullptr,
               RecordsetPtr* rsActionID = nullptr);

  // --- Queries ----------------------------------------------------------------------------
  [[nodiscard]] std::string ReferenceID() const;
  void ReferenceID(std::string_view cRefID);
  /// Raises 6 for a value outside the 16-bit range (the stored modifier is then unchanged).
  void QueryModifier(int32_t nModifier);
  [[nodiscard]] RecordsetPtr QueriedRecordset(int32_t nQueryID, std::string_view cSortClause = {},
                                              int32_t CursorType = 1, int32_t CursorLocation = 2,
                                              int32_t LockType = 3);

  // --- Alerts and notifications -----------------------------------------------------------
  int32_t Alerts(std::string_view cUserID = {}, std::string_view cDBID = {}, int16_t nMode = 0);
  [[nodiscard]] RecordsetPtr AlertRecords(std::string_view cUserID = {},
                                          std::string_view cDBID = {}, int16_t nMode = 0,
                                          int16_t nDueDays = 0);
  void Alert(int32_t nActionID, bool value);
  /// The notification e-mail data of an action (nullptr when there is no such action).
  [[nodiscard]] RecordsetPtr EmailData(int32_t nID, std::string_view cURL = {});

  // --- Rights and permissions -------------------------------------------------------------
  [[nodiscard]] vb::CollectionPtr WorkgroupRights();
  [[nodiscard]] bool HasAccess(int16_t nAccessRight);
  [[nodiscard]] RecordsetPtr editingRights(std::string_view cDateClosed,
                                           std::string_view cDateCompleted,
                                           std::string_view cAssigneeID,
                                           std::string_view cOriginatorID,
                                           std::string_view cReferenceID);
  [[nodiscard]] bool PermitDeleteAction(std::string_view cAssigneeID = {},
                                        std::string_view cOriginatorID = {});
  void SetWorkgroup(std::string_view cUserID, int32_t nWorkgroupID);
  [[nodiscard]] vb::CollectionPtr VisibleFields();
  [[nodiscard]] RecordsetPtr ValidatedFields();

  // --- Attachments ------------------------------------------------------------------------
  int32_t addAttachment(int32_t nActionID, std::string_view cDescription = {},
                        std::string_view cURL = {}, int16_t nAttachmentType = 0,
                        std::string_view cEncodeType = {}, std::string* cData = nullptr);
  [[nodiscard]] RecordsetPtr AttachmentRecordset(int32_t nActionID = 0, int32_t nAttachmentID = 0);
  void DeleteAttachment(int32_t nAttachmentID);
  bool getAttachment(int32_t nAttachmentID, std::string& cEncodeType, std::string& cData);
  void DefaultAttachmentURL(std::string_view value);
  void DefaultAttachmentPath(std::string_view value);

  // --- User maintenance -------------------------------------------------------------------
  void ChangeUserName(std::string_view cUserID, std::string_view cNewName);
  void DeleteUser(std::string_view cUserID, RecordsetPtr* rsUsers = nullptr);
  void DeleteUserData(std::string_view cUserID);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kvaction
