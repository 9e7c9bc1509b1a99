#pragma once
// Display labels: the words people see for the columns of an action and for the word "Action",
// kept with the database-wide settings. History texts and every front end read them.
#include <string>
#include <string_view>
#include <vector>

#include "app/Session.h"

namespace app {

/// A name that carries a label, with the label people see now.
struct DisplayLabel {
  std::string name;   ///< a column of the actions table, or "Action"
  std::string label;  ///< the stored label, else the name itself
  bool stored = false;
};

/// Every name that carries a label: "Action", then the visible columns in table order (SuperUser).
[[nodiscard]] std::vector<DisplayLabel> Labels(Session& session);

/// Sets the label of a name (SuperUser) and saves; "" goes back to the name itself. Raises
/// kInvalidInput for a name without a label or a label over 255 characters. Recorded in history.
void LabelSet(Session& session, std::string_view name, std::string_view label);

}  // namespace app
