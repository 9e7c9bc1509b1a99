#include "web/Metrics.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <optional>
#include <thread>

#include <fmt/format.h>

#include "vb/ComError.h"
#include "web/Security.h"
#include "web/Site.h"

namespace web {
namespace {

// A label value of the text form: backslash, quote and line break escaped.
std::string Label(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string_view("\\n") : std::string_view(&c, 1);
  }
  return escaped;
}

constexpr std::array<std::string_view, kRefusalKinds> kRefusalNames = {
    "head_timeout", "body_timeout", "head_too_large", "body_too_large", "connections", "queue"};

}  // namespace

// One probe of the database at a time, shared with the thread that runs it, which may outlive
// the server when the database hangs.
struct Metrics::Probe {
  std::mutex mutex;
  std::condition_variable done;
  bool running = false;
  uint64_t rounds = 0;
  bool healthy = false;
};

Metrics::Metrics() : probe_(std::make_shared<Probe>()) {}

void Metrics::Count(std::string_view route, std::string_view method, int status,
                    std::chrono::microseconds time) {
  const double seconds = static_cast<double>(time.count()) / 1e6;
  const auto bucket = static_cast<size_t>(
      std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds) - kBuckets.begin());
  const std::lock_guard lock(mutex_);
  ++requests_[{std::string(route.empty() ? "(none)" : route), std::string(method), status}];
  ++histogram_[bucket];
  seconds_ += seconds;
  ++count_;
  if (status >= 500 && status != 503) ++serverErrors_;
}

std::string Metrics::Text(const app::DatabaseStatus* status, size_t idleDatabases) const {
  std::string text;
  const auto family = [&](std::string_view name, std::string_view type, std::string_view help) {
    text += fmt::format("# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
  };
  const std::lock_guard lock(mutex_);
  family("kvaction_http_requests_total", "counter", "Requests answered, by route and status.");
  for (const auto& [key, count] : requests_) {
    const auto& [route, method, code] = key;
    text +=
        fmt::format("kvaction_http_requests_total{{route=\"{}\",method=\"{}\",status=\"{}\"}} {}\n",
                    Label(route), Label(method), code, count);
  }
  family("kvaction_http_request_duration_seconds", "histogram",
         "Time from a request read to its answer written.");
  int64_t cumulative = 0;
  for (size_t i = 0; i <= kBuckets.size(); ++i) {
    cumulative += histogram_[i];
    text += fmt::format("kvaction_http_request_duration_seconds_bucket{{le=\"{}\"}} {}\n",
                        i < kBuckets.size() ? fmt::format("{}", kBuckets[i]) : "+Inf", cumulative);
  }
  text += fmt::format("kvaction_http_request_duration_seconds_sum {}\n", seconds_);
  text += fmt::format("kvaction_http_request_duration_seconds_count {}\n", count_);
  family("kvaction_http_refused_total", "counter",
         "Requests and connections the server refused or cut by itself, by reason.");
  for (size_t i = 0; i < kRefusalKinds; ++i) {
    text += fmt::format("kvaction_http_refused_total{{reason=\"{}\"}} {}\n", kRefusalNames[i],
                        refused_[i].load());
  }
  const auto gauge = [&](std::string_view name, std::string_view help, auto value) {
    family(name, "gauge", help);
    text += fmt::format("{} {}\n", name, value);
  };
  gauge("kvaction_http_connections_open", "Open client connections.", openConnections.load());
  gauge("kvaction_http_connections_idle", "Connections waiting for their next request.",
        idleConnections.load());
  gauge("kvaction_worker_queue_depth", "Requests waiting for a worker.", queueDepth.load());
  gauge("kvaction_worker_busy", "Workers running a request.", busyWorkers.load());
  family("kvaction_database_errors_total", "counter",
         "Requests that failed in the database or the server (answered 500), and failed "
         "reads of the status below.");
  text += fmt::format("kvaction_database_errors_total {}\n", serverErrors_ + (status ? 0 : 1));
  gauge("kvaction_database_up", "Whether the status below could be read.", status ? 1 : 0);
  gauge("kvaction_database_connections_idle", "Open databases kept for the next requests.",
        idleDatabases);
  if (status) {
    gauge("kvaction_outbox_waiting", "Notices waiting in the outbox.", status->waitingMail);
    gauge("kvaction_outbox_oldest_waiting_seconds", "Age of the oldest waiting notice.",
          status->oldestWaitingSeconds);
    gauge("kvaction_hooks_waiting", "Webhook deliveries waiting.", status->waitingHooks);
    gauge("kvaction_hooks_oldest_waiting_seconds", "Age of the oldest waiting delivery.",
          status->oldestHookSeconds);
    gauge("kvaction_sessions", "Sessions not yet expired.", status->sessions);
  }
  return text;
}

bool Metrics::Healthy(const app::OpenOptions& open, std::chrono::milliseconds limit) {
  std::unique_lock lock(probe_->mutex);
  if (!probe_->running) {
    probe_->running = true;
    std::thread([probe = probe_, open] {
      bool healthy = false;
      try {
        app::Ping(open);
        healthy = true;
      } catch (const std::exception&) {
      }
      const std::lock_guard done(probe->mutex);
      probe->healthy = healthy;
      probe->running = false;
      ++probe->rounds;
      probe->done.notify_all();
    }).detach();
  }
  const uint64_t round = probe_->rounds;
  return probe_->done.wait_for(lock, limit, [&] { return probe_->rounds != round; }) &&
         probe_->healthy;
}

bool IsLoopback(std::string_view address) {
  if (address.starts_with("::ffff:")) address.remove_prefix(7);
  return address.starts_with("127.") || address == "::1";
}

bool MayReadMetrics(std::string_view address, std::string_view authorization,
                    std::string_view token) {
  constexpr std::string_view kScheme = "Bearer ";
  return IsLoopback(address) || (!token.empty() && authorization.starts_with(kScheme) &&
                                 SameSecret(authorization.substr(kScheme.size()), token));
}

std::string AccessLogLine(std::string_view method, std::string_view target, int status,
                          size_t bytes, std::chrono::microseconds time, std::string_view userID) {
  // Bytes outside printable ASCII are escaped, so a line stays one line; of the query only the
  // field names are kept, since the values may hold what people typed.
  const auto printable = [](std::string_view text) {
    std::string kept;
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      kept += byte <= 0x20 || byte >= 0x7f ? fmt::format("%{:02X}", byte) : std::string(1, c);
    }
    return kept;
  };
  const size_t question = target.find('?');
  std::string path = printable(target.substr(0, question));
  if (question != std::string_view::npos) {
    char separator = '?';
    for (std::string_view query = target.substr(question + 1); !query.empty();) {
      const size_t end = std::min(query.find('&'), query.size());
      path += separator + printable(query.substr(0, std::min(query.find('='), end)));
      separator = '&';
      query.remove_prefix(std::min(end + 1, query.size()));
    }
  }
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::array<char, 32> stamp{};
  (void)std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return fmt::format("{} {} {} {} {} {}us {}\n", stamp.data(), printable(method), path, status,
                     bytes, time.count(), userID.empty() ? "-" : printable(userID));
}

void HealthPage(Site& site, const Request&, Response& response) {
  AddSecurityHeaders(response);
  const bool healthy = site.metrics.Healthy(site.options.open, std::chrono::seconds(1));
  response.status = healthy ? 200 : 503;
  response.set_content(healthy ? "ok\n" : "unavailable\n", "text/plain; charset=utf-8");
}

void MetricsPage(Site& site, const Request& request, Response& response) {
  AddSecurityHeaders(response);
  if (!MayReadMetrics(request.remote_addr, request.get_header_value("Authorization"),
                      site.options.metricsToken)) {
    response.status = 403;
    return response.set_content("The metrics are for this machine or the metrics token.\n",
                                "text/plain; charset=utf-8");
  }
  std::optional<app::DatabaseStatus> status;
  try {
    status = app::StatusOf(site.options.open);
  } catch (const std::exception& error) {
    std::cerr << "kvaction serve: metrics: " << error.what() << '\n';
  }
  response.set_content(site.metrics.Text(status ? &*status : nullptr, site.pool.Idle()),
                       "text/plain; version=0.0.4; charset=utf-8");
}

}  // namespace web
