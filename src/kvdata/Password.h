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

/// A hash of cost's limits, made once when the program was written rather than when it runs: a
/// login checks it in place of a hash that is missing (an unknown user), so such a refusal costs
/// what a known user's does, in a new process as in a long-running one.
[[nodiscard]] std::string_view DecoyHash(PasswordCost cost);

/// Whether hash is a well-formed hash made with cost's limits.
[[nodiscard]] bool HasCost(std::string_view hash, PasswordCost cost);

}  // namespace kvdata
