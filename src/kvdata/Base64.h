#pragma once
// Base64 as attachments travel in it: the standard alphabet with padding (libsodium's
// "original" variant).
#include <optional>
#include <string>
#include <string_view>

namespace kvdata {

/// The base64 text of bytes, on one line.
[[nodiscard]] std::string ToBase64(std::string_view bytes);

/// The bytes that base64 text stands for; blanks and line breaks in text are passed over.
/// Nothing when text is not valid base64 (the caller raises its own error).
[[nodiscard]] std::optional<std::string> FromBase64(std::string_view text);

}  // namespace kvdata
