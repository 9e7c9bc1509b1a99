#include "app/Labels.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/WebSupport.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {
namespace {

constexpr int32_t kLabelSize = 255;

std::vector<std::string> LabelNames(Session& session) {
  std::vector<std::string> names = {"Action"};
  const auto fields = session.action().VisibleFields();
  for (int32_t position = 1; fields && position <= fields->Count(); ++position) {
    names.push_back(vb::TextOf(fields->Item(position)));
  }
  return names;
}

}  // namespace

std::vector<DisplayLabel> Labels(Session& session) {
  internal::RequireSuper(session, "reading display labels");
  const auto settings = session.action().DataServer()->Settings();
  std::vector<DisplayLabel> labels;
  for (auto& name : LabelNames(session)) {
    bool stored = false;
    std::string label = settings->Label(name, &stored);
    labels.push_back({std::move(name), std::move(label), stored});
  }
  return labels;
}

void LabelSet(Session& session, std::string_view name, std::string_view label) {
  internal::RequireSuper(session, "changing display labels");
  const auto names = LabelNames(session);
  const auto known = std::find_if(names.begin(), names.end(), [&](const std::string& candidate) {
    return vb::EqualsText(candidate, name);
  });
  if (known == names.end()) {
    throw Invalid("label", name,
                  fmt::format("a name that carries a label ({})", fmt::join(names, ", ")));
  }
  internal::CheckSize(*known, label, kLabelSize);
  const auto settings = session.action().DataServer()->Settings();
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    settings->Value(kvdata::LabelKey(*known),
                    label.empty() ? vb::Variant() : vb::Variant(std::string(label)));
    settings->Save();
    internal::Record(session, evSettingChanged, 0, fmt::format("Label of {} changed", *known));
  });
  ForgetLabels();
}

}  // namespace app
