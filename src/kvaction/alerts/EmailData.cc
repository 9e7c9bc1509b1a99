// The content of a notification e-mail about one action: who receives it, who sends it, the
// subject and the plain-text body, in a one-row record set built in memory.
#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ado/Errors.h"
#include "kvaction/Action.h"
#include "kvaction/action/MemoryRecord.h"
#include "kvaction/action/State.h"
#include "kvaction/alerts/Email.h"
#include "kvaction/alerts/RecordStatus.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/engine/Engine.h"
#include "kvuser/User.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

/// The logged-in user, who sends the notice.
struct Sender {
  std::string id;
  std::string name;
};

/// The fields of the notice record set, in their order, shared by every notice.
const ado::FieldList& NoticeFields() {
  static const ado::FieldList kFields = std::make_shared<const std::vector<ado::FieldInfo>>(
      std::vector<ado::FieldInfo>{{"ID", ado::adInteger, 0, ado::adFldUnspecified},
                                  {"AssigneeEmail", ado::adVarChar, 80, ado::adFldUnspecified},
                                  {"OriginatorEmail", ado::adVarChar, 80, ado::adFldUnspecified},
                                  {"FromName", ado::adVarChar, 50, ado::adFldUnspecified},
                                  {"FromEmail", ado::adVarChar, 80, ado::adFldUnspecified},
                                  {"Subject", ado::adVarChar, 200, ado::adFldUnspecified},
                                  {"Body", ado::adLongVarChar, 0x40000000, ado::adFldUnspecified}});
  return kFields;
}

/// The texts of the notice; an empty one leaves its field Null.
struct Notice {
  std::string assigneeEmail;
  std::string originatorEmail;
  std::string fromName;
  std::string fromEmail;
  std::string subject;
  std::string body;
};

/// The users whose addresses the notice needs, each once: the sender, then the assignee and the
/// originator unless they are the sender.
std::vector<std::string> PeopleToRead(const std::string& me, const std::string& assignee,
                                      const std::string& originator) {
  std::vector<std::string> people;
  for (const std::string* id : {&me, &assignee, &originator}) {
    if (!id->empty() && std::find(people.begin(), people.end(), *id) == people.end()) {
      people.push_back(*id);
    }
  }
  return people;
}

/// The labels of the notice (and "DBID" when the link needs it), read in one statement and
/// resolved once: the subject and the body ask for them again and again. A read that failed
/// fails each lookup with its error, as a lookup of its own would have; so does a label whose
/// stored value cannot be read.
class NoticeSettings {
 public:
  NoticeSettings(const DataServerPtr& dataServer, bool withDatabaseID) {
    // The keys of the labels, then "DBID"; the read takes all of them or all but the last.
    static const std::vector<std::string> kKeys = [] {
      std::vector<std::string> keys;
      for (const std::string_view name : kNoticeLabels) keys.push_back(kvdata::LabelKey(name));
      keys.emplace_back("DBID");
      return keys;
    }();
    const std::span<const std::string> keys(kKeys.data(), kKeys.size() - (withDatabaseID ? 0 : 1));
    if (!read_.Assign(snapshot_, [&] { return vb::Require(dataServer)->Settings()->Read(keys); })) {
      return;
    }
    for (std::size_t i = 0; i < std::size(kNoticeLabels); ++i) {
      Resolved& label = labels_[i];
      label.trap.Assign(label.text,
                        [&] { return snapshot_.Label(kNoticeLabels[i], &label.found); });
    }
  }
  [[nodiscard]] const kvdata::SettingsSnapshot& Get() const {
    read_.RaiseIfPending();
    return snapshot_;
  }
  /// As SettingsStore::Label for one of the notice's names.
  [[nodiscard]] std::string Label(std::string_view name, bool& found) const {
    read_.RaiseIfPending();
    const auto* at = std::find(std::begin(kNoticeLabels), std::end(kNoticeLabels), name);
    if (at == std::end(kNoticeLabels)) return Get().Label(name, &found);
    const Resolved& label = labels_[static_cast<std::size_t>(at - std::begin(kNoticeLabels))];
    label.trap.RaiseIfPending();
    found = label.found;
    return label.text;
  }

 private:
  static constexpr std::string_view kNoticeLabels[] = {"Action",     "Originator",  "Assignee",
                                                       "DateOpened", "DateDue",     "DateClosed",
                                                       "Reference",  "Description", "Result"};
  struct Resolved {
    vb::ErrorTrap trap;
    std::string text;
    bool found = false;
  };
  vb::ErrorTrap read_;
  kvdata::SettingsSnapshot snapshot_;
  std::array<Resolved, std::size(kNoticeLabels)> labels_;
};

/// The stored action, read straight from the engine with its key bound: nothing edits it, so no
/// record set (with its copy of originals) is built. Every column is read, as the action's own
/// record would be: a column the database lacks fails alone, when the notice reads it.
class ActionRow {
 public:
  ActionRow(kvdata::DataConnection& connection, int32_t nID) {
    static const std::string statement = "select * from \"actions\" where \"ActionID\"=?";
    const vb::Variant key[] = {vb::Variant(nID)};
    result_ = connection.Engine().Execute(statement, key);
  }
  [[nodiscard]] bool Missing() const { return result_.rows.empty(); }
  /// The value of one column, found without regard to letter case; a name the action does not
  /// have raises as a record set's field would.
  [[nodiscard]] const vb::Variant& Value(std::string_view column) const {
    const auto& columns = result_.columns;
    // The notice asks with the names as the table spells them: an exact match is looked for
    // first; names of another length never match.
    auto at = std::find_if(columns.begin(), columns.end(),
                           [&](const auto& c) { return c.name == column; });
    if (at == columns.end()) {
      at = std::find_if(columns.begin(), columns.end(), [&](const auto& c) {
        return c.name.size() == column.size() && vb::EqualsText(c.name, column);
      });
    }
    if (at == columns.end() || Missing()) throw ado::Error(ado::kItemNotFound, "ADODB.Fields");
    return result_.rows.front()[static_cast<std::size_t>(at - columns.begin())];
  }

 private:
  kvdata::engine::Result result_;
};

/// A fresh, unconnected record set holding the notice as its one, current record; a text too
/// long for its field gives no notice, as setting that field would refuse it.
RecordsetPtr NoticeRecordset(int32_t nID, Notice notice) {
  const auto text = [](std::string& value) {
    return value.empty() ? vb::Variant(vb::Null) : vb::Variant(std::move(value));
  };
  std::vector<vb::Variant> values;
  values.reserve(NoticeFields()->size());
  values.emplace_back(nID);
  for (std::string* value : {&notice.assigneeEmail, &notice.originatorEmail, &notice.fromName,
                             &notice.fromEmail, &notice.subject, &notice.body}) {
    values.push_back(text(*value));
  }
  return MemoryRecord(NoticeFields(), std::move(values));
}

}  // namespace

// Continue-on-error throughout: a lookup that fails leaves its part of the notice empty, and the
// rest is still built. Only a missing action (or data server) gives nothing. The action is read
// first, then the people's addresses in one statement and the labels (with "DBID") in another.
RecordsetPtr Action::EmailData(int32_t nID, std::string_view cURL) {
  vb::ErrorTrap trap;
  const State& s = *state_;

  Sender me;
  trap.Run([&] {
    const auto profile = s.dataServer ? s.dataServer->Profile() : nullptr;
    if (!profile) return;
    me.id = profile->UserID();
    me.name = profile->UserName();
  });

  std::optional<ActionRow> record;
  trap.Run([&] { record.emplace(*vb::Require(vb::Require(s.dataServer)->Connection()), nID); });
  if (!record || record->Missing()) return nullptr;

  const auto value = [&](std::string_view column) {
    vb::Variant v;
    trap.Assign(v, [&] { return record->Value(column); });
    return v;
  };
  const auto text = [&](std::string_view column) { return vb::TextOf(value(column), s.locale); };

  // Never the person who asks, and never one address twice.
  const std::string assigneeID = text("AssigneeID");
  const std::string originatorID = text("OriginatorID");
  const auto notified = [&](const std::string& id) { return !id.empty() && id != me.id; };
  const std::vector<std::string> people = PeopleToRead(me.id, assigneeID, originatorID);
  std::map<std::string, vb::Variant> emails;
  if (!people.empty()) {
    trap.Assign(emails, [&] { return vb::Require(s.user)->UserFields(people, "Email"); });
  }
  const auto email = [&](const std::string& id) {
    const auto found = emails.find(id);
    return found == emails.end() ? std::string() : vb::TextOf(found->second, s.locale);
  };
  Notice notice;
  notice.fromName = me.name;
  if (!me.id.empty()) notice.fromEmail = email(me.id);
  if (notified(assigneeID)) notice.assigneeEmail = email(assigneeID);
  if (notified(originatorID)) notice.originatorEmail = email(originatorID);
  if (notice.originatorEmail == notice.assigneeEmail) notice.originatorEmail.clear();

  std::string link(cURL.empty() ? std::string_view(s.webURL) : cURL);
  const bool needsDatabaseID = !link.empty() && s.referenceID.empty();
  const NoticeSettings settings(s.dataServer, needsDatabaseID);
  const LabelLookup label = [&](std::string_view name, bool& flag) {
    return settings.Label(name, flag);
  };
  trap.Assign(notice.subject, [&] {
    return EmailSubject(value("ActionNumber"), value("Subject"), label, s.locale);
  });

  StatusTexts status;
  trap.Run([&] {
    const StatusColumns columns =
        StatusColumnsOf([&](std::string_view column) { return record->Value(column); }, s.locale);
    StatusSummary(columns, status, *s.clock, s.locale);
  });

  if (!link.empty()) {
    std::string databaseID = s.referenceID;
    if (needsDatabaseID) {
      trap.Assign(databaseID, [&] { return vb::TextOf(settings.Get().Value("DBID"), s.locale); });
    }
    link = ActionLink(link, {});
    trap.Run([&] {
      link += kvdata::DataUtility::LinkQuery(2, DatabaseNumber(databaseID),
                                             vb::CLng(value("ActionID"), s.locale), 0, 0, 0);
    });
  }

  const EmailValues values{value("Originator"),  value("Assignee"),   value("DateOpened"),
                           value("DateDue"),     value("DateClosed"), value("Reference"),
                           value("Description"), value("Result")};
  trap.Assign(notice.body, [&] {
    return EmailBody(values, status.status, status.dueText, link, label, s.locale);
  });
  record.reset();

  RecordsetPtr result;
  trap.Assign(result, [&] { return NoticeRecordset(nID, std::move(notice)); });
  return result;
}

}  // namespace kvaction
