#pragma once
// Base64 for files that travel to and from the attachment store (standard alphabet, padded).
#include <optional>
#include <string>
#include <string_view>

namespace cli {

/// bytes as one line of base64.
[[nodiscard]] std::string ToBase64(std::string_view bytes);
/// The bytes base64 text stands for (line breaks passed over); nothing when it is not base64.
[[nodiscard]] std::optional<std::string> FromBase64(std::string_view text);

}  // namespace cli
