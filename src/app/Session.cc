#include "app/Session.h"

#include <sodium.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Kept.h"
#include "app/Replies.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/schema/Schema.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

constexpr size_t kTokenBytes = 32;

}  // namespace

namespace internal {
namespace {
std::string Hex(const unsigned char* bytes, size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

}  // namespace

// Tokens are random, so a fast hash suffices: only the hash is stored, and a stolen table
// gives no usable token.
std::string TokenHash(std::string_view token) {
  std::array<unsigned char, crypto_generichash_BYTES> hash{};
  crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return Hex(hash.data(), hash.size());
}

std::string NewToken() {
  if (sodium_init() < 0)
    throw vb::ComError(kNotSignedIn, std::string(kSource), "No random source.");
  std::array<unsigned char, kTokenBytes> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  return Hex(bytes.data(), bytes.size());
}

}  // namespace internal

namespace {
using internal::NewToken;
using internal::TokenHash;

OpenOptions Completed(OpenOptions options) {
  if (!options.clock) options.clock = vb::SystemClock::Instance();
  return options;
}

std::unique_ptr<kvaction::Action> Opened(const OpenOptions& options) {
  auto action = std::make_unique<kvaction::Action>();
  action->SetClock(options.clock);
  action->SetLocale(options.locale);
  action->OpenConnection(options.connection);
  return action;
}

vb::Date ExpiryAfter(const vb::Clock& clock, std::chrono::seconds lifetime) {
  return vb::Date::FromSerial(clock.Now().Serial() +
                              static_cast<double>(lifetime.count()) / 86400.0);
}

}  // namespace

Session::Session(OpenOptions options, std::unique_ptr<kvaction::Action> action, std::string userID,
                 std::string tokenHash)
    : options_(std::move(options)),
      action_(std::move(action)),
      userID_(std::move(userID)),
      tokenHash_(std::move(tokenHash)) {}

Session::Session(Session&& other) noexcept
    : options_(std::move(other.options_)),
      action_(std::move(other.action_)),
      userID_(std::move(other.userID_)),
      tokenHash_(std::move(other.tokenHash_)),
      holdsStamp_(std::exchange(other.holdsStamp_, false)) {}

Session& Session::operator=(Session&& other) noexcept {
  if (this != &other) {
    ReleaseStamp();
    options_ = std::move(other.options_);
    action_ = std::move(other.action_);
    userID_ = std::move(other.userID_);
    tokenHash_ = std::move(other.tokenHash_);
    holdsStamp_ = std::exchange(other.holdsStamp_, false);
  }
  return *this;
}

Session::~Session() { ReleaseStamp(); }

void Session::ReleaseStamp() noexcept {
  if (!std::exchange(holdsStamp_, false) || !action_) return;
  if (const auto server = action_->DataServer()) {
    if (const auto connection = server->Connection()) connection->HoldChangeStamp(false);
  }
}

std::unique_ptr<kvaction::Action> Session::TakeAction() && {
  ReleaseStamp();
  return std::move(action_);
}

Session Session::SignIn(const OpenOptions& given, std::string_view userID,
                        std::string_view password) {
  OpenOptions options = Completed(given);
  auto action = Opened(options);
  action->Login(userID, password);
  return {std::move(options), std::move(action), std::string(userID), {}};
}

Session Session::SignIn(const OpenOptions& options, std::string_view userID,
                        std::string_view password, std::string& token,
                        std::chrono::seconds lifetime) {
  Session session = SignIn(options, userID, password);
  std::string fresh = NewToken();
  std::string hash = TokenHash(fresh);
  auto& connection = internal::Connection(session);
  const auto rs =
      internal::WritableRows(connection, "select * from ActionSessions where TokenHash = ''");
  const vb::Date now = session.options_.clock->Now();
  rs->AddNew({"TokenHash", "UserID", "Created", "Expires"},
             {hash, std::string(userID), now, ExpiryAfter(*session.options_.clock, lifetime)});
  session.tokenHash_ = std::move(hash);
  token = std::move(fresh);
  return session;
}

namespace {

// The row of a session token: whose it is and until when.
struct SessionRow {
  std::string userID;
  vb::Date expires;
};

[[noreturn]] void NotSignedIn() {
  throw vb::ComError(kNotSignedIn, std::string(kSource),
                     "The session has ended or is unknown: sign in again.");
}

// The profiles read lately, each by the connection it belongs to and under its stamp: the
// profile a kept database holds serves its person again while nothing was written since.
internal::KeptAnswers<const kvdata::UserProfile*>& ReadProfiles() {
  static internal::KeptAnswers<const kvdata::UserProfile*> profiles;
  return profiles;
}

// Gives action the profile of userID: the one it holds when that was read on the data as they
// are, else the directory's.
void SetProfileOf(kvaction::Action& action, const std::string& userID) {
  auto& server = *action.DataServer();
  const auto connection = server.Connection();
  auto key = internal::KeyOf(*connection, "profile of " + userID);
  const auto held = action.UserProfile();
  if (key && held && held->UserID() == userID) {
    if (const auto read = ReadProfiles().Find(*key); read && *read == held.get()) return;
  }
  auto profile = kvdata::UserProfile::ForUser(connection, userID);
  server.SetProfile(&profile);
  if (key) ReadProfiles().Keep(std::move(*key), profile.get());
}

}  // namespace

Session Session::Resume(const OpenOptions& given, std::string_view token) {
  return Resume(given, token, nullptr, false);
}

Session Session::Resume(const OpenOptions& given, std::string_view token,
                        std::unique_ptr<kvaction::Action> opened) {
  return Resume(given, token, std::move(opened), true);
}

Session Session::Resume(const OpenOptions& given, std::string_view token,
                        std::unique_ptr<kvaction::Action> opened, bool holdStamp) {
  OpenOptions options = Completed(given);
  auto action = opened ? std::move(opened) : Opened(options);
  // A database kept open may have served someone who reads another date form.
  action->SetLocale(options.locale);
  const auto connection = action->DataServer()->Connection();
  if (holdStamp) connection->HoldChangeStamp(true);
  // From here the session releases the hold, whatever happens next.
  Session session(std::move(options), std::move(action), {}, {});
  session.holdsStamp_ = holdStamp;
  const std::string hash = TokenHash(token);
  // An unknown token is not kept: guessing tokens cannot push the known ones out.
  const auto row = internal::Kept<SessionRow>(connection.get(), "session " + hash, [&] {
    const auto rs = internal::ReadRows(
        *connection, "select UserID, Expires from ActionSessions where TokenHash = " +
                         DataUtility::SqlText(hash));
    if (rs->IsEOF()) NotSignedIn();
    return SessionRow{vb::CStr((*rs)["UserID"].Value()), vb::CDate((*rs)["Expires"].Value())};
  });
  if (row.expires <= session.options_.clock->Now()) NotSignedIn();
  SetProfileOf(*session.action_, row.userID);
  session.userID_ = row.userID;
  session.tokenHash_ = hash;
  return session;
}

std::string_view FeedSecretKey(Feed feed) {
  return feed == Feed::Calendar ? "CalendarSecret" : "ActivitySecret";
}

Session Session::OfFeed(const OpenOptions& given, Feed feed, std::string_view secret,
                        std::unique_ptr<kvaction::Action> opened) {
  OpenOptions options = Completed(given);
  auto action = opened ? std::move(opened) : Opened(options);
  auto& connection = *action->DataServer()->Connection();
  const auto rs = internal::ReadRows(
      connection, "select UserID from ActionProfiles where ProfileKey = " +
                      DataUtility::SqlText(FeedSecretKey(feed)) +
                      " and ValueText = " + DataUtility::SqlText(TokenHash(secret)));
  if (rs->IsEOF()) {
    throw NotFound(feed == Feed::Calendar ? "calendar" : "activity feed", "address", "given");
  }
  const std::string userID = vb::CStr((*rs)["UserID"].Value());
  auto profile = kvdata::UserProfile::ForUser(action->DataServer()->Connection(), userID);
  action->DataServer()->SetProfile(&profile);
  return {std::move(options), std::move(action), userID, {}};
}

Session Session::OfVerifiedSender(const OpenOptions& given, const VerifiedSender& sender,
                                  std::unique_ptr<kvaction::Action> opened) {
  OpenOptions options = Completed(given);
  auto action = opened ? std::move(opened) : Opened(options);
  auto profile = kvdata::UserProfile::ForUser(action->DataServer()->Connection(), sender.userID());
  action->DataServer()->SetProfile(&profile);
  return {std::move(options), std::move(action), sender.userID(), {}};
}

void Session::SignOut() {
  if (tokenHash_.empty()) return;
  (void)internal::Connection(*this).Execute("delete from ActionSessions where TokenHash = " +
                                            DataUtility::SqlText(tokenHash_));
  tokenHash_.clear();
}

int32_t Session::PurgeExpired() {
  // Few rows: compared here, so the date comparison does not depend on the engine's forms.
  auto& connection = internal::Connection(*this);
  const vb::Date now = options_.clock->Now();
  const auto rs = internal::ReadRows(connection, "select TokenHash, Expires from ActionSessions");
  std::vector<std::string> expired;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (vb::CDate((*rs)["Expires"].Value()) <= now)
      expired.push_back(vb::CStr((*rs)["TokenHash"].Value()));
  }
  for (const auto& hash : expired) {
    (void)connection.Execute("delete from ActionSessions where TokenHash = " +
                             DataUtility::SqlText(hash));
  }
  return static_cast<int32_t>(expired.size());
}

void Ping(const OpenOptions& options) {
  const auto action = Opened(Completed(options));
  (void)internal::ReadRows(*action->DataServer()->Connection(),
                           "select count(*) as n from ActionSessions");
}

std::map<std::string, int32_t> NumberSettings(const OpenOptions& options,
                                              const std::vector<std::string>& keys) {
  const auto action = Opened(Completed(options));
  const auto settings = action->DataServer()->Settings();
  std::map<std::string, int32_t> numbers;
  for (const std::string& key : keys) {
    const vb::Variant value = settings->Value(key);
    if (value.IsEmpty() || value.IsNull()) continue;
    try {
      numbers[key] = vb::CLng(value);
    } catch (const vb::ComError&) {
      // Stored by hand as something else: the default holds.
    }
  }
  return numbers;
}

DatabaseStatus StatusOf(const OpenOptions& given) {
  // Few rows in either table, compared here like PurgeExpired: no engine's date forms involved.
  const OpenOptions options = Completed(given);
  const auto action = Opened(options);
  auto& connection = *action->DataServer()->Connection();
  const vb::Date now = options.clock->Now();
  DatabaseStatus status;
  auto rs = internal::ReadRows(connection, "select Expires from ActionSessions");
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (vb::CDate((*rs)["Expires"].Value()) > now) ++status.sessions;
  }
  // What waits to go out, and since when.
  const auto waiting = [&](const std::string& sql, int64_t& count, double& oldestSeconds) {
    for (auto rows = internal::ReadRows(connection, sql); !rows->IsEOF(); rows->MoveNext()) {
      ++count;
      const double age = (now.Serial() - vb::CDate((*rows)["Created"].Value()).Serial()) * 86400.0;
      oldestSeconds = std::max(oldestSeconds, age);
    }
  };
  waiting("select Created from ActionOutbox where Sent is null and GaveUp is null",
          status.waitingMail, status.oldestWaitingSeconds);
  waiting("select Created from ActionHookDeliveries where Delivered is null and GaveUp is null",
          status.waitingHooks, status.oldestHookSeconds);
  return status;
}

void CreateDatabase(const OpenOptions& given, const FirstUser& user) {
  const OpenOptions options = Completed(given);
  if (user.userID.empty()) throw Invalid("user", {}, "a user ID is required");
  internal::CheckSize("user", user.userID, 50);
  internal::CheckPassword(user.password);
  internal::CheckEmail(user.email);
  kvdata::DataServer::CreateDatabase(
      options.connection,
      {user.userID, user.userName.empty() ? user.userID : user.userName, user.password,
       options.cost},
      options.clock);
  (void)Upgrade(options);
  if (user.email.empty()) return;
  // The library creates the first user without an address; it is stored as an edit stores one.
  const auto action = Opened(options);
  const auto rs = internal::WritableRows(
      *action->DataServer()->Connection(),
      "select * from Users where UserID = " + DataUtility::SqlText(user.userID));
  (*rs)["Email"].Value(vb::Variant(user.email));
  rs->Update();
}

std::vector<std::string> Upgrade(const OpenOptions& given) {
  const OpenOptions options = Completed(given);
  auto action = Opened(options);
  auto server = action->DataServer();
  auto& connection = *server->Connection();
  std::vector<std::string> changes = kvdata::schema::UpgradeActionDatabase(connection);
  const auto settings = server->Settings();
  const vb::Variant current = settings->Value("DefaultWorkgroup");
  if (current.IsEmpty() || current.IsNull()) {
    const int32_t id =
        server->Workgroups()->CreateWorkgroup(kDefaultWorkgroupName, kDefaultWorkgroupRights);
    settings->Value("DefaultWorkgroup", vb::Variant(id));
    settings->Save();
    changes.push_back(fmt::format("Added the default workgroup {} ({}) with rights {}.",
                                  kDefaultWorkgroupName, id, kDefaultWorkgroupRights));
  }
  // The key of the reply addresses' tokens: random, made once, never shown by the product.
  const vb::Variant secret = settings->Value(kReplySecretKey);
  if (secret.IsEmpty() || secret.IsNull()) {
    settings->Value(kReplySecretKey, vb::Variant(internal::NewToken()));
    settings->Save();
    changes.emplace_back("Added the secret of the reply addresses of notices.");
  }
  return changes;
}

std::string RenewFeedSecret(Session& session, Feed feed) {
  std::string secret = internal::NewToken();
  session.action().UserProfile()->Value(FeedSecretKey(feed),
                                        vb::Variant(internal::TokenHash(secret)));
  return secret;
}

bool HasFeedSecret(Session& session, Feed feed) {
  const vb::Variant hash = session.action().UserProfile()->Value(FeedSecretKey(feed));
  return !hash.IsEmpty() && !hash.IsNull() && !vb::CStr(hash).empty();
}

void EndFeedSecret(Session& session, Feed feed) {
  session.action().UserProfile()->Value(FeedSecretKey(feed), vb::Variant());
}

}  // namespace app
