#pragma once
// The errors the product raises when it refuses a person's request: a missing right, or input
// that is not in the expected form. Both are vb::ComError (so every front end reports them like
// any other library error) with numbers of their own, so a front end can tell them apart.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vb/ComError.h"

namespace app {

/// The source of every error raised by this layer.
inline constexpr std::string_view kSource = "kvAction.app";

enum AppError : int32_t {
  /// The signed-in person lacks a right; the description names it ("right 50, Add actions").
  kRefused = vb::kObjectError + 1100,
  /// A value is not acceptable; the description names the field and the expected form.
  kInvalidInput = vb::kObjectError + 1101,
  /// A thing named does not exist (action, query, user, workgroup, attachment, setting).
  kNotFound = vb::kObjectError + 1102,
  /// The session token is unknown or has expired: sign in again.
  kNotSignedIn = vb::kObjectError + 1103,
  /// The library stored nothing (an add or copy that gave no new action, a delete that deleted
  /// none).
  kNotStored = vb::kObjectError + 1104,
};

/// What kind of refusal an error is, for a front end's exit status and wording.
enum class ErrorKind {
  Refused,       ///< kRefused, kNotSignedIn or the library's kRefused: the person may not do this
  InvalidInput,  ///< kInvalidInput or kNotFound: the request itself is wrong
  Other,         ///< anything else (engine, library, file system)
};
[[nodiscard]] ErrorKind KindOf(const vb::ComError& error) noexcept;

/// What an error says to a person on a page: a title, a plain sentence (a missing right by its
/// name, not its number) and what to do next.
struct ErrorWords {
  std::string title;
  std::string sentence;
  std::string advice;
};
/// The words of error for a person. Errors that are not a refusal or bad input keep their
/// details to the log: their sentence says only that the request could not be completed.
[[nodiscard]] ErrorWords WordsFor(const vb::ComError& error);

/// "Refused: NAME needs right N (DESCRIPTION)." as kRefused.
[[nodiscard]] vb::ComError Refusal(std::string_view what, int32_t right);
/// "Refused: NAME needs right A (…), B (…) or C (…)." as kRefused: any one of rights would do.
[[nodiscard]] vb::ComError Refusal(std::string_view what, std::span<const int32_t> rights);
/// A refusal with a description of its own (a rule that is not a right: the last SuperUser…).
[[nodiscard]] vb::ComError RefusalText(std::string description);
/// "FIELD: 'VALUE' is not EXPECTED" as kInvalidInput; value empty gives "FIELD: EXPECTED".
[[nodiscard]] vb::ComError Invalid(std::string_view field, std::string_view value,
                                   std::string_view expected);
/// "No WHAT has the KEY VALUE." as kNotFound ("No action has the number 7.").
[[nodiscard]] vb::ComError NotFound(std::string_view what, std::string_view key,
                                    std::string_view value);

}  // namespace app
