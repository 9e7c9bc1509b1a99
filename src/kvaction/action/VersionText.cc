#include "kvaction/action/VersionText.h"

#include <fmt/format.h>

namespace kvaction {

std::string VersionText(int major, int minor, int revision) {
  return fmt::format("{}.{:03}.{:03}", major, minor, revision);
}

}  // namespace kvaction
