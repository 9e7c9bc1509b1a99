// Arbitrary bytes through the connection-string reader: only its own error may escape, and an
// error text never holds the password a string carried.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kvdata/ConnectionString.h"
#include "kvdata/Errors.h"
#include "vb/ComError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Only the password appended below is secret; the same word in the text itself is no leak.
  if (text.find("Zq7Secret") != std::string::npos) return 0;
  // The same string with a password that must never be echoed.
  for (const std::string& candidate : {text, text + ";Password=Zq7Secret"}) {
    try {
      const kvdata::ConnectionSettings settings = kvdata::ParseConnectionString(candidate);
      if (settings.provider == kvdata::Provider::SQLite && settings.path.empty()) std::abort();
      if (settings.login.statementTimeoutSeconds < 0) std::abort();
    } catch (const vb::ComError& e) {
      if (e.number() != kvdata::kBadConnectionString) std::abort();
      if (e.description().find("Zq7Secret") != std::string::npos) std::abort();
    }
  }
  return 0;
}
