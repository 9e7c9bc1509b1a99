#pragma once
// The command as a client of a `kvaction serve` process: the server's address and its checks,
// signing in and out there, and the Client whose calls go through the server's JSON API.
#include <memory>
#include <string>

#include "cli/Client.h"

namespace cli {

struct Options;

/// The server's address as the token file keys it (no trailing slash). Raises a UsageError for
/// anything but an https:// address, or an http:// one of this machine (localhost, 127.0.0.0/8,
/// ::1) unless insecureHttp; an address with a user name, a password, a query or a fragment is
/// refused too: a secret never goes into an address.
[[nodiscard]] std::string ServerAddress(const std::string& url, bool insecureHttp);

/// A client of the options' server, signed in with the token `kvaction login --server` kept
/// (when --user names nobody else), else with --user and a password for this command only.
[[nodiscard]] std::unique_ptr<Client> OpenRemoteClient(const Options& options);

/// `kvaction login` and `logout` with a server chosen.
void RemoteLogin(const Options& options);
void RemoteLogout(const Options& options);

}  // namespace cli
