#pragma once
// Display labels: the names users see for columns and for the role words "Action", "Assignee"
// and "Originator", as the settings store gives them.
#include <functional>
#include <string>
#include <string_view>

namespace kvaction {

/// Maps a field name or role word to its display label. The flag is passed by reference as the
/// settings store's Label(name, &flag) takes it; the caller sets it before each call.
using LabelLookup = std::function<std::string(std::string_view name, bool& flag)>;

/// The label of name, looked up with the flag set to flag.
[[nodiscard]] inline std::string LabelOf(const LabelLookup& lookup, std::string_view name,
                                         bool flag) {
  return lookup(name, flag);
}

}  // namespace kvaction
