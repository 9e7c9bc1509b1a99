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

}  // namespace

std::string HashPassword(std::string_view password, PasswordCost cost) {
  InitSodium();
  const bool minimum = cost == PasswordCost::Minimum;
  const auto ops = minimum ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  const auto mem = minimum ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
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

}  // namespace kvdata
