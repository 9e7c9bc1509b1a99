#pragma once
// Answers kept between changes of the data: what a page reads on every request (the alert
// count, a list's total, the session's row, the display labels) is the same until something is
// written, so it is read once per change and kept, shared by every session of the process.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace kvdata {
class DataConnection;
}

namespace app {
class Session;
}

namespace app::internal {

/// What a kept answer holds for: the data as one connection saw it (its change stamp), the day
/// (or, in the server dialect, the moment) a condition compares due dates with, by the
/// connection's clock and so in its time zone, and what was asked: for a list's count the whole
/// count statement, which names the person, the filters and any literal dates.
struct KeptKey {
  uint64_t stamp = 0;
  double moment = 0;
  std::string what;
  friend auto operator<=>(const KeptKey&, const KeptKey&) = default;
};

/// The key of what on the connection's data now. Nothing inside a transaction: an answer there
/// holds the transaction's own writes, which a rollback takes back without moving the stamp.
/// The stamp is taken here, before the answer is read: a change after it gives the next call
/// another stamp, so a kept answer never outlives the data it was read from.
[[nodiscard]] std::optional<KeptKey> KeyOf(kvdata::DataConnection& connection, std::string what);

/// The answers of one type read lately. Kept small: the oldest stamps go first when it is full.
template <class T>
class KeptAnswers {
 public:
  [[nodiscard]] std::optional<T> Find(const KeptKey& key) {
    const std::lock_guard lock(mutex_);
    const auto found = answers_.find(key);
    if (found == answers_.end()) return std::nullopt;
    return found->second;
  }
  void Keep(KeptKey key, T answer) {
    const std::lock_guard lock(mutex_);
    if (answers_.size() >= kMaxAnswers) answers_.erase(answers_.begin());
    answers_.insert_or_assign(std::move(key), std::move(answer));
  }

 private:
  static constexpr size_t kMaxAnswers = 4096;
  std::mutex mutex_;
  std::map<KeptKey, T> answers_;
};

/// The answer to what: kept from an earlier read of the same thing on the same data and day, or
/// read now (and kept). connection null: read every time.
template <class T>
T Kept(kvdata::DataConnection* connection, std::string what, const std::function<T()>& read) {
  static KeptAnswers<T> answers;
  auto key = connection ? KeyOf(*connection, std::move(what)) : std::nullopt;
  if (!key) return read();
  if (auto kept = answers.Find(*key)) return std::move(*kept);
  T answer = read();
  answers.Keep(std::move(*key), answer);
  return answer;
}

/// The connection of the session's data server (null when it has none).
[[nodiscard]] kvdata::DataConnection* ConnectionOf(Session& session);

/// Kept on the session's connection.
template <class T>
T Kept(Session& session, std::string what, const std::function<T()>& read) {
  return Kept<T>(ConnectionOf(session), std::move(what), read);
}

}  // namespace app::internal
