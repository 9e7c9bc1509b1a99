#include "web/Security.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "web/Http.h"

namespace web {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  std::string text(size * 2 + 1, '\0');
  sodium_bin2hex(text.data(), text.size(), bytes, size);
  text.pop_back();
  return text;
}

void RequireSodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
}

}  // namespace

std::string RandomToken() {
  RequireSodium();
  std::array<unsigned char, 32> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  return Hex(bytes.data(), bytes.size());
}

std::string FormTokenOf(std::string_view sessionToken) {
  RequireSodium();
  static constexpr std::string_view kPurpose = "kvaction form token";
  std::array<unsigned char, 32> hash{};
  crypto_generichash(hash.data(), hash.size(),
                     reinterpret_cast<const unsigned char*>(kPurpose.data()), kPurpose.size(),
                     reinterpret_cast<const unsigned char*>(sessionToken.data()),
                     sessionToken.size());
  return Hex(hash.data(), hash.size());
}

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string OriginOf(std::string_view url) {
  const size_t colon = url.find("://");
  if (colon == std::string_view::npos) return {};
  std::string origin(url.substr(0, url.find_first_of("/?#", colon + 3)));
  std::transform(origin.begin(), origin.end(), origin.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string_view scheme = std::string_view(origin).substr(0, colon);
  const std::string_view host = std::string_view(origin).substr(colon + 3);
  if ((scheme != "http" && scheme != "https") || host.empty() || host.front() == ':' ||
      host.find('@') != std::string_view::npos) {
    return {};
  }
  const std::string_view defaultPort = scheme == "http" ? ":80" : ":443";
  if (host.ends_with(defaultPort)) origin.resize(origin.size() - defaultPort.size());
  return origin;
}

void AddSecurityHeaders(web::Response& response) {
  static const std::array<std::pair<const char*, const char*>, 5> headers = {{
      {"Content-Security-Policy",
       "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
       "frame-ancestors 'none'; base-uri 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "same-origin"},
      {"Cache-Control", "no-store"},
  }};
  for (const auto& [name, value] : headers) {
    if (!response.has_header(name)) response.set_header(name, value);
  }
}

int64_t SignInThrottle::WaitSeconds(std::string_view userID, std::string_view address) {
  const std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  return std::max(WaitFor("u:" + std::string(userID), userLimit_, now),
                  WaitFor("a:" + std::string(address), addressLimit_, now));
}

void SignInThrottle::Failed(std::string_view userID, std::string_view address) {
  const std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  Add("u:" + std::string(userID), now);
  Add("a:" + std::string(address), now);
}

void SignInThrottle::FailedAddress(std::string_view address) {
  const std::lock_guard lock(mutex_);
  Add("a:" + std::string(address), Clock::now());
}

void SignInThrottle::Succeeded(std::string_view userID) {
  const std::lock_guard lock(mutex_);
  counts_.erase("u:" + std::string(userID));
}

int64_t SignInThrottle::WaitFor(const std::string& key, int limit, Clock::time_point now) {
  const auto found = counts_.find(key);
  if (found == counts_.end()) return 0;
  const auto end = found->second.start + window_;
  if (now >= end) {
    counts_.erase(found);
    return 0;
  }
  if (found->second.failures < limit) return 0;
  return std::chrono::ceil<std::chrono::seconds>(end - now).count();
}

void SignInThrottle::Add(const std::string& key, Clock::time_point now) {
  Count& count = counts_[key];
  if (count.failures == 0 || now >= count.start + window_) count = {0, now};
  ++count.failures;
}

}  // namespace web
