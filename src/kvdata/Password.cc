#include "kvdata/Password.h"

#include <sodium.h>

#include "kvdata/Errors.h"

namespace kvdata {
namespace {

void InitSodium() {
  // sodium_init is idempotent and thread-safe; it fails only when no random source exists.
  if (sodium_init() < 0) {
    throw vb::ComError(kBadArgument, std::string(kServerSource),
                       "The password library could not be initialised.");
  }
}

struct Limits {
  unsigned long long ops;
  std::size_t mem;
};

Limits LimitsOf(PasswordCost cost) {
  if (cost == PasswordCost::Minimum)
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
  return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

}  // namespace

std::string HashPassword(std::string_view password, PasswordCost cost) {
  InitSodium();
  const auto [ops, mem] = LimitsOf(cost);
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), ops, mem,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw vb::ComError(kBadArgument, std::string(kServerSource),
                       "The password could not be hashed.");
  }
  return hash;
}

bool VerifyPassword(std::string_view hash, std::string_view password) {
  InitSodium();
  // The library wants a terminated string of at most crypto_pwhash_STRBYTES - 1 characters.
  if (hash.size() >= crypto_pwhash_STRBYTES) return false;
  const std::string terminated(hash);
  return crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

std::string_view DecoyHash(PasswordCost cost) {
  // Argon2id hashes of "decoy" with the limits of each cost (HasCost checks them against the
  // library's, so they cannot drift apart unnoticed). Making one at run time would make the
  // first unknown user of every process cost a hash more than a known one.
  constexpr std::string_view kInteractive =
      "$argon2id$v=19$m=65536,t=2,p=1$Qg6Fe8IJt9Hhg3k6ZKgaxg$"
      "BzXOlEIXVIEnHk8I3XliY4WYKFuYy6qjAVnxWZIDOa8";
  constexpr std::string_view kMinimum =
      "$argon2id$v=19$m=8,t=1,p=1$7GIkrN5puXjHzxeuz96jzw$YH3bFyd8aj6My04YmL7ovvJ6+"
      "Ex2c973LFGXHCA0Cn8";
  return cost == PasswordCost::Minimum ? kMinimum : kInteractive;
}

bool HasCost(std::string_view hash, PasswordCost cost) {
  InitSodium();
  if (hash.size() >= crypto_pwhash_STRBYTES) return false;
  const std::string terminated(hash);
  const auto [ops, mem] = LimitsOf(cost);
  return crypto_pwhash_str_needs_rehash(terminated.c_str(), ops, mem) == 0;
}

}  // namespace kvdata
