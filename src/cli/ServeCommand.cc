// `kvaction serve`: runs the web front end on the options' database until interrupted, and,
// as the signed-in SuperUser who starts it, the mail work: delivery of the outbox every
// interval and the daily reminders at the setting ReminderTime.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

#include <fmt/format.h>

#include "app/Schedule.h"
#include "app/Session.h"
#include "cli/Cli.h"
#include "vb/ComError.h"
#include "web/MailWorker.h"
#include "web/Server.h"

namespace cli {
namespace {

// Blocks SIGINT and SIGTERM in every thread started afterwards; stop() runs on the first one.
class StopOnSignal {
 public:
  explicit StopOnSignal(web::Server& server) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    waiter_ = std::thread([this, &server] {
      int signal = 0;
      sigwait(&signals_, &signal);
      if (signal == SIGINT || signal == SIGTERM) server.Stop();
    });
  }
  ~StopOnSignal() {
    // Wake the waiter when the server stopped for another reason.
    pthread_kill(waiter_.native_handle(), SIGTERM);
    waiter_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  sigset_t signals_{};
  sigset_t previous_{};
  std::thread waiter_;
};

/// The mail work, when the person starting the server is a signed-in SuperUser; otherwise a
/// note on standard error says why the server sends no mail.
std::unique_ptr<web::MailWorker> StartMailWork(const Options& options,
                                               const std::string& passwordFile, int seconds) {
  try {
    web::SessionOpener open = SessionOpenerOf(options);
    app::Session first = open();
    app::RequireMailWork(first);
    return std::make_unique<web::MailWorker>(std::move(open), RelayPasswordFrom(passwordFile),
                                             std::chrono::seconds(seconds), std::cerr);
  } catch (const vb::ComError& e) {
    std::cerr << "kvaction serve: this server delivers no mail and sends no reminders ("
              << e.description()
              << "); sign in as a SuperUser ('kvaction login') before starting it, or run "
                 "'kvaction mail send' and 'kvaction remind' from cron.\n";
  }
  return nullptr;
}

// One deadline or limit of the server: its option, the setting that gives it when the option is
// not given (counted in units of `unit`, so that it fits a setting's number), its bounds and
// where it goes in web::ServeOptions. An option beats the setting, the setting the default.
struct Limit {
  const char* option;
  const char* setting;
  const char* help;
  int64_t unit;
  int64_t least;
  int64_t most;
  int64_t (*get)(const web::ServeOptions&);
  void (*set)(web::ServeOptions&, int64_t);
};

template <auto Member>
constexpr Limit SecondsLimit(const char* option, const char* setting, const char* help) {
  return {
      option,
      setting,
      help,
      1,
      1,
      86400,
      [](const web::ServeOptions& o) { return static_cast<int64_t>((o.limits.*Member).count()); },
      [](web::ServeOptions& o, int64_t v) { o.limits.*Member = std::chrono::seconds(v); }};
}

template <auto Member>
constexpr Limit CountLimit(const char* option, const char* setting, const char* help, int64_t unit,
                           int64_t least, int64_t most = int64_t{1} << 40) {
  return {option,
          setting,
          help,
          unit,
          least,
          most,
          [](const web::ServeOptions& o) { return static_cast<int64_t>(o.limits.*Member); },
          [](web::ServeOptions& o, int64_t v) { o.limits.*Member = static_cast<size_t>(v); }};
}

const std::vector<Limit>& Limits() {
  using L = web::ServeLimits;
  static const std::vector<Limit> limits = {
      SecondsLimit<&L::headTimeout>("--head-timeout", "WebHeadTimeout",
                                    "Deadline for a request's head, from its first byte (seconds)"),
      SecondsLimit<&L::bodyTimeout>(
          "--body-timeout", "WebBodyTimeout",
          "Deadline for a body or an answer, plus its size at --min-body-rate (seconds)"),
      CountLimit<&L::minBodyRate>("--min-body-rate", "WebMinBodyRate",
                                  "Bytes per second a body or an answer must keep", 1024, 1),
      SecondsLimit<&L::idleTimeout>(
          "--idle-timeout", "WebIdleTimeout",
          "How long a kept-alive connection waits for a request (seconds)"),
      CountLimit<&L::maxConnections>("--max-connections", "WebMaxConnections",
                                     "Open connections; past it the longest idle one is closed", 1,
                                     1),
      CountLimit<&L::maxConnectionsPerAddress>(
          "--max-connections-per-address", "WebMaxConnectionsPerAddress",
          "Open connections of one client address (this machine's are not counted)", 1, 1),
      CountLimit<&L::maxHeadBytes>("--max-head-bytes", "WebMaxHeadKiB",
                                   "Size of a request's line and headers", 1024, 1024,
                                   int64_t{1} << 20),
      CountLimit<&L::maxFormBytes>("--max-form-bytes", "WebMaxFormKiB",
                                   "Size of a URL-encoded form", 1024, 1024),
      {"--max-upload-bytes", "WebMaxUploadMiB", "Size of an uploaded file", 1024 * 1024, 1024,
       int64_t{1} << 40,
       [](const web::ServeOptions& o) { return static_cast<int64_t>(o.maxUploadBytes); },
       [](web::ServeOptions& o, int64_t v) { o.maxUploadBytes = static_cast<size_t>(v); }},
      CountLimit<&L::workers>("--workers", "WebWorkers", "Threads that run requests", 1, 1, 1024),
      CountLimit<&L::queueLimit>("--queue-limit", "WebQueueLimit",
                                 "Requests waiting for a worker; past it the answer is 503 at once",
                                 1, 0),
      SecondsLimit<&L::stopTimeout>(
          "--stop-timeout", "WebStopTimeout",
          "How long SIGTERM waits for requests in flight before closing them (seconds)"),
  };
  return limits;
}

// Each limit an option, with the default shown; values[i] holds Limits()[i]'s.
void AddLimitOptions(CLI::App& serve, std::vector<int64_t>& values) {
  const web::ServeOptions defaults;
  values.resize(Limits().size());
  for (size_t i = 0; i < Limits().size(); ++i) {
    const Limit& limit = Limits()[i];
    values[i] = limit.get(defaults);
    serve
        .add_option(limit.option, values[i],
                    fmt::format("{} (else the setting {})", limit.help, limit.setting))
        ->capture_default_str()
        ->check(CLI::Range(limit.least, limit.most));
  }
}

// The limits into options: those given on the command line, else the database's settings.
void ApplyLimits(const CLI::App& serve, const std::vector<int64_t>& values,
                 web::ServeOptions& options) {
  std::vector<std::string> keys;
  for (const Limit& limit : Limits()) keys.emplace_back(limit.setting);
  const std::map<std::string, int32_t> settings = app::NumberSettings(options.open, keys);
  for (size_t i = 0; i < Limits().size(); ++i) {
    const Limit& limit = Limits()[i];
    int64_t value = values[i];
    const auto set = settings.find(limit.setting);
    if (serve.count(limit.option) == 0 && set != settings.end()) {
      value = int64_t{set->second} * limit.unit;
      if (value < limit.least || value > limit.most) {
        Fail(
            fmt::format("The setting {} ({}) is out of its range: change it with 'kvaction "
                        "settings set {} N' or give {}.",
                        limit.setting, set->second, limit.setting, limit.option));
      }
    }
    limit.set(options, value);
  }
}

}  // namespace

void RegisterServeCommand(CLI::App& app, Options& options) {
  struct Args {
    std::string listen = "127.0.0.1:8080";
    std::string baseUrl;
    std::string passwordFile;
    int mailInterval = 60;
    std::vector<int64_t> limits;
    std::string metricsTokenFile;
    bool noAccessLog = false;
  };
  auto args = std::make_shared<Args>();
  auto* serve = app.add_subcommand(
      "serve", "Serve the web front end (sign-in, lists, action pages, edits, review moves)");
  serve->add_option("--listen", args->listen, "HOST:PORT to listen on (default 127.0.0.1:8080)");
  serve->add_option("--base-url", args->baseUrl,
                    "Address people reach the server at (https: cookies marked Secure)");
  serve->add_option("--smtp-password-file", args->passwordFile,
                    "File whose first line is the relay's password (else $" +
                        std::string(app::kSmtpPasswordVariable) + ")");
  serve
      ->add_option("--mail-interval", args->mailInterval,
                   "Seconds between two rounds of mail delivery (default 60)")
      ->check(CLI::Range(1, 3600));
  AddLimitOptions(*serve, args->limits);
  serve->add_option("--metrics-token-file", args->metricsTokenFile,
                    "File whose first line is the token that lets a client not on this machine "
                    "read /metrics (\"Authorization: Bearer TOKEN\")");
  serve->add_flag("--no-access-log", args->noAccessLog,
                  "Write no line per request on standard error");
  serve->callback([args, serve, &options] {
    ApplyDefaults(options);
    RequireLocal(options, "serve");
    web::ServeOptions serveOptions;
    serveOptions.open = OpenOptionsOf(options);
    ApplyLimits(*serve, args->limits, serveOptions);
    if (!args->metricsTokenFile.empty()) {
      serveOptions.metricsToken = SecretFrom(args->metricsTokenFile, "metrics token");
    }
    serveOptions.accessLog = !args->noAccessLog;
    web::ParseListen(args->listen, serveOptions);
    serveOptions.baseUrl = args->baseUrl;
    web::Server server(serveOptions);
    const int port = server.Bind();
    const std::string url = serveOptions.baseUrl.empty()
                                ? "http://" + serveOptions.host + ":" + std::to_string(port) + "/"
                                : serveOptions.baseUrl;
    std::cout << "Serving " << url << " (Ctrl-C stops)" << std::endl;
    // Before the mail work starts its thread: a thread that does not block the signals would
    // take SIGTERM and end the program at once.
    const StopOnSignal stop(server);
    const auto mailWork = StartMailWork(options, args->passwordFile, args->mailInterval);
    server.Run();
  });
}

}  // namespace cli
