#include "kvaction/alerts/MailAddress.h"

#include <algorithm>
#include <string>

#include "vb/ComError.h"

namespace kvaction {
namespace {

bool IsRefusedCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte <= 0x20 || byte == 0x7F) return true;  // blanks and control characters
  static constexpr std::string_view kSpecials = "<>,;:\"()[]\\";
  return kSpecials.find(c) != std::string_view::npos;
}

}  // namespace

bool IsMailbox(std::string_view address) {
  const auto at = address.find('@');
  return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
         address.find('@', at + 1) == std::string_view::npos &&
         std::none_of(address.begin(), address.end(), IsRefusedCharacter);
}

void RequireMailbox(std::string_view what, std::string_view address, std::string_view source) {
  if (IsMailbox(address)) return;
  // Control characters are not echoed: the text may end up in a terminal or a log.
  std::string shown;
  for (const char c : address) shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  throw vb::ComError(5, std::string(source),
                     "The e-mail's " + std::string(what) + " \"" + shown +
                         "\" is not a single mailbox like name@example.com (no blanks, control "
                         "characters or < > , ; : \" ( ) [ ] \\); nothing was sent.");
}

}  // namespace kvaction
