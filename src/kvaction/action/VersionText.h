#pragma once
// The component's version as clients compare it.
#include <string>

namespace kvaction {

/// major + "." + minor with at least three digits + "." + revision with at least three digits:
/// 1, 0, 117 gives "1.000.117".
[[nodiscard]] std::string VersionText(int major, int minor, int revision);

}  // namespace kvaction
