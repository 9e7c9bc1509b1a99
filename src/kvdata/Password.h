#pragma once
// Password hashes of the user directory: libsodium Argon2id strings.
#include <string>
#include <string_view>

namespace kvdata {

/// How much work a hash costs. Interactive is the default for real users; Minimum is for tests
/// and tools that create many users and must stay fast.
enum class PasswordCost { Interactive, Minimum };

/// The Argon2id hash string of a password (salt and limits included). Raises kBadArgument when
/// hashing fails (out of memory).
[[nodiscard]] std::string HashPassword(std::string_view password,
                                       PasswordCost cost = PasswordCost::Interactive);

/// Whether password matches a hash made by HashPassword. A malformed hash never matches.
[[nodiscard]] bool VerifyPassword(std::string_view hash, std::string_view password);

}  // namespace kvdata
