#pragma once
// The HTML alternative of the mail the product sends: rendered from the mustache templates of
// src/app/templates (compiled in), which escape every value, inside one mail layout. The plain
// text stays the mail's first part; readers that show HTML pick this one.
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include <mstch/mstch.hpp>

namespace app {

/// Template file name ("mail-digest.mustache") to content.
[[nodiscard]] const std::map<std::string, std::string, std::less<>>& MailTemplates();

/// Renders the template name ("mail-digest") with context inside the mail layout, titled
/// subject and closed by footer (both escaped).
[[nodiscard]] std::string RenderMail(std::string_view name, std::string_view subject,
                                     mstch::map context, std::string_view footer);

/// The HTML of a change notice: its subject, the action's state and whose turn it is (state,
/// as the view of an action words them), a button to the action's page when link is not empty,
/// and the library's plain body kept as preformatted text.
[[nodiscard]] std::string NoticeHtml(std::string_view subject, std::string_view link,
                                     std::string_view state, std::string_view body);

}  // namespace app
