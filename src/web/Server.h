#pragma once
// `kvaction serve`: the web front end. An HTTP server whose every read and write goes through
// app/; sessions are rows of the database, so several servers can share one database.
#include <cstddef>
#include <memory>
#include <string>

#include "app/Session.h"

namespace web {

/// How a server listens and what it serves.
struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;        ///< 0: any free port (see Server::Bind)
  app::OpenOptions open;  ///< the database and the people's date form
  std::string baseUrl;    ///< the address people reach the server at (https: Secure cookies)
  size_t maxUploadBytes = 10 * 1024 * 1024;
  /// Failed sign-ins allowed per user ID and per address within ten minutes.
  int userSignInLimit = 5;
  int addressSignInLimit = 20;
};

/// Splits "HOST:PORT" (or ":PORT", or "PORT") into options; raises app::kInvalidInput.
void ParseListen(const std::string& listen, ServeOptions& options);

class Server {
 public:
  explicit Server(ServeOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  /// Binds the listening socket; returns the port (the chosen one for port 0). Raises when the
  /// address cannot be bound.
  int Bind();
  /// Serves until Stop (call Bind first).
  void Run();
  /// Stops serving; Run returns. Safe from another thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace web
