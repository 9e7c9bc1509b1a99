#pragma once
// E-mail addresses as they go into SMTP commands and message headers: one plain mailbox each.
#include <string_view>

namespace kvaction {

/// Whether address is one plain mailbox "local@domain": exactly one '@' with text on each side,
/// and none of the characters that would let it carry more than one address or an SMTP
/// parameter: no blank, control character, '<', '>', ',', ';', ':', '"', '(', ')', '[', ']' or
/// '\'. Non-ASCII letters are allowed.
[[nodiscard]] bool IsMailbox(std::string_view address);

/// Raises vb::ComError 5 (source as given) naming what ("recipient address") and the address
/// when it is not a mailbox (see IsMailbox); the description ends "nothing was sent."
void RequireMailbox(std::string_view what, std::string_view address, std::string_view source);

}  // namespace kvaction
