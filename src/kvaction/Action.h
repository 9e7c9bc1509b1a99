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
///
/// Errors: a member that says nothing else traps nothing, so the data server's own error
/// (kvDataServer.*: kSqlError for a statement refused before it ran, kEngineError for one the
/// database refused, …) reaches the caller unchanged, and 91 "Object variable not set" when there
/// is no data server yet. Refusals of this library name the member in their source
/// ("Action.SetWorkgroup"); host runtime errors (6, 13, 91, 94, …) carry the source "kvAction".
///
/// Who may: any client may call any member (most need OpenConnection first, the rights questions
/// a Login). The rights are advisory: the record, attachment and
/// user operations test none themselves; the caller decides who may, from HasAccess,
/// editingRights and PermitDeleteAction. Only SetWorkgroup guards a rule of its own.
class Action {
 public:
  /// A fresh object: no data server, no user directory, no reference context. Never raises.
  Action();
  /// Termination: saves the settings store, releases the user directory, closes the database;
  /// each step's failure is ignored.
  ~Action();
  Action(const Action&) = delete;
  Action& operator=(const Action&) = delete;
  /// Takes over other's database and state; other may then only be destroyed or assigned to.
  Action(Action&&) noexcept;
  /// Terminates this object's own work (as the destructor does), then takes over other's.
  Action& operator=(Action&&) noexcept;

  /// Where today and now come from (default: the system clock), and the short date form used to
  /// read and write dates as text (default en-US "M/d/yyyy"). Set before OpenConnection; an open
  /// data server follows at once. Neither raises.
  void SetClock(std::shared_ptr<const vb::Clock> clock);
  void SetLocale(const vb::Locale& locale);
  /// The clock and short date form set above. Neither raises.
  [[nodiscard]] const vb::Clock& Clock() const;
  [[nodiscard]] const vb::Locale& Locale() const;

  // --- Connection and data access ---------------------------------------------------------
  /// Reserved extension point: accepts any command, changes nothing and never raises.
  void CallProcedure(std::string_view cCommand, vb::Variant* Parameters = nullptr,
                     vb::Variant* Results = nullptr);
  /// "1.003": the schema version OpenConnection demands. Never raises.
  [[nodiscard]] std::string RequiredDatabaseVersion() const;
  /// major.minor(3 digits).revision(3 digits) of this build. Never raises.
  [[nodiscard]] std::string Version() const;
  /// The data server (nullptr before the first OpenConnection and after a failed table or
  /// version check). Never raises.
  [[nodiscard]] DataServerPtr DataServer() const;
  /// The user directory (nullptr before the first OpenConnection/Login). Never raises.
  [[nodiscard]] UserPtr User() const;
  /// The current user's profile (an anonymous one before Login); raises 91 without a data
  /// server.
  [[nodiscard]] UserProfilePtr UserProfile() const;
  /// Opens the database (a new data server each call), checks the eight action tables and the
  /// schema version, and connects the user directory. Raises the data server's open error (bad
  /// connection string, missing file, refused login), or vb::kObjectError + 1003 (not an action
  /// database) / + 1004 (version rejected), source "clsAction.OpenConnection"; after these two
  /// DataServer() is nullptr. A user directory that fails to connect is not reported.
  void OpenConnection(std::string_view cConnectionString = {}, UserProfilePtr* oProfile = nullptr);
  /// Authenticates a user by user ID and password and makes his or her profile the current one
  /// (a first login stores the profile's defaults). With no database open and a profile given,
  /// opens that profile's database first. Raises that open's error, or the user directory's own
  /// (kvUser.User: kLoginFailed for an unknown user or a wrong password, never saying which).
  void Login(std::string_view cUserName = {}, std::string_view cPassword = {},
             UserProfilePtr* oProfile = nullptr, std::string_view cLoginID = {});

  // Stored settings and version properties.
  /// The database-wide mail settings (empty / false when never stored). A change is kept in
  /// memory until save() or termination. Each raises 91 without a data server, and a getter the
  /// conversion's error (13, 94) for a stored value that does not convert.
  [[nodiscard]] std::string SMTPHost() const;
  void SMTPHost(std::string_view value);
  [[nodiscard]] bool SMTPDefault() const;
  void SMTPDefault(bool value);
  [[nodiscard]] bool AutoEmail() const;
  void AutoEmail(bool value);
  /// The current user's own flag, kept in his or her profile. Both raise 91 without a data server
  /// or profile, the getter the conversion's error for a stored value that does not convert.
  [[nodiscard]] bool VersionSensing() const;
  void VersionSensing(bool value);
  /// The web front end's base URL for links in notification e-mails; this object's alone, never
  /// stored. Neither raises.
  [[nodiscard]] std::string twWebURL() const;
  void twWebURL(std::string_view value);

  // Generic record-set services. Recordset and Execute run the CALLER's statement as it is, as a
  // database driver would: trusted text from the program, never a person's input. Every value
  // the library itself puts into a statement (references, saved-query fields, user IDs) goes in
  // as a quoted literal, and the lists and counts it builds are checked to read only the actions
  // table.
  /// Opens cSQL as a record set with the ADO cursor type, location and lock type given (default
  /// keyset, server-side, optimistic). Raises the data server's error (kSqlError, kEngineError).
  [[nodiscard]] RecordsetPtr Recordset(std::string_view cSQL, int32_t CursorType = 1,
                                       int32_t CursorLocation = 2, int32_t LockType = 3);
  /// Runs cSQL as a command; what it returns is discarded. Raises as Recordset does.
  void Execute(std::string_view cSQL);
  /// The action with ActionID nID as an updatable record set (empty when there is none).
  [[nodiscard]] RecordsetPtr DataRecord(int32_t nID);
  /// The actions of the external reference cReference, narrowed to cRefID, else to this object's
  /// ReferenceID when set.
  [[nodiscard]] RecordsetPtr ReferenceRecordset(std::string_view cReference,
                                                std::string_view cRefID = {});
  /// Writes the settings store back to the database.
  void save();

  // --- Action records ---------------------------------------------------------------------
  // The record operations test no rights: the caller decides who may (HasAccess, editingRights,
  // PermitDeleteAction). Each writes in one transaction, its history events with it.

  /// Creates an action (next number, the logged-in user as originator, rsDefaults laid over the
  /// new values) with its creation event; rs, when given, is left on the new row. Returns the
  /// ActionID, 0 when nothing was stored; never raises, and a failed creation leaves nothing.
  int32_t addRecord(RecordsetPtr* rs = nullptr, const RecordsetPtr& rsDefaults = nullptr,
                    std::string_view cReference = {});
  /// Stores edited values of the actions in rsValues (by their actionID column; an unknown one is
  /// skipped), writing one history event per change. Raises the first failing step's error (a
  /// column the actions table lacks, a refused value); the rows and events written before it stay.
  void updateRecord(const RecordsetPtr& rsValues);
  /// Stamps today as completion and/or closing day where none is set and appends cResults to the
  /// result notes, on rs's row when rs holds the action; no history. An unknown ID changes
  /// nothing. Raises the data server's error, and then changes nothing.
  void setStatus(int32_t nActionID, RecordsetPtr* rs = nullptr, bool bComplete = false,
                 bool bClose = false, std::string_view cResults = {}, int16_t nReviewed = 0);
  /// Creates a copy of rs's current action (a new ID and number, the non-null values kept), as
  /// addRecord does; returns the copy's ActionID, 0 when rs has no current row or nothing was
  /// stored. Raises 91 when rs is missing.
  int32_t copyRecord(RecordsetPtr* rs);
  /// Deletes actions by ID, by rs's current row, or by the list in rsActionID, each with a
  /// deletion event; returns whether any action was deleted. Raises the error of a failing
  /// delete or event; the deletions before it stay done.
  bool delete_(int32_t nActionID = 0, RecordsetPtr* rs = nullptr,
               RecordsetPtr* rsActionID = nullptr);

  // --- Queries ----------------------------------------------------------------------------
  /// The external reference this object works inside (empty: none); it narrows lists, alert
  /// links and ReferenceRecordset. Neither raises.
  [[nodiscard]] std::string ReferenceID() const;
  void ReferenceID(std::string_view cRefID);
  /// How lists treat ReferenceID (an EnumQueryModifier value). Raises 6 "Overflow" for a value
  /// outside the 16-bit range (the stored modifier is then unchanged).
  void QueryModifier(int32_t nModifier);
  /// The actions of saved query nQueryID (0 or an unknown number: the user's open actions),
  /// narrowed by ReferenceID as QueryModifier says, sorted by cSortClause. Raises 5 (source
  /// "Action.QueriedRecordset") for a sort clause that is not a list of actions columns with
  /// optional asc/desc, 91 without a data server or profile, and the data server's errors.
  [[nodiscard]] RecordsetPtr QueriedRecordset(int32_t nQueryID, std::string_view cSortClause = {},
                                              int32_t CursorType = 1, int32_t CursorLocation = 2,
                                              int32_t LockType = 3);

  // --- Alerts and notifications -----------------------------------------------------------
  /// How many open actions need cUserID's attention (default: the logged-in user), within
  /// reference cDBID when given. Mode 0: overdue or flagged for the user's turn; mode 1: assigned
  /// to the user. Raises any failure up to the count's query with its source prefixed by
  /// "Action.Alerts, " (another mode fails so); a failure reading the count gives 0.
  int32_t Alerts(std::string_view cUserID = {}, std::string_view cDBID = {}, int16_t nMode = 0);
  /// Every open action due before today + nDueDays (today when 0 or less), whoever it belongs
  /// to: cUserID, cDBID and nMode are accepted and not used.
  [[nodiscard]] RecordsetPtr AlertRecords(std::string_view cUserID = {},
                                          std::string_view cDBID = {}, int16_t nMode = 0,
                                          int16_t nDueDays = 0);
  /// Sets or clears the alert flag of an action, without a history event (an unknown ID changes
  /// nothing).
  void Alert(int32_t nActionID, bool value);
  /// The notification e-mail of an action as a one-row record set (recipients, sender, subject,
  /// body with a link under cURL, else twWebURL). Never raises: nullptr when there is no such
  /// action or no database; a lookup that fails leaves its part empty.
  [[nodiscard]] RecordsetPtr EmailData(int32_t nID, std::string_view cURL = {});

  // --- Rights and permissions -------------------------------------------------------------
  /// The catalogue of access rights: each description keyed by its right's number (as text), in
  /// catalogue order, for maintaining workgroups. Never raises.
  [[nodiscard]] vb::CollectionPtr WorkgroupRights();
  /// Whether the logged-in user's workgroup holds right nAccessRight (an ActionRights value; a
  /// profile with all rights holds every one). Raises 91 without a data server or profile.
  [[nodiscard]] bool HasAccess(int16_t nAccessRight);
  /// Which parts of one action (given by its state and people) the logged-in user may edit, as a
  /// one-row record set of booleans. Advisory: no operation enforces it. Never raises: a check
  /// that fails denies.
  [[nodiscard]] RecordsetPtr editingRights(std::string_view cDateClosed,
                                           std::string_view cDateCompleted,
                                           std::string_view cAssigneeID,
                                           std::string_view cOriginatorID,
                                           std::string_view cReferenceID);
  /// Whether the logged-in user may delete an action of cOriginatorID: a super user, or one with
  /// the delete right who originated it or may apply rights to others. delete_ does not ask it.
  /// Never raises: a check that fails denies.
  [[nodiscard]] bool PermitDeleteAction(std::string_view cAssigneeID = {},
                                        std::string_view cOriginatorID = {});
  /// Moves a user into workgroup nWorkgroupID (the logged-in user's own rights follow at once).
  /// Only a super user may move someone into or out of the SuperUser workgroup (-1): otherwise
  /// raises vb::kObjectError + 1000, "Action.SetWorkgroup", changing nothing. Other failures are
  /// passed over. Beyond that rule the caller decides who may.
  void SetWorkgroup(std::string_view cUserID, int32_t nWorkgroupID);
  /// The columns of the actions table a user sees as data (no keys, IDs or bookkeeping), keyed
  /// by their two-digit position.
  [[nodiscard]] vb::CollectionPtr VisibleFields();
  /// The fields whose values are validated (Category, Priority) with their display labels.
  [[nodiscard]] RecordsetPtr ValidatedFields();

  // --- Attachments ------------------------------------------------------------------------
  // The store's errors (kvDataServer.AttachmentStore, kAttachmentError) reach the caller
  // unchanged. No rights are tested: the caller decides who may.

  /// Attaches a link (type 0) or uploaded content (type 1 and up, cData encoded as cEncodeType)
  /// to an action; returns the attachment's ID, 0 for nActionID 0. Raises vb::kObjectError +
  /// 1000, "Action.AddAttachment", for content when no attachment path is set.
  int32_t addAttachment(int32_t nActionID, std::string_view cDescription = {},
                        std::string_view cURL = {}, int16_t nAttachmentType = 0,
                        std::string_view cEncodeType = {}, std::string* cData = nullptr);
  /// Attachment nAttachmentID when 1 or more, else the attachments of nActionID; nullptr when
  /// neither is given.
  [[nodiscard]] RecordsetPtr AttachmentRecordset(int32_t nActionID = 0, int32_t nAttachmentID = 0);
  /// Removes an attachment and its stored content.
  void DeleteAttachment(int32_t nAttachmentID);
  /// Reads an attachment's encoding and content into cEncodeType and cData; returns the store's
  /// answer. Raises vb::kObjectError + 1000, "Action.getAttachment", when no path is set.
  bool getAttachment(int32_t nAttachmentID, std::string& cEncodeType, std::string& cData);
  /// Seed the attachment URL and path settings: only a setting never made takes the value (kept
  /// until save()); a stored one is never changed. Both raise 91 without a data server.
  void DefaultAttachmentURL(std::string_view value);
  void DefaultAttachmentPath(std::string_view value);

  // --- User maintenance -------------------------------------------------------------------
  // No rights are tested: the caller decides who may (HasAccess with the user rights).

  /// Renames a user in the directory, then the copies of the name in the actions. Raises only
  /// the directory's refusal (kvUser.User; then nothing changes); a failed copy is passed over.
  void ChangeUserName(std::string_view cUserID, std::string_view cNewName);
  /// Removes a user's saved queries, profile rows and directory entry, in that order (the
  /// actions keep the name); rsUsers, when given, gets a fresh user list. Raises the first
  /// failing step's error, and the steps after it do not run.
  void DeleteUser(std::string_view cUserID, RecordsetPtr* rsUsers = nullptr);
  /// DeleteUser without a user list.
  void DeleteUserData(std::string_view cUserID);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kvaction
