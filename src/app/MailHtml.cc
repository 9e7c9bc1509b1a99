#include "app/MailHtml.h"

#include <stdexcept>
#include <utility>

namespace app {
namespace {

const std::string& Template(std::string_view name) {
  const auto found = MailTemplates().find(std::string(name) + ".mustache");
  if (found == MailTemplates().end()) throw std::logic_error("missing mail template");
  return found->second;
}

/// Mail wants CRLF line ends in every part.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::string RenderMail(std::string_view name, std::string_view subject, mstch::map context,
                       std::string_view footer) {
  context.emplace("subject", std::string(subject));
  const std::string content = mstch::render(Template(name), context);
  return WithCrLf(
      mstch::render(Template("mail-layout"), mstch::map{{"subject", std::string(subject)},
                                                        {"content", content},
                                                        {"footer", std::string(footer)}}));
}

std::string NoticeHtml(std::string_view subject, std::string_view link, std::string_view state,
                       std::string_view body) {
  std::string text;
  for (const char c : body) {
    if (c != '\r') text += c;
  }
  mstch::map context{{"body", std::move(text)}};
  if (!link.empty()) context.emplace("link", std::string(link));
  if (!state.empty()) context.emplace("state", std::string(state));
  return RenderMail("mail-notice", subject, std::move(context),
                    "You get this notice because an action of yours changed.");
}

}  // namespace app
