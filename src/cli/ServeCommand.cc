// `kvaction serve`: runs the web front end on the options' database until interrupted, and,
// as the signed-in SuperUser who starts it, the mail work: delivery of the outbox every
// interval and the daily reminders at the setting ReminderTime.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <memory>
#include <thread>

#include <pthread.h>

#include "app/Schedule.h"
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

// The deadlines and limits of web::ServeLimits, each an option with the default shown.
void AddLimitOptions(CLI::App& serve, web::ServeOptions& options, int64_t& headTimeout,
                     int64_t& bodyTimeout, int64_t& idleTimeout, int64_t& stopTimeout) {
  auto& limits = options.limits;
  headTimeout = limits.headTimeout.count();
  bodyTimeout = limits.bodyTimeout.count();
  idleTimeout = limits.idleTimeout.count();
  stopTimeout = limits.stopTimeout.count();
  const auto seconds = [&](const char* name, int64_t& value, const std::string& what) {
    serve.add_option(name, value, what + " (seconds)")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{86400}));
  };
  const auto count = [&](const char* name, size_t& value, const std::string& what, size_t least,
                         size_t most = size_t{1} << 40) {
    serve.add_option(name, value, what)->capture_default_str()->check(CLI::Range(least, most));
  };
  seconds("--head-timeout", headTimeout, "Deadline for a request's head, from its first byte");
  seconds("--body-timeout", bodyTimeout,
          "Deadline for a body or an answer, plus its size at --min-body-rate");
  count("--min-body-rate", limits.minBodyRate, "Bytes per second a body or an answer must keep", 1);
  seconds("--idle-timeout", idleTimeout, "How long a kept-alive connection waits for a request");
  count("--max-connections", limits.maxConnections,
        "Open connections; past it the longest idle one is closed", 1);
  count("--max-connections-per-address", limits.maxConnectionsPerAddress,
        "Open connections of one client address (this machine's are not counted)", 1);
  count("--max-head-bytes", limits.maxHeadBytes, "Size of a request's line and headers", 1024,
        size_t{1} << 20);
  count("--max-form-bytes", limits.maxFormBytes, "Size of a URL-encoded form", 1024);
  count("--max-upload-bytes", options.maxUploadBytes, "Size of an uploaded file", 1024);
  count("--workers", limits.workers, "Threads that run requests", 1, 1024);
  count("--queue-limit", limits.queueLimit,
        "Requests waiting for a worker; past it the answer is 503 at once", 0);
  seconds("--stop-timeout", stopTimeout,
          "How long SIGTERM waits for requests in flight before closing them");
}

}  // namespace

void RegisterServeCommand(CLI::App& app, Options& options) {
  struct Args {
    std::string listen = "127.0.0.1:8080";
    std::string baseUrl;
    std::string passwordFile;
    int mailInterval = 60;
    web::ServeOptions serve;
    int64_t headTimeout = 0, bodyTimeout = 0, idleTimeout = 0, stopTimeout = 0;
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
  AddLimitOptions(*serve, args->serve, args->headTimeout, args->bodyTimeout, args->idleTimeout,
                  args->stopTimeout);
  serve->add_option("--metrics-token-file", args->metricsTokenFile,
                    "File whose first line is the token that lets a client not on this machine "
                    "read /metrics (\"Authorization: Bearer TOKEN\")");
  serve->add_flag("--no-access-log", args->noAccessLog,
                  "Write no line per request on standard error");
  serve->callback([args, &options] {
    ApplyDefaults(options);
    RequireLocal(options, "serve");
    web::ServeOptions serveOptions = args->serve;
    auto& limits = serveOptions.limits;
    limits.headTimeout = std::chrono::seconds(args->headTimeout);
    limits.bodyTimeout = std::chrono::seconds(args->bodyTimeout);
    limits.idleTimeout = std::chrono::seconds(args->idleTimeout);
    limits.stopTimeout = std::chrono::seconds(args->stopTimeout);
    if (!args->metricsTokenFile.empty()) {
      serveOptions.metricsToken = SecretFrom(args->metricsTokenFile, "metrics token");
    }
    serveOptions.accessLog = !args->noAccessLog;
    web::ParseListen(args->listen, serveOptions);
    serveOptions.open = OpenOptionsOf(options);
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
