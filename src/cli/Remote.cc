// The command through a server: one small HTTP client on libcurl, and the Client whose calls
// are the JSON API's. Every remote call of the command is in this file. The token travels only in
// the Authorization header: never in an address, an argument or a message.
#include "cli/Remote.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Json.h"
#include "app/View.h"
#include "cli/Cli.h"
#include "cli/Config.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace cli {
namespace {

using Json = nlohmann::json;
/// What the command sends: members in the order given (an edit's columns as typed).
using OrderedJson = nlohmann::ordered_json;

/// How long reaching a server may take: a server that is down is reported in seconds.
constexpr long kConnectMilliseconds = 3000;
/// A server that sends nothing for this long is given up on.
constexpr long kStalledSeconds = 60;
/// The rows one request of a long list asks for.
constexpr int32_t kRowsPage = 1000;

bool IsLoopback(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (host == "localhost" || host == "::1") return true;
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

// --- HTTP ----------------------------------------------------------------------------------

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeadersCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t Collect(char* data, size_t size, size_t count, void* into) {
  static_cast<std::string*>(into)->append(data, size * count);
  return size * count;
}

/// One server's answers: status and body.
struct Answer {
  long status = 0;
  std::string body;
};

/// Requests to one server over one connection, kept open between them.
class Http {
 public:
  Http(std::string server, const Options& options)
      : server_(std::move(server)), dateForm_(options.locale.empty() ? "en-US" : options.locale) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    curl_.reset(curl_easy_init());
    if (!initialised || !curl_) Fail("Cannot start the HTTP client (libcurl).");
    CURL* curl = curl_.get();
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect could carry the token elsewhere: the address given is the one used.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.cacert.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.cacert.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectMilliseconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "kvaction/" KV_VERSION);
  }

  [[nodiscard]] const std::string& Server() const { return server_; }
  void Token(std::string token) { token_ = std::move(token); }

  /// Sends method to path (under /api/v1/) with a body of type (GET: none); raises when the
  /// server cannot be reached.
  Answer Send(const std::string& method, const std::string& path, const std::string& body = {},
              const std::string& type = "application/json") {
    CURL* curl = curl_.get();
    const std::string url = server_ + "/api/v1/" + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    std::unique_ptr<curl_slist, HeadersCleanup> headers;
    const auto add = [&](const std::string& header) {
      headers.reset(curl_slist_append(headers.release(), header.c_str()));
    };
    add("Accept: application/json");
    add("X-Date-Form: " + dateForm_);
    add("Expect:");
    if (!token_.empty()) add("Authorization: Bearer " + token_);
    if (method == "GET") {
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
      add("Content-Type: " + type);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    Answer answer;
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    error_[0] = '\0';
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    if (code != CURLE_OK) {
      Fail(fmt::format("Cannot reach the server {}: {}.", server_,
                       error_[0] != '\0' ? error_ : curl_easy_strerror(code)));
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
  }

  /// text escaped for a query string.
  [[nodiscard]] std::string Escaped(const std::string& text) const {
    char* escaped = curl_easy_escape(curl_.get(), text.c_str(), static_cast<int>(text.size()));
    std::string result = escaped == nullptr ? std::string() : std::string(escaped);
    curl_free(escaped);
    return result;
  }

 private:
  std::string server_;
  std::string dateForm_;
  std::string token_;
  std::unique_ptr<CURL, CurlCleanup> curl_;
  char error_[CURL_ERROR_SIZE] = {};
};

/// The query string of params ("?a=1&b=x"), escaped; "" for none.
std::string QueryString(const Http& http,
                        const std::vector<std::pair<std::string, std::string>>& params) {
  std::string query;
  for (const auto& [name, value] : params) {
    query += (query.empty() ? "?" : "&") + name + "=" + http.Escaped(value);
  }
  return query;
}

/// The answer's body as JSON; raises when it is not JSON (a proxy's page, a cut answer).
Json BodyOf(const Http& http, const Answer& answer) {
  Json body = Json::parse(answer.body, nullptr, false);
  if (body.is_discarded()) {
    Fail(
        fmt::format("The server {} gave an answer that is not the API's (HTTP {}): is it a "
                    "kvaction server?",
                    http.Server(), answer.status));
  }
  return body;
}

// --- Webhooks -------------------------------------------------------------------------------

/// A date the API wrote (ISO 8601).
vb::Date IsoDate(const Json& value) {
  const auto date = vb::Date::TryFromIso(value.get<std::string>());
  if (!date) Fail("The server sent a date that is not ISO 8601: " + value.dump());
  return *date;
}

/// The members of a hook's settings that are set.
OrderedJson HookBody(const app::hooks::HookSettings& settings) {
  OrderedJson body = OrderedJson::object();
  if (settings.url) body["url"] = *settings.url;
  if (settings.events) body["events"] = *settings.events;
  if (settings.secret) body["secret"] = *settings.secret;
  if (settings.active) body["active"] = *settings.active;
  return body;
}

// --- Record sets from the API's tables ------------------------------------------------------

std::vector<vb::Variant> ValuesOf(const Json& row, const std::vector<ado::FieldInfo>& fields) {
  std::vector<vb::Variant> values;
  values.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    values.push_back(i < row.size() ? app::ValueOfJson(row[i], fields[i].type)
                                    : vb::Variant(vb::Null));
  }
  return values;
}

/// A read-only record set of a table ({"fields", "rows"}) held whole: small ones only.
ado::RecordsetPtr TableOf(const Json& table) {
  std::vector<ado::FieldInfo> fields = app::FieldsOfJson(table.at("fields"));
  std::vector<ado::Row> rows;
  for (const Json& row : table.at("rows")) rows.push_back({ValuesOf(row, fields), {}, false});
  auto set = ado::Recordset::Create();
  set->OpenWithRows(std::move(fields), std::move(rows), ado::adOpenStatic, ado::adUseClient,
                    ado::adLockReadOnly, nullptr);
  return set;
}

/// Reads a page: at most count rows after the place a page before gave ("" for the first).
using PageReader = std::function<Json(const std::string& after, int32_t count)>;

/// The rows the first request asks for, pageRows at a time, under a limit (0: none).
int32_t FirstPage(int32_t pageRows, int32_t limit) {
  return limit > 0 ? std::min(pageRows, limit) : pageRows;
}

/// The rows of a paged table, one page in memory at a time.
class PagedRows final : public ado::RowSource {
 public:
  PagedRows(PageReader read, std::shared_ptr<const std::vector<ado::FieldInfo>> fields,
            int32_t pageRows, int32_t limit, Json first)
      : read_(std::move(read)), fields_(std::move(fields)), pageRows_(pageRows), limit_(limit) {
    Take(std::move(first));
  }
  bool Next(std::vector<vb::Variant>& values) override {
    while (index_ >= rows_.size()) {
      if (next_.empty() || Full()) return false;
      Take(read_(next_, PageSize()));
    }
    values = ValuesOf(rows_[index_++], *fields_);
    ++rowsRead_;
    return true;
  }

 private:
  [[nodiscard]] bool Full() const { return limit_ > 0 && rowsRead_ >= limit_; }
  [[nodiscard]] int32_t PageSize() const {
    return limit_ > 0 ? std::min(pageRows_, limit_ - rowsRead_) : pageRows_;
  }
  void Take(Json page) {
    // Each page names where the one after it starts, so the server seeks there instead of
    // reading and passing over every row before it.
    next_ = page.value("more", false) ? page.value("next", std::string()) : std::string();
    rows_ = std::move(page.at("rows"));
    index_ = 0;
  }
  PageReader read_;
  std::shared_ptr<const std::vector<ado::FieldInfo>> fields_;
  int32_t pageRows_;
  int32_t limit_;
  int32_t rowsRead_ = 0;
  Json rows_;
  std::size_t index_ = 0;
  std::string next_;
};

/// A forward-only record set over a paged table; limit (0: none) caps the rows read.
ado::RecordsetPtr PagedTable(const PageReader& read, int32_t pageRows, int32_t limit) {
  auto page = std::make_shared<Json>(read({}, FirstPage(pageRows, limit)));
  auto fields =
      std::make_shared<const std::vector<ado::FieldInfo>>(app::FieldsOfJson(page->at("fields")));
  auto set = ado::Recordset::Create();
  set->OpenStreaming(
      *fields,
      [read, fields, pageRows, limit, page]() -> std::unique_ptr<ado::RowSource> {
        // The first page read is used once; a second pass reads it again.
        Json first = page->is_null() ? read({}, FirstPage(pageRows, limit)) : std::move(*page);
        *page = nullptr;
        return std::make_unique<PagedRows>(read, fields, pageRows, limit, std::move(first));
      },
      ado::adUseClient);
  return set;
}

// --- The client ------------------------------------------------------------------------------

class RemoteClient final : public Client {
 public:
  RemoteClient(const Options& options, std::string server)
      : http_(std::move(server), options),
        locale_(LocaleOf(options)),
        clock_(options.clock),
        pageRows_(options.pageRows > 0 ? options.pageRows : kRowsPage) {}
  ~RemoteClient() override {
    // A session opened for this command alone ends with it.
    if (!ownSession_) return;
    try {
      (void)http_.Send("DELETE", "session");
    } catch (...) {  // NOLINT(bugprone-empty-catch): it expires by itself
    }
  }
  RemoteClient(const RemoteClient&) = delete;
  RemoteClient& operator=(const RemoteClient&) = delete;

  /// Signs in with the token kept for the server, or with a password for this command.
  void SignIn(const Options& options) {
    const std::optional<SavedSession> kept =
        TokenFile(ConfigFolderOf(options)).Find(http_.Server());
    if (kept && (options.user.empty() || options.user == kept->user)) {
      user_ = kept->user;
      http_.Token(kept->token);
      return;
    }
    if (options.user.empty()) {
      Fail(
          fmt::format("Nobody is signed in on {0}: run 'kvaction login --server {0} --user NAME' "
                      "or give --user NAME.",
                      http_.Server()));
    }
    user_ = options.user;
    http_.Token(
        SignInWithPassword(http_, user_, ReadPassword(options, "Password for " + user_ + ": ")));
    ownSession_ = true;
  }

  /// Signs in at the server; returns the session's token.
  static std::string SignInWithPassword(Http& http, const std::string& user,
                                        const std::string& password) {
    const Answer answer =
        http.Send("POST", "session", Json{{"user", user}, {"password", password}}.dump());
    if (answer.status != 201) RaiseError(http, answer, {});
    return BodyOf(http, answer).at("token").get<std::string>();
  }

  /// Raises the error the answer carries, as app/ raised it on the server.
  [[noreturn]] static void RaiseError(const Http& http, const Answer& answer,
                                      const std::string& user) {
    const Json body = BodyOf(http, answer);
    const Json error = body.is_object() ? body.value("error", Json::object()) : Json::object();
    if (answer.status == 401 && !user.empty()) {
      Fail(
          fmt::format("The session of {} on {} has ended: sign in again with 'kvaction login "
                      "--server {}'.",
                      user, http.Server(), http.Server()));
    }
    if (!error.is_object() || !error.contains("number")) {
      Fail(fmt::format("The server {} answered HTTP {}.", http.Server(), answer.status));
    }
    throw vb::ComError(error.value("number", app::kNotStored),
                       error.value("source", std::string(app::kSource)),
                       error.value("message", std::string()));
  }

  const vb::Locale& locale() const override { return locale_; }
  vb::Date Today() const override { return clock_ ? clock_->Today() : vb::SystemClock().Today(); }

  int32_t ActionIDOf(int32_t number) override {
    const int32_t id = Call("GET", fmt::format("numbers/{}", number)).at("id").get<int32_t>();
    numbers_[id] = std::to_string(number);
    return id;
  }
  void RequireAction(int32_t actionID) override { (void)ActionNumberText(actionID); }
  std::string ActionNumberText(int32_t actionID) override {
    if (const auto known = numbers_.find(actionID); known != numbers_.end()) return known->second;
    (void)Show(actionID);
    return numbers_[actionID];
  }

  ado::RecordsetPtr List(const ListQuery& query) override {
    std::vector<std::pair<std::string, std::string>> params;
    if (query.queryID) params.emplace_back("query", std::to_string(*query.queryID));
    for (const auto& [field, text] : query.filter) params.emplace_back(field, text);
    params.emplace_back("columns", ColumnsText(query.columns));
    if (!query.sort.empty()) params.emplace_back("sort", query.sort);
    return Paged("actions/rows", params, query.limit, query.states);
  }
  app::RowState StateOf(ado::Recordset& row) override {
    // The rows calls add the state the server derived as four columns of text.
    const auto text = [&](const char* column) { return vb::TextOf(row[column].Value()); };
    return app::RowStateOf(text("state"), text("stateText"), text("turn"), text("turnText"));
  }
  ado::RecordsetPtr AlertList(const ListQuery& query) override {
    return Paged("alerts/rows", {{"columns", ColumnsText(query.columns)}}, 0, query.states);
  }
  int32_t AlertCount() override { return Call("GET", "alerts").at("count").get<int32_t>(); }
  ado::RecordsetPtr DueList(std::optional<int32_t> days, bool mine, bool states) override {
    std::vector<std::pair<std::string, std::string>> params;
    if (days) params.emplace_back("days", std::to_string(*days));
    if (mine) params.emplace_back("mine", "true");
    return Paged("due/rows", params, 0, states);
  }

  app::ActivityPage Activity(
      const std::vector<std::pair<std::string, std::string>>& texts) override {
    return app::ActivityFromJson(Call("GET", "activity" + QueryString(http_, texts)));
  }

  int32_t QueryAdd(const std::string& name, const app::FilterTexts& filter) override {
    OrderedJson body = {{"name", name}};
    if (!filter.empty()) {
      OrderedJson texts = OrderedJson::object();
      for (const auto& [field, text] : filter) texts[field] = text;
      body["filter"] = std::move(texts);
    }
    return Call("POST", "queries", body).at("id").get<int32_t>();
  }
  ado::RecordsetPtr QueryList() override { return TableOf(Call("GET", "queries/rows")); }
  void QueryShare(int32_t queryID, bool shared) override {
    (void)Call("POST", fmt::format("queries/{}/share", queryID), {{"shared", shared}});
  }
  void QueryDelete(int32_t queryID) override {
    (void)Call("DELETE", fmt::format("queries/{}", queryID));
  }

  ShownAction Show(int32_t actionID) override {
    const Json record = Call("GET", fmt::format("actions/{}/record", actionID));
    ShownAction shown;
    shown.row =
        TableOf({{"fields", record.at("fields")}, {"rows", Json::array({record.at("row")})}});
    shown.view = app::ViewFromJson(record.at("view"), *shown.row);
    numbers_[actionID] = std::to_string(shown.view.number);
    return shown;
  }
  int32_t Add(const app::FieldTexts& values) override {
    return Created(Call("POST", "actions", {{"fields", TextsOf(values)}}));
  }
  int32_t Copy(int32_t actionID) override {
    return Created(Call("POST", fmt::format("actions/{}/copy", actionID)));
  }
  app::EditResult Edit(int32_t actionID, const app::FieldTexts& changes) override {
    const Answer answer = http_.Send("PATCH", fmt::format("actions/{}", actionID),
                                     OrderedJson{{"changes", TextsOf(changes)}}.dump());
    app::EditResult result;
    if (answer.status == 409) {
      const Json body = BodyOf(http_, answer);
      for (const Json& c : body.at("conflicts")) {
        result.conflicts.push_back(
            {c.at("column").get<std::string>(), c.at("base").get<std::string>(),
             c.at("mine").get<std::string>(), c.at("theirs").get<std::string>()});
      }
      return result;
    }
    if (answer.status != 200) RaiseError(http_, answer, user_);
    const Json body = BodyOf(http_, answer);
    result.stored = true;
    result.changed = body.at("changed").get<std::vector<std::string>>();
    result.merged = body.at("merged").get<std::vector<std::string>>();
    return result;
  }
  std::vector<app::ReviewMove> MovesFor(int32_t actionID) override {
    return MovesOf(Call("GET", fmt::format("actions/{}/moves", actionID)));
  }
  void Move(int32_t actionID, const std::string& move, const std::string& note) override {
    (void)Call("POST", fmt::format("actions/{}/move", actionID), {{"move", move}, {"note", note}});
  }
  void Review(int32_t actionID, int32_t reviewStatus) override {
    (void)Call("POST", fmt::format("actions/{}/review", actionID), {{"status", reviewStatus}});
  }
  void Change(int32_t actionID, StatusChange change, const std::string& note) override {
    const char* verb = change == StatusChange::kComplete ? "complete"
                       : change == StatusChange::kClose  ? "close"
                                                         : "reopen";
    (void)Call("POST", fmt::format("actions/{}/{}", actionID, verb), {{"note", note}});
  }
  void Delete(int32_t actionID) override {
    (void)Call("DELETE", fmt::format("actions/{}", actionID));
  }
  std::vector<app::Mention> Comment(int32_t actionID, const std::string& text) override {
    const Json action =
        Call("POST", fmt::format("actions/{}/comments", actionID), {{"comment", text}});
    std::vector<app::Mention> mentions;
    const Json& conversation = action.at("conversation");
    if (conversation.empty()) return mentions;
    for (const auto& mention : conversation.back().value("mentions", Json::array())) {
      mentions.push_back(
          {mention.at("user").get<std::string>(), mention.at("name").get<std::string>()});
    }
    return mentions;
  }

  int32_t AttachFile(int32_t actionID, const std::string& name, const std::string& description,
                     const std::string& bytes) override {
    const std::string path = fmt::format("actions/{}/attachments", actionID) +
                             QueryString(http_, {{"name", name}, {"description", description}});
    const Answer answer = http_.Send("POST", path, bytes, "application/octet-stream");
    if (answer.status != 201) RaiseError(http_, answer, user_);
    return BodyOf(http_, answer).at("id").get<int32_t>();
  }
  int32_t AttachLink(int32_t actionID, const std::string& url,
                     const std::string& description) override {
    return Call("POST", fmt::format("actions/{}/attachments", actionID),
                {{"url", url}, {"description", description}})
        .at("id")
        .get<int32_t>();
  }
  ado::RecordsetPtr AttachmentList(int32_t actionID) override {
    return TableOf(Call("GET", fmt::format("actions/{}/attachments/rows", actionID)));
  }
  std::string AttachmentBytes(int32_t attachmentID) override {
    Answer answer = http_.Send("GET", fmt::format("attachments/{}", attachmentID));
    if (answer.status != 200) RaiseError(http_, answer, user_);
    return std::move(answer.body);
  }
  void AttachmentRemove(int32_t attachmentID) override {
    (void)Call("DELETE", fmt::format("attachments/{}", attachmentID));
  }

  std::vector<HeldRight> Rights() override {
    std::vector<HeldRight> rights;
    for (const Json& right : Call("GET", "rights")) {
      rights.push_back({right.at("right").get<int32_t>(), right.at("name").get<std::string>(),
                        right.at("held").get<bool>()});
    }
    return rights;
  }
  ado::RecordsetPtr EditingRights(int32_t actionID) override {
    return TableOf(Call("GET", fmt::format("actions/{}/rights", actionID)));
  }

  std::string UserID() const override { return user_; }
  void UserAdd(const app::NewUser& user) override {
    OrderedJson body = {{"id", user.userID},
                        {"name", user.userName},
                        {"email", user.email},
                        {"password", user.password}};
    if (user.group) body["group"] = *user.group;
    (void)Call("POST", "users", body);
  }
  void UserEdit(const std::string& userID, const app::UserChanges& changes) override {
    OrderedJson body = OrderedJson::object();
    if (changes.userName) body["name"] = *changes.userName;
    if (changes.email) body["email"] = *changes.email;
    if (changes.group) body["group"] = *changes.group;
    (void)Call("PATCH", "users/" + http_.Escaped(userID), body);
  }
  void UserPassword(const std::string& userID, const std::string& password) override {
    (void)Call("POST", "users/" + http_.Escaped(userID) + "/password", {{"password", password}});
  }
  void UserDelete(const std::string& userID, const std::string& reassignTo) override {
    (void)Call("DELETE",
               "users/" + http_.Escaped(userID) +
                   (reassignTo.empty() ? std::string()
                                       : QueryString(http_, {{"reassignTo", reassignTo}})));
  }
  ado::RecordsetPtr UserList() override { return TableOf(Call("GET", "users/rows")); }
  int32_t WorkgroupAdd(const std::string& name, const std::vector<int32_t>& rights) override {
    return Call("POST", "workgroups", {{"name", name}, {"rights", rights}}).at("id").get<int32_t>();
  }
  void WorkgroupEdit(int32_t groupID, const std::optional<std::string>& name,
                     const std::optional<std::vector<int32_t>>& rights) override {
    OrderedJson body = OrderedJson::object();
    if (name) body["name"] = *name;
    if (rights) body["rights"] = *rights;
    (void)Call("PATCH", fmt::format("workgroups/{}", groupID), body);
  }
  void WorkgroupDelete(int32_t groupID) override {
    (void)Call("DELETE", fmt::format("workgroups/{}", groupID));
  }
  ado::RecordsetPtr WorkgroupList() override { return TableOf(Call("GET", "workgroups/rows")); }

  std::vector<app::hooks::Hook> HookList() override {
    std::vector<app::hooks::Hook> hooks;
    for (const Json& row : Call("GET", "hooks")) {
      app::hooks::Hook hook;
      hook.hookID = row.at("id").get<int32_t>();
      hook.url = row.at("url").get<std::string>();
      hook.events = row.at("events").get<std::vector<std::string>>();
      hook.active = row.at("active").get<bool>();
      hook.createdBy = row.at("createdBy").get<std::string>();
      hook.created = IsoDate(row.at("created"));
      hooks.push_back(std::move(hook));
    }
    return hooks;
  }
  app::hooks::Added HookAdd(const app::hooks::HookSettings& settings) override {
    const Json added = Call("POST", "hooks", HookBody(settings));
    return {added.at("id").get<int32_t>(), added.value("secret", std::string())};
  }
  std::string HookEdit(int32_t hookID, const app::hooks::HookSettings& changes) override {
    return Call("PATCH", fmt::format("hooks/{}", hookID), HookBody(changes))
        .value("secret", std::string());
  }
  void HookRemove(int32_t hookID) override {
    (void)Call("DELETE", fmt::format("hooks/{}", hookID));
  }
  std::vector<app::hooks::Delivery> HookDeliveries(int32_t hookID, int32_t limit) override {
    std::vector<std::pair<std::string, std::string>> params = {{"limit", std::to_string(limit)}};
    if (hookID != 0) params.emplace_back("hook", std::to_string(hookID));
    std::vector<app::hooks::Delivery> deliveries;
    for (const Json& row : Call("GET", "hooks/deliveries" + QueryString(http_, params))) {
      app::hooks::Delivery delivery;
      delivery.deliveryID = row.at("id").get<int32_t>();
      delivery.key = row.at("delivery").get<std::string>();
      delivery.hookID = row.at("hook").get<int32_t>();
      delivery.event = row.at("event").get<std::string>();
      delivery.actionID = row.at("action").get<int32_t>();
      delivery.attempts = row.at("attempts").get<int32_t>();
      delivery.created = IsoDate(row.at("created"));
      delivery.nextAttempt = IsoDate(row.at("nextAttempt"));
      const std::string state = row.at("state").get<std::string>();
      if (state == "delivered") delivery.delivered = IsoDate(row.at("delivered"));
      if (state == "failed") delivery.gaveUp = delivery.nextAttempt;
      delivery.status = row.at("status").is_null() ? 0 : row.at("status").get<int32_t>();
      delivery.answer = row.at("answer").get<std::string>();
      delivery.lastError = row.at("error").get<std::string>();
      delivery.payload = row.at("payload").dump();
      deliveries.push_back(std::move(delivery));
    }
    return deliveries;
  }
  app::hooks::DeliveryReport HookDeliver() override {
    const Json report = Call("POST", "hooks/deliver");
    return {report.at("delivered").get<int32_t>(), report.at("deferred").get<int32_t>(),
            report.at("gaveUp").get<int32_t>(),
            report.at("problems").get<std::vector<std::string>>()};
  }

  Notice NoticeOf(int32_t actionID) override {
    const Json notice = Call("GET", fmt::format("actions/{}/notice", actionID));
    return {TableOf(notice.at("record")), notice.at("text").get<std::string>()};
  }

  app::ImportResult ImportCsv(const std::string& csv) override {
    const Answer answer = http_.Send("POST", "actions/import", csv, "text/csv");
    app::ImportResult result;
    if (answer.status == 422) {
      const Json body = BodyOf(http_, answer);
      for (const Json& problem : body.at("problems")) {
        result.problems.push_back(
            {problem.at("row").get<std::size_t>(), problem.at("message").get<std::string>()});
      }
      return result;
    }
    if (answer.status != 201) RaiseError(http_, answer, user_);
    result.added = BodyOf(http_, answer).at("added").get<std::vector<int32_t>>();
    return result;
  }

  std::size_t SendNotice(int32_t actionID) override {
    return Call("POST", fmt::format("actions/{}/notice", actionID)).at("sent").get<std::size_t>();
  }

  app::FieldCatalogue Fields() override {
    const Json fields = Call("GET", "fields");
    app::FieldCatalogue catalogue;
    for (const Json& visible : fields.at("visible")) {
      catalogue.visible.emplace_back(visible.at("key").get<std::string>(),
                                     visible.at("field").get<std::string>());
    }
    catalogue.validated = TableOf(fields.at("validated"));
    return catalogue;
  }
  app::AboutSession About() override {
    const Json about = Call("GET", "session");
    return {about.at("version").get<std::string>(),
            about.at("requiredDatabaseVersion").get<std::string>(),
            about.at("user").get<std::string>(), about.at("alerts").get<int32_t>()};
  }
  std::vector<std::pair<std::string, vb::Variant>> Settings() override {
    std::vector<std::pair<std::string, vb::Variant>> all;
    for (const Json& setting : Call("GET", "settings")) {
      std::string key = setting.at("key").get<std::string>();
      vb::Variant value = SettingValue(key, setting.at("value"));
      all.emplace_back(std::move(key), std::move(value));
    }
    return all;
  }
  vb::Variant Setting(const std::string& key) override {
    return SettingValue(key, Call("GET", "settings/" + http_.Escaped(key)).at("value"));
  }
  void SettingSet(const std::string& key, const std::string& value) override {
    (void)Call("PATCH", "settings/" + http_.Escaped(key), {{"value", value}});
  }
  std::vector<app::OutboxEntry> Outbox(bool all) override {
    const auto date = [](const Json& value) -> std::optional<vb::Date> {
      return value.is_string() ? vb::Date::TryFromIso(value.get<std::string>()) : std::nullopt;
    };
    std::vector<app::OutboxEntry> entries;
    for (const Json& mail : Call("GET", all ? "mail?all=true" : "mail")) {
      app::OutboxEntry entry;
      entry.mailID = mail.at("id").get<int32_t>();
      entry.messageID = mail.at("messageID").get<std::string>();
      entry.actionID = mail.at("actionID").get<int32_t>();
      entry.createdBy = mail.at("createdBy").get<std::string>();
      entry.to = mail.at("to").get<std::vector<std::string>>();
      entry.subject = mail.at("subject").get<std::string>();
      entry.created = date(mail.at("created")).value_or(vb::Date());
      entry.attempts = mail.at("attempts").get<int32_t>();
      entry.nextAttempt = date(mail.at("nextAttempt")).value_or(vb::Date());
      entry.sent = date(mail.at("sent"));
      entry.gaveUp = date(mail.at("gaveUp"));
      entry.lastError = mail.at("lastError").get<std::string>();
      entries.push_back(std::move(entry));
    }
    return entries;
  }
  void SetReminders(std::optional<bool> on, std::optional<int32_t> leadDays) override {
    OrderedJson body = OrderedJson::object();
    if (on) body["on"] = *on;
    if (leadDays) body["leadDays"] = *leadDays;
    (void)Call("PATCH", "reminders", body);
  }

  app::BulkReport Bulk(const app::BulkSelection& selection,
                       const app::BulkChange& change) override {
    OrderedJson body = OrderedJson::object();
    if (selection.list) {
      body["query"] = selection.list->queryID ? OrderedJson(*selection.list->queryID) : nullptr;
    } else {
      body[selection.byNumber ? "numbers" : "ids"] = selection.ids;
    }
    if (!change.fields.empty()) body["changes"] = TextsOf(change.fields);
    body["move"] = app::BulkMoveWord(change.move);
    body["note"] = change.note;
    return app::BulkReportOf(Call("POST", "actions/bulk", body));
  }
  void Watch(int32_t actionID, bool watching) override {
    (void)Call(watching ? "PUT" : "DELETE", fmt::format("actions/{}/watch", actionID));
  }
  std::vector<app::Watcher> Watchers(int32_t actionID) override {
    return app::WatchersFrom(Call("GET", fmt::format("actions/{}/watchers", actionID)));
  }
  std::vector<std::string> WorkgroupLeads(
      int32_t groupID, const std::optional<std::vector<std::string>>& set) override {
    const std::string path = fmt::format("workgroups/{}/leads", groupID);
    const Json leads = set ? Call("PUT", path, {{"leads", *set}}) : Call("GET", path);
    return leads.at("leads").get<std::vector<std::string>>();
  }

  void Finish() override {}

 private:
  /// Sends a call; returns the answer's JSON (null for none), raising the error of any other.
  Json Call(const std::string& method, const std::string& path, const OrderedJson& body = nullptr) {
    const Answer answer = http_.Send(method, path, body.is_null() ? std::string() : body.dump());
    if (answer.status < 200 || answer.status > 299) RaiseError(http_, answer, user_);
    return answer.body.empty() ? Json() : BodyOf(http_, answer);
  }

  ado::RecordsetPtr Paged(const std::string& path,
                          const std::vector<std::pair<std::string, std::string>>& params,
                          int32_t limit, bool states) {
    return PagedTable(
        [this, path, params, states](const std::string& after, int32_t count) {
          auto all = params;
          if (states) all.emplace_back("states", "true");
          if (!after.empty()) all.emplace_back("after", after);
          all.emplace_back("page", std::to_string(count));
          return Call("GET", path + QueryString(http_, all));
        },
        pageRows_, limit);
  }

  int32_t Created(const Json& created) {
    const int32_t id = created.at("id").get<int32_t>();
    numbers_[id] = vb::TextOf(app::ValueOfJson(created.at("number"), ado::adInteger));
    return id;
  }

  /// A setting's value as SettingGet gives it: its JSON read as the key's form has it.
  static vb::Variant SettingValue(const std::string& key, const Json& value) {
    ado::DataTypeEnum type = ado::adVarWChar;
    try {
      type = app::SettingFormOf(key).type;
    } catch (const vb::ComError&) {  // NOLINT(bugprone-empty-catch): a key newer than this program
    }
    return app::ValueOfJson(value, type);
  }

  static std::string ColumnsText(const std::vector<std::string>& columns) {
    std::string text;
    for (const std::string& column : columns) text += (text.empty() ? "" : ",") + column;
    return text;
  }

  static OrderedJson TextsOf(const app::FieldTexts& texts) {
    OrderedJson object = OrderedJson::object();
    for (const auto& [column, text] : texts) object[column] = text;
    return object;
  }

  static std::vector<app::ReviewMove> MovesOf(const Json& moves) {
    std::vector<app::ReviewMove> all;
    for (const Json& move : moves) {
      all.push_back({move.at("name").get<std::string>(), move.at("title").get<std::string>()});
    }
    return all;
  }

  Http http_;
  vb::Locale locale_;
  std::shared_ptr<const vb::Clock> clock_;
  int32_t pageRows_;
  std::string user_;
  bool ownSession_ = false;
  /// The numbers of the actions met so far, by ActionID.
  std::map<int32_t, std::string> numbers_;
};

}  // namespace

std::string ServerAddress(const std::string& url, bool insecureHttp) {
  const auto refuse = [&] {
    BadValue("--server", url,
             "an https:// address (http:// only for this machine), without a user name, "
             "password, query or fragment");
  };
  std::string lower = url;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool https = lower.starts_with("https://");
  if (!https && !lower.starts_with("http://")) refuse();
  const std::size_t start = https ? 8 : 7;
  if (url.find_first_of("?#", start) != std::string::npos) refuse();
  const std::string authority = url.substr(start, url.find('/', start) - start);
  if (authority.empty() || authority.find('@') != std::string::npos) refuse();
  std::string host;
  if (authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) refuse();
    host = authority.substr(1, close - 1);
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  if (host.empty()) refuse();
  if (!https && !insecureHttp && !IsLoopback(host)) {
    throw UsageError(fmt::format(
        "--server: '{}' would send passwords and tokens unencrypted: use https://, or give "
        "--insecure-http on a network you trust (http:// is accepted for this machine only)",
        url));
  }
  std::string address = url;
  while (address.size() > start && address.back() == '/') address.pop_back();
  return address;
}

std::unique_ptr<Client> OpenRemoteClient(const Options& options) {
  auto client =
      std::make_unique<RemoteClient>(options, ServerAddress(options.server, options.insecureHttp));
  client->SignIn(options);
  return client;
}

void RemoteLogin(const Options& options) {
  const std::string server = ServerAddress(options.server, options.insecureHttp);
  const std::string user = RequiredUser(options);
  Http http(server, options);
  const std::string token = RemoteClient::SignInWithPassword(
      http, user, ReadPassword(options, "Password for " + user + ": "));
  const TokenFile file(ConfigFolderOf(options));
  file.Save({server, user, token});
  std::cout << "Signed in as " << user << " on " << server << "; the session is kept in "
            << file.Path().string() << ".\n";
}

void RemoteLogout(const Options& options) {
  const std::string server = ServerAddress(options.server, options.insecureHttp);
  const std::optional<SavedSession> kept = TokenFile(ConfigFolderOf(options)).Remove(server);
  if (!kept) {
    std::cout << "Nobody is signed in on " << server << ".\n";
    return;
  }
  Http http(server, options);
  http.Token(kept->token);
  const Answer answer = http.Send("DELETE", "session");
  // An ended session needs no ending: forgetting its token is enough.
  if (answer.status != 204 && answer.status != 401) RemoteClient::RaiseError(http, answer, {});
  std::cout << "Signed out " << kept->user << ".\n";
}

}  // namespace cli
