#pragma once
// A signed-in person over one Action. Sign in with a user ID and password, or resume with the
// token of an earlier sign-in: sessions are rows of the database (the token's hash, the user,
// the expiry), so a command-line sign-in and a web sign-in work alike, and several processes can
// share them. Creating and upgrading databases also lives here.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvaction/Action.h"
#include "kvdata/Password.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace app {

class VerifiedSender;

/// How a session opens its database.
struct OpenOptions {
  std::string connection;                  ///< connection string (a bare path is a SQLite file)
  std::shared_ptr<const vb::Clock> clock;  ///< nothing: the system clock
  vb::Locale locale = vb::Locale::EnUS();  ///< the person's short date form
  /// Work of the password hashes this session makes (Minimum only for tests and tools).
  kvdata::PasswordCost cost = kvdata::PasswordCost::Interactive;
  /// Whether changes queue notices when AutoEmail is on (false for bulk work).
  bool mail = true;
};

/// The feeds a program reads from a person's secret address without signing in: the calendar
/// (app/Calendar.h) and the activity (app/Activity.h). Each has its own secret, so that giving
/// one address to a calendar service gives it nothing else.
enum class Feed { Calendar, Activity };
/// The profile key under which the hash of a person's secret for feed is kept.
[[nodiscard]] std::string_view FeedSecretKey(Feed feed);

/// How long a token stays valid after sign-in.
inline constexpr std::chrono::hours kDefaultTokenLifetime{24 * 30};

/// The least password length accepted for a new or changed password.
inline constexpr size_t kMinPasswordLength = 8;

class Session {
 public:
  /// Opens the database and checks the password. Raises kvuser::kLoginFailed (same text for an
  /// unknown user and a wrong password). No session row is written.
  [[nodiscard]] static Session SignIn(const OpenOptions& options, std::string_view userID,
                                      std::string_view password);
  /// SignIn, then stores a new session row and returns its token through token (random, 256
  /// bits, hex; only its hash is stored). Needs the sessions table (see Upgrade).
  [[nodiscard]] static Session SignIn(const OpenOptions& options, std::string_view userID,
                                      std::string_view password, std::string& token,
                                      std::chrono::seconds lifetime = kDefaultTokenLifetime);
  /// Opens the database as the user of a stored, unexpired session; no password hashing.
  /// Raises kNotSignedIn for an unknown or expired token.
  [[nodiscard]] static Session Resume(const OpenOptions& options, std::string_view token);
  /// Opens the database as the person whose address of feed has secret. Raises kNotFound for
  /// a secret that is no one's, or no longer.
  [[nodiscard]] static Session OfFeed(const OpenOptions& options, Feed feed,
                                      std::string_view secret,
                                      std::unique_ptr<kvaction::Action> opened);
  /// Resume on a database that an earlier session opened with the same options (see
  /// TakeAction): the same checks and profile, without opening again. nullptr: opens it.
  /// For one request of a server: until TakeAction the session takes the data as of its start
  /// for the answers app/ keeps between changes of the data (the session's row and profile, the
  /// alert count, a list's total, the labels), so they cost no round trip to the database; what
  /// other processes commit meanwhile is seen by the next request, this session's writes at once.
  [[nodiscard]] static Session Resume(const OpenOptions& options, std::string_view token,
                                      std::unique_ptr<kvaction::Action> opened);

  /// Opens the database as the sender of a mail reply whose token app/Replies verified (see
  /// ReceiveReply); no password is asked, as the token stands for one.
  [[nodiscard]] static Session OfVerifiedSender(const OpenOptions& options,
                                                const VerifiedSender& sender,
                                                std::unique_ptr<kvaction::Action> opened);

  Session(Session&&) noexcept;
  Session& operator=(Session&&) noexcept;
  ~Session();

  /// Removes this session's row (when it came from a token); the object stays usable.
  void SignOut();
  /// Removes every expired session row; returns how many.
  int32_t PurgeExpired();

  /// Takes the open database out of the session for a later Resume; the session is done.
  [[nodiscard]] std::unique_ptr<kvaction::Action> TakeAction() &&;

  /// The library object, opened and logged in as this person.
  [[nodiscard]] kvaction::Action& action() { return *action_; }
  [[nodiscard]] const std::string& userID() const { return userID_; }
  [[nodiscard]] const vb::Locale& locale() const { return options_.locale; }
  [[nodiscard]] const OpenOptions& options() const { return options_; }

 private:
  Session(OpenOptions options, std::unique_ptr<kvaction::Action> action, std::string userID,
          std::string tokenHash);
  [[nodiscard]] static Session Resume(const OpenOptions& options, std::string_view token,
                                      std::unique_ptr<kvaction::Action> opened, bool holdStamp);
  void ReleaseStamp() noexcept;
  OpenOptions options_;
  std::unique_ptr<kvaction::Action> action_;
  std::string userID_;
  std::string tokenHash_;
  bool holdsStamp_ = false;  // see Resume with an opened database
};

/// The first user of a new database.
struct FirstUser {
  std::string userID;
  std::string userName;
  std::string password;  ///< at least kMinPasswordLength characters
  std::string email;     ///< the address notices come from and go to; "" for none yet
};

/// Creates a new action database with its first user (a SuperUser) and a least-privilege default
/// workgroup "Staff" that AddUser uses unless told otherwise (settings key "DefaultWorkgroup").
/// Raises kInvalidInput for a missing ID, a too-short password or an e-mail address that is not
/// one; nothing is created then.
void CreateDatabase(const OpenOptions& options, const FirstUser& user);

/// Adds to an existing action database what this release needs and an older one lacks (the
/// sessions table, the shared flag of saved queries, the default workgroup). Returns a line per
/// change made; nothing when the database is up to date. Safe to run again.
std::vector<std::string> Upgrade(const OpenOptions& options);

/// What a server reports about the database it serves (for its metrics): the mail waiting in the
/// outbox and how long the oldest has waited, and the sessions not yet expired.
struct DatabaseStatus {
  int64_t waitingMail = 0;
  double oldestWaitingSeconds = 0;  ///< 0 when no mail waits
  int64_t waitingHooks = 0;         ///< webhook deliveries not yet made nor given up
  double oldestHookSeconds = 0;     ///< 0 when no delivery waits
  int64_t sessions = 0;
};
/// Opens the database (no one signed in) and reads one row; raises when it cannot.
void Ping(const OpenOptions& options);
/// Opens the database (no one signed in) and reads its DatabaseStatus.
[[nodiscard]] DatabaseStatus StatusOf(const OpenOptions& options);

/// The settings among keys that hold a whole number, read with no one signed in: what a server
/// reads of its own settings when it starts. A key not set, or set to something else, is left out.
[[nodiscard]] std::map<std::string, int32_t> NumberSettings(const OpenOptions& options,
                                                            const std::vector<std::string>& keys);

/// The rights of the default workgroup that CreateDatabase and Upgrade create.
inline constexpr std::string_view kDefaultWorkgroupRights = "50,52,64,65,70,81,82";
inline constexpr std::string_view kDefaultWorkgroupName = "Staff";

/// A new secret for the person's address of feed; any earlier one stops working. Only its hash
/// is kept, so this is the one time it can be shown.
[[nodiscard]] std::string RenewFeedSecret(Session& session, Feed feed);
/// Whether the person has an address of feed now.
[[nodiscard]] bool HasFeedSecret(Session& session, Feed feed);
/// Ends the person's address of feed (nothing when there is none).
void EndFeedSecret(Session& session, Feed feed);

}  // namespace app
