// The commands' calls in this process, on a local database: each is app/'s own function.
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Lists.h"
#include "app/Mailer.h"
#include "app/Notify.h"
#include "app/Outbox.h"
#include "app/Reminders.h"
#include "app/Rights.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "cli/Cli.h"
#include "cli/Client.h"
#include "cli/Remote.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

class LocalClient final : public Client {
 public:
  explicit LocalClient(app::Session& session) : session_(session) {}
  explicit LocalClient(app::Session&& session) : owned_(std::move(session)), session_(*owned_) {}

  const vb::Locale& locale() const override { return session_.locale(); }
  vb::Date Today() const override { return session_.action().Clock().Today(); }

  int32_t ActionIDOf(int32_t number) override { return app::ActionIDOf(session_, number); }
  void RequireAction(int32_t actionID) override { (void)app::Show(session_, actionID); }
  std::string ActionNumberText(int32_t actionID) override {
    return vb::TextOf((*app::Show(session_, actionID))["ActionNumber"].Value());
  }

  ado::RecordsetPtr List(const ListQuery& query) override {
    app::ListRequest request;
    request.queryID = query.queryID;
    request.filter = app::FilterOf(query.filter);
    request.columns = query.columns;
    request.sort = query.sort;
    request.limit = query.limit;
    return app::List(session_, request);
  }
  app::RowState StateOf(ado::Recordset& row) override { return app::StateOf(session_, row); }
  ado::RecordsetPtr AlertList(const ListQuery& query) override {
    app::ListRequest request;
    request.columns = query.columns;
    return app::AlertList(session_, request);
  }
  int32_t AlertCount() override { return app::AlertCount(session_); }
  ado::RecordsetPtr DueList(std::optional<int32_t> days, bool mine, bool /*states*/) override {
    return app::DueList(session_, days, mine);
  }

  app::ActivityPage Activity(
      const std::vector<std::pair<std::string, std::string>>& texts) override {
    return app::Activity(session_, app::ActivityRequestOf(session_, texts));
  }

  int32_t QueryAdd(const std::string& name, const app::FilterTexts& filter) override {
    return app::QueryAdd(session_, {name, app::FilterOf(filter)});
  }
  ado::RecordsetPtr QueryList() override { return app::QueryList(session_); }
  void QueryShare(int32_t queryID, bool shared) override {
    app::QueryShare(session_, queryID, shared);
  }
  void QueryDelete(int32_t queryID) override { app::QueryDelete(session_, queryID); }

  ShownAction Show(int32_t actionID) override {
    return {app::ViewOf(session_, actionID), app::Show(session_, actionID)};
  }
  int32_t Add(const app::FieldTexts& values) override { return app::Add(session_, values); }
  int32_t Copy(int32_t actionID) override { return app::Copy(session_, actionID); }
  app::EditResult Edit(int32_t actionID, const app::FieldTexts& changes) override {
    return app::Edit(session_, actionID, changes);
  }
  std::vector<app::ReviewMove> MovesFor(int32_t actionID) override {
    return app::MovesFor(session_, actionID);
  }
  void Move(int32_t actionID, const std::string& move, const std::string& note) override {
    app::Move(session_, actionID, move, note);
  }
  void Review(int32_t actionID, int32_t reviewStatus) override {
    app::Review(session_, actionID, reviewStatus);
  }
  void Change(int32_t actionID, StatusChange change, const std::string& note) override {
    switch (change) {
      case StatusChange::kComplete:
        return app::Complete(session_, actionID, note);
      case StatusChange::kClose:
        return app::Close(session_, actionID, note);
      case StatusChange::kReopen:
        return app::Reopen(session_, actionID, note);
    }
  }
  void Delete(int32_t actionID) override { app::Delete(session_, actionID); }
  std::vector<app::Mention> Comment(int32_t actionID, const std::string& text) override {
    app::Comment(session_, actionID, text);
    return app::KnownMentions(session_, text);
  }

  int32_t AttachFile(int32_t actionID, const std::string& name, const std::string& description,
                     const std::string& bytes) override {
    return app::AttachmentAdd(session_, actionID, app::FileAttachment(name, description, bytes));
  }
  int32_t AttachLink(int32_t actionID, const std::string& url,
                     const std::string& description) override {
    return app::AttachmentAdd(session_, actionID, {description, url, {}, {}});
  }
  ado::RecordsetPtr AttachmentList(int32_t actionID) override {
    return app::AttachmentList(session_, actionID);
  }
  std::string AttachmentBytes(int32_t attachmentID) override {
    return app::AttachmentBytes(session_, attachmentID);
  }
  void AttachmentRemove(int32_t attachmentID) override {
    app::AttachmentRemove(session_, attachmentID);
  }

  std::vector<HeldRight> Rights() override {
    std::vector<HeldRight> rights;
    for (int32_t right = 0; right <= app::kHighestRight; ++right) {
      std::string name = app::RightName(right);
      if (!name.empty()) rights.push_back({right, std::move(name), app::Can(session_, right)});
    }
    return rights;
  }
  ado::RecordsetPtr EditingRights(int32_t actionID) override {
    return app::EditingRights(session_, actionID);
  }

  std::string UserID() const override { return session_.userID(); }
  void UserAdd(const app::NewUser& user) override { app::UserAdd(session_, user); }
  void UserEdit(const std::string& userID, const app::UserChanges& changes) override {
    app::UserEdit(session_, userID, changes);
  }
  void UserPassword(const std::string& userID, const std::string& password) override {
    app::UserPassword(session_, userID, password);
  }
  void UserDelete(const std::string& userID, const std::string& reassignTo) override {
    app::UserDelete(session_, userID, reassignTo);
  }
  ado::RecordsetPtr UserList() override { return app::UserList(session_); }
  int32_t WorkgroupAdd(const std::string& name, const std::vector<int32_t>& rights) override {
    return app::WorkgroupAdd(session_, name, rights);
  }
  void WorkgroupEdit(int32_t groupID, const std::optional<std::string>& name,
                     const std::optional<std::vector<int32_t>>& rights) override {
    app::WorkgroupEdit(session_, groupID, name, rights);
  }
  void WorkgroupDelete(int32_t groupID) override { app::WorkgroupDelete(session_, groupID); }
  ado::RecordsetPtr WorkgroupList() override { return app::WorkgroupList(session_); }

  std::vector<app::hooks::Hook> HookList() override { return app::hooks::List(session_); }
  app::hooks::Added HookAdd(const app::hooks::HookSettings& settings) override {
    return app::hooks::Add(session_, settings);
  }
  std::string HookEdit(int32_t hookID, const app::hooks::HookSettings& changes) override {
    return app::hooks::Edit(session_, hookID, changes);
  }
  void HookRemove(int32_t hookID) override { app::hooks::Remove(session_, hookID); }
  std::vector<app::hooks::Delivery> HookDeliveries(int32_t hookID, int32_t limit) override {
    return app::hooks::Deliveries(session_, hookID, limit);
  }
  app::hooks::DeliveryReport HookDeliver() override { return app::hooks::Deliver(session_); }

  Notice NoticeOf(int32_t actionID) override {
    app::ActionNotice notice = app::NoticeOf(session_, actionID);
    return {notice.record, app::MessageText(notice.mail)};
  }

  app::ImportResult ImportCsv(const std::string& csv) override {
    std::istringstream in(csv);
    return app::ImportCsv(session_, in);
  }

  std::size_t SendNotice(int32_t actionID) override { return app::SendNotice(session_, actionID); }

  app::FieldCatalogue Fields() override { return app::FieldCatalogueOf(session_); }
  app::AboutSession About() override { return app::About(session_); }
  std::vector<std::pair<std::string, vb::Variant>> Settings() override {
    std::vector<std::pair<std::string, vb::Variant>> all;
    for (const std::string& key : app::SettingKeys()) {
      all.emplace_back(key, app::SettingGet(session_, key));
    }
    return all;
  }
  vb::Variant Setting(const std::string& key) override { return app::SettingGet(session_, key); }
  void SettingSet(const std::string& key, const std::string& value) override {
    app::SettingSet(session_, key, value);
  }
  std::vector<app::OutboxEntry> Outbox(bool all) override { return app::OutboxList(session_, all); }
  void SetReminders(std::optional<bool> on, std::optional<int32_t> leadDays) override {
    if (on) app::SetReminders(session_, *on);
    if (leadDays) app::SetAlertDays(session_, *leadDays);
  }
  app::BulkReport Bulk(const app::BulkSelection& selection,
                       const app::BulkChange& change) override {
    return app::BulkApply(session_, selection, change);
  }
  void Watch(int32_t actionID, bool watching) override {
    if (watching) {
      app::Watch(session_, actionID);
    } else {
      app::Unwatch(session_, actionID);
    }
  }
  std::vector<app::Watcher> Watchers(int32_t actionID) override {
    return app::WatchersOf(session_, actionID);
  }
  std::vector<std::string> WorkgroupLeads(
      int32_t groupID, const std::optional<std::vector<std::string>>& set) override {
    if (set) app::SetWorkgroupLeads(session_, groupID, *set);
    return app::WorkgroupLeads(session_, groupID);
  }

  void Finish() override { DeliverOwnMail(session_); }

 private:
  std::optional<app::Session> owned_;
  app::Session& session_;
};

}  // namespace

std::unique_ptr<Client> LocalClientOf(app::Session& session) {
  return std::make_unique<LocalClient>(session);
}

std::unique_ptr<Client> OpenClient(const Options& options) {
  if (!options.server.empty()) return OpenRemoteClient(options);
  return std::make_unique<LocalClient>(OpenSession(options));
}

}  // namespace cli
