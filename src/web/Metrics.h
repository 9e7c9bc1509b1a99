#pragma once
// What one server process counts for its operator (GET /metrics, in the Prometheus text form),
// whether it can reach its database (GET /healthz), and the access log line of each request.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

#include "app/Session.h"
#include "web/Http.h"

namespace web {

struct Site;

/// Why the server refused a request or a connection by itself.
enum class Refusal { HeadTimeout, BodyTimeout, HeadTooLarge, BodyTooLarge, Connections, Queue };
inline constexpr size_t kRefusalKinds = 6;

/// The counters of one server; safe to update from every thread.
class Metrics {
 public:
  Metrics();
  /// Counts one answered request: its route's pattern ("" for none), method, status and time.
  void Count(std::string_view route, std::string_view method, int status,
             std::chrono::microseconds time);
  void Refused(Refusal why) { refused_[static_cast<size_t>(why)].fetch_add(1); }

  std::atomic<int64_t> openConnections{0};
  std::atomic<int64_t> idleConnections{0};
  std::atomic<int64_t> queueDepth{0};
  std::atomic<int64_t> busyWorkers{0};

  /// The Prometheus text of every counter, with status read from the database (nullptr: it
  /// could not be read) and the number of open databases kept for the next requests.
  [[nodiscard]] std::string Text(const app::DatabaseStatus* status, size_t idleDatabases) const;

  /// Whether the database answers a trivial query within limit. One probe runs at a time; a
  /// probe that hangs is left to end by itself and this answers false.
  [[nodiscard]] bool Healthy(const app::OpenOptions& open, std::chrono::milliseconds limit);

 private:
  static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                      0.1,   0.25,   0.5,   1,    2.5,   10};
  mutable std::mutex mutex_;
  std::map<std::tuple<std::string, std::string, int>, int64_t> requests_;
  std::array<int64_t, kBuckets.size() + 1> histogram_{};
  double seconds_ = 0;
  int64_t count_ = 0;
  int64_t serverErrors_ = 0;
  std::array<std::atomic<int64_t>, kRefusalKinds> refused_{};
  struct Probe;
  std::shared_ptr<Probe> probe_;
};

/// Whether address (as the server reports a client's) is this machine's.
[[nodiscard]] bool IsLoopback(std::string_view address);

/// Whether a client may read /metrics: one on this machine, or one whose Authorization header
/// carries token ("Bearer TOKEN"; never with an empty token).
[[nodiscard]] bool MayReadMetrics(std::string_view address, std::string_view authorization,
                                  std::string_view token);

/// The access log line of one request: time, method, path (query field names without their
/// values), status, bytes of the body sent, microseconds, the signed-in user or "-".
[[nodiscard]] std::string AccessLogLine(std::string_view method, std::string_view target,
                                        int status, size_t bytes, std::chrono::microseconds time,
                                        std::string_view userID);

/// GET /healthz: 200 when the database answers within a second, 503 otherwise; says no more.
void HealthPage(Site& site, const Request& request, Response& response);
/// GET /metrics: the counters, to a client on this machine or one sending the metrics token.
void MetricsPage(Site& site, const Request& request, Response& response);

}  // namespace web
