#pragma once
// The user directory's own error numbers (object-error base + offset) and source.
#include <cstdint>
#include <string_view>

#include "vb/ComError.h"

namespace kvuser {

enum UserError : int32_t {
  /// A login was refused: unknown user name or wrong password (never says which).
  kLoginFailed = vb::kObjectError + 3001,
  /// The user ID named is not in the directory.
  kUnknownUser = vb::kObjectError + 3002,
  /// A user ID, name or field argument is refused (empty, taken, or not a user field).
  kBadUserArgument = vb::kObjectError + 3003,
  /// The directory is not connected to a database.
  kNotConnected = vb::kObjectError + 3004,
};

inline constexpr std::string_view kUserSource = "kvUser.User";
/// The one text of every refused login.
inline constexpr std::string_view kLoginFailedText =
    "Login failed: unknown user name or wrong password.";

}  // namespace kvuser
