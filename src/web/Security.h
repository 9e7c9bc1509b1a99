#pragma once
// The web front end's defences: random tokens, the form token bound to a session, constant-time
// comparison, the sign-in throttle and the headers every answer carries.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace web {

struct Response;

/// 256 random bits as hex.
[[nodiscard]] std::string RandomToken();
/// The form token of a session: a keyed hash of its token, so it needs no storage of its own and
/// cannot be computed without the session cookie.
[[nodiscard]] std::string FormTokenOf(std::string_view sessionToken);
/// Whether two secrets are equal, in time that does not depend on where they differ.
[[nodiscard]] bool SameSecret(std::string_view a, std::string_view b);

/// The origin of an absolute http(s) URL as a browser sends it in an Origin header:
/// "scheme://host[:port]" in small letters, without the scheme's default port; "" for anything
/// else (another scheme, no host, a user name before the host).
[[nodiscard]] std::string OriginOf(std::string_view url);

/// Adds the security headers and the Content-Security-Policy (no inline script, no framing).
void AddSecurityHeaders(web::Response& response);

/// Counts failed sign-ins per user ID and per address in a sliding window; a key over its
/// limit is refused until its window ends. One per process.
class SignInThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  SignInThrottle(int userLimit, int addressLimit, std::chrono::seconds window)
      : userLimit_(userLimit), addressLimit_(addressLimit), window_(window) {}
  /// Seconds until the user or the address may try again; 0 when allowed now.
  [[nodiscard]] int64_t WaitSeconds(std::string_view userID, std::string_view address);
  void Failed(std::string_view userID, std::string_view address);
  /// A request refused for what it holds (control characters) counts for its address alone.
  void FailedAddress(std::string_view address);
  /// A successful sign-in clears the user's count (the address keeps its own).
  void Succeeded(std::string_view userID);

 private:
  struct Count {
    int failures = 0;
    Clock::time_point start;
  };
  int64_t WaitFor(const std::string& key, int limit, Clock::time_point now);
  void Add(const std::string& key, Clock::time_point now);
  std::mutex mutex_;
  std::map<std::string, Count, std::less<>> counts_;
  int userLimit_;
  int addressLimit_;
  std::chrono::seconds window_;
};

}  // namespace web
