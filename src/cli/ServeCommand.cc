// `kvaction serve`: runs the web front end on the options' database until interrupted.
#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

#include <pthread.h>

#include "cli/Cli.h"
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

}  // namespace

void RegisterServeCommand(CLI::App& app, Options& options) {
  struct Args {
    std::string listen = "127.0.0.1:8080";
    std::string baseUrl;
  };
  auto args = std::make_shared<Args>();
  auto* serve = app.add_subcommand(
      "serve", "Serve the web front end (sign-in, lists, action pages, edits, review moves)");
  serve->add_option("--listen", args->listen, "HOST:PORT to listen on (default 127.0.0.1:8080)");
  serve->add_option("--base-url", args->baseUrl,
                    "Address people reach the server at (https: cookies marked Secure)");
  serve->callback([args, &options] {
    ApplyDefaults(options);
    web::ServeOptions serveOptions;
    web::ParseListen(args->listen, serveOptions);
    serveOptions.open = OpenOptionsOf(options);
    serveOptions.baseUrl = args->baseUrl;
    web::Server server(serveOptions);
    const int port = server.Bind();
    const std::string url = serveOptions.baseUrl.empty()
                                ? "http://" + serveOptions.host + ":" + std::to_string(port) + "/"
                                : serveOptions.baseUrl;
    std::cout << "Serving " << url << " (Ctrl-C stops)" << std::endl;
    const StopOnSignal stop(server);
    server.Run();
  });
}

}  // namespace cli
