#pragma once
// How a command reaches app/: one interface, two ways. LocalClient calls app/ in this process on
// the options' database; RemoteClient asks a `kvaction serve` process through its JSON API, so
// that only the server holds the database's keys. A command's code is the same either way: it
// asks a Client and prints what comes back with the same printing code.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Recordset.h"
#include "app/Actions.h"
#include "app/Activity.h"
#include "app/Admin.h"
#include "app/Bulk.h"
#include "app/Hooks.h"
#include "app/Import.h"
#include "app/Lists.h"
#include "app/Outbox.h"
#include "app/Session.h"
#include "app/View.h"
#include "app/Watchers.h"
#include "app/WebSupport.h"
#include "vb/Date.h"
#include "vb/Locale.h"

namespace cli {

struct Options;

/// What `show` prints of one action.
struct ShownAction {
  app::ActionView view;
  ado::RecordsetPtr row;  ///< the action's one row, every column, as stored
};

/// The rows `list` asks for; the filter as the person typed it (app/'s field IDs).
struct ListQuery {
  std::optional<int32_t> queryID;
  app::FilterTexts filter;
  std::vector<std::string> columns;
  std::string sort;
  int32_t limit = 0;    ///< 0: every row
  bool states = false;  ///< StateOf will be asked of the rows
};

/// A right of the catalogue and whether the person holds it.
struct HeldRight {
  int32_t right = 0;
  std::string name;
  bool held = false;
};

/// The ways of closing an action's part of the work that take a note.
enum class StatusChange { kComplete, kClose, kReopen };

/// The calls of the commands that work locally and through a server. Each raises a
/// vb::ComError as app/ does (the same number, source and words either way).
class Client {
 public:
  virtual ~Client() = default;

  /// The person's short date form.
  [[nodiscard]] virtual const vb::Locale& locale() const = 0;
  /// Today, for what a listing derives from the dates.
  [[nodiscard]] virtual vb::Date Today() const = 0;

  /// The ActionID of the action users know by number.
  [[nodiscard]] virtual int32_t ActionIDOf(int32_t number) = 0;
  /// Raises kNotFound when no action has the ID.
  virtual void RequireAction(int32_t actionID) = 0;
  /// The number users know the action by, as text.
  [[nodiscard]] virtual std::string ActionNumberText(int32_t actionID) = 0;

  /// Rows stream: a long list costs the memory of a page, never of the whole list.
  [[nodiscard]] virtual ado::RecordsetPtr List(const ListQuery& query) = 0;
  /// The state and whose turn it is of a row of List, AlertList or DueList.
  [[nodiscard]] virtual app::RowState StateOf(ado::Recordset& row) = 0;
  /// The actions the alert count counts, with the query's columns (and states).
  [[nodiscard]] virtual ado::RecordsetPtr AlertList(const ListQuery& query) = 0;
  [[nodiscard]] virtual int32_t AlertCount() = 0;
  [[nodiscard]] virtual ado::RecordsetPtr DueList(std::optional<int32_t> days, bool mine,
                                                  bool states) = 0;

  virtual int32_t QueryAdd(const std::string& name, const app::FilterTexts& filter) = 0;
  [[nodiscard]] virtual ado::RecordsetPtr QueryList() = 0;
  virtual void QueryShare(int32_t queryID, bool shared) = 0;
  virtual void QueryDelete(int32_t queryID) = 0;

  [[nodiscard]] virtual ShownAction Show(int32_t actionID) = 0;
  virtual int32_t Add(const app::FieldTexts& values) = 0;
  virtual int32_t Copy(int32_t actionID) = 0;
  virtual app::EditResult Edit(int32_t actionID, const app::FieldTexts& changes) = 0;
  [[nodiscard]] virtual std::vector<app::ReviewMove> MovesFor(int32_t actionID) = 0;
  virtual void Move(int32_t actionID, const std::string& move, const std::string& note) = 0;
  virtual void Review(int32_t actionID, int32_t reviewStatus) = 0;
  virtual void Change(int32_t actionID, StatusChange change, const std::string& note) = 0;
  virtual void Delete(int32_t actionID) = 0;
  /// Comments on an action (app::Comment); returns the people the comment mentions.
  virtual std::vector<app::Mention> Comment(int32_t actionID, const std::string& text) = 0;

  /// Attaches a file (its name, a description, its bytes) or a link; returns the attachment's ID.
  virtual int32_t AttachFile(int32_t actionID, const std::string& name,
                             const std::string& description, const std::string& bytes) = 0;
  virtual int32_t AttachLink(int32_t actionID, const std::string& url,
                             const std::string& description) = 0;
  [[nodiscard]] virtual ado::RecordsetPtr AttachmentList(int32_t actionID) = 0;
  [[nodiscard]] virtual std::string AttachmentBytes(int32_t attachmentID) = 0;
  virtual void AttachmentRemove(int32_t attachmentID) = 0;

  [[nodiscard]] virtual std::vector<HeldRight> Rights() = 0;

  /// The signed-in user's ID.
  [[nodiscard]] virtual std::string UserID() const = 0;
  virtual void UserAdd(const app::NewUser& user) = 0;
  virtual void UserEdit(const std::string& userID, const app::UserChanges& changes) = 0;
  virtual void UserPassword(const std::string& userID, const std::string& password) = 0;
  virtual void UserDelete(const std::string& userID, const std::string& reassignTo) = 0;
  [[nodiscard]] virtual ado::RecordsetPtr UserList() = 0;
  virtual int32_t WorkgroupAdd(const std::string& name, const std::vector<int32_t>& rights) = 0;
  virtual void WorkgroupEdit(int32_t groupID, const std::optional<std::string>& name,
                             const std::optional<std::vector<int32_t>>& rights) = 0;
  virtual void WorkgroupDelete(int32_t groupID) = 0;
  [[nodiscard]] virtual ado::RecordsetPtr WorkgroupList() = 0;

  /// The notification e-mail of an action: its record and its text as the mail has it.
  struct Notice {
    ado::RecordsetPtr record;
    std::string text;
  };
  [[nodiscard]] virtual Notice NoticeOf(int32_t actionID) = 0;
  /// Adds the actions of a CSV file, all or none.
  [[nodiscard]] virtual app::ImportResult ImportCsv(const std::string& csv) = 0;

  /// Sends the notice through this machine's relay; returns the recipients' count.
  virtual std::size_t SendNotice(int32_t actionID) = 0;
  /// The action's editingRights: one row of permission names and whether each is allowed.
  [[nodiscard]] virtual ado::RecordsetPtr EditingRights(int32_t actionID) = 0;

  /// The columns people see and the validated fields (`fields`).
  [[nodiscard]] virtual app::FieldCatalogue Fields() = 0;
  /// The library's versions and who is signed in (`info`).
  [[nodiscard]] virtual app::AboutSession About() = 0;
  /// Every setting the product knows and its value, in SettingKeys order (SuperUser).
  [[nodiscard]] virtual std::vector<std::pair<std::string, vb::Variant>> Settings() = 0;
  [[nodiscard]] virtual vb::Variant Setting(const std::string& key) = 0;
  virtual void SettingSet(const std::string& key, const std::string& value) = 0;
  /// The outbox as the person may see it: waiting and given up, with all also the delivered.
  [[nodiscard]] virtual std::vector<app::OutboxEntry> Outbox(bool all) = 0;
  /// The person's own reminders: on or off, and the lead time in days; either may be left.
  virtual void SetReminders(std::optional<bool> on, std::optional<int32_t> leadDays) = 0;
  /// One change on many actions (app/Bulk.h): ActionIDs, numbers (selection.byNumber) or a
  /// saved query's actions (selection.list's queryID alone); the report of each action.
  [[nodiscard]] virtual app::BulkReport Bulk(const app::BulkSelection& selection,
                                             const app::BulkChange& change) = 0;
  /// Starts (watching) or stops watching the action.
  virtual void Watch(int32_t actionID, bool watching) = 0;
  [[nodiscard]] virtual std::vector<app::Watcher> Watchers(int32_t actionID) = 0;
  /// The leads of a workgroup, after replacing them with set when it holds a list.
  [[nodiscard]] virtual std::vector<std::string> WorkgroupLeads(
      int32_t groupID, const std::optional<std::vector<std::string>>& set) = 0;
  /// Webhooks (SuperUser): as app::hooks does them, or through the API's /hooks calls.
  [[nodiscard]] virtual std::vector<app::hooks::Hook> HookList() = 0;
  virtual app::hooks::Added HookAdd(const app::hooks::HookSettings& settings) = 0;
  /// Returns the new secret when one was made, else "".
  virtual std::string HookEdit(int32_t hookID, const app::hooks::HookSettings& changes) = 0;
  virtual void HookRemove(int32_t hookID) = 0;
  [[nodiscard]] virtual std::vector<app::hooks::Delivery> HookDeliveries(int32_t hookID,
                                                                         int32_t limit) = 0;
  /// Sends what is due: here, or by the server.
  virtual app::hooks::DeliveryReport HookDeliver() = 0;
  /// The changes across the actions the person may see: the activity's texts by app/'s field IDs
  /// (since, before, limit).
  [[nodiscard]] virtual app::ActivityPage Activity(
      const std::vector<std::pair<std::string, std::string>>& texts) = 0;

  /// After a command that succeeded: a local client delivers the notices the person's changes
  /// queued (the server's own mail work does that for a remote one).
  virtual void Finish() = 0;
};

/// The client of a session on a local database (the session outlives it).
[[nodiscard]] std::unique_ptr<Client> LocalClientOf(app::Session& session);

/// The client the options choose (after ApplyDefaults): a server's when one is named, else a
/// session on the local database.
[[nodiscard]] std::unique_ptr<Client> OpenClient(const Options& options);

}  // namespace cli
