#include "app/Templates.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace app {
namespace {

std::string Render(const std::string& text, const mstch::map& context,
                   std::map<std::string, std::string, std::less<>> others = {}) {
  others.emplace("page", text);
  return Templates(others).Render("page", context);
}

TEST(TemplatesTest, ValuesAreEscapedUnlessAskedForRawAndLookedUpFromTheInnermostScope) {
  const mstch::map context{
      {"text", std::string("<a href=\"x\">O'Neil & co/</a>")},
      {"number", -12},
      {"real", 1.5},
      {"yes", true},
      {"nothing", nullptr},
      {"name", std::string("outer")},
      {"rows", mstch::array{mstch::map{{"name", std::string("inner")}}, mstch::map{{"other", 1}}}}};
  EXPECT_EQ(Render("{{text}}", context),
            "&lt;a href=&quot;x&quot;&gt;O&#39;Neil &amp; co&#x2F;&lt;&#x2F;a&gt;");
  EXPECT_EQ(Render("{{{text}}}|{{& text }}", context),
            "<a href=\"x\">O'Neil & co/</a>|<a href=\"x\">O'Neil & co/</a>");
  EXPECT_EQ(Render("{{number}} {{real}} {{yes}} [{{nothing}}] [{{missing}}] [{{rows}}]", context),
            "-12 1.5 true [] [] []");
  EXPECT_EQ(Render("{{#rows}}{{name}};{{/rows}}", context), "inner;outer;");
}

TEST(TemplatesTest, SectionsRepeatForListsEnterMapsAndSkipWhatIsEmpty) {
  const mstch::map context{{"list", mstch::array{std::string("a"), std::string("b")}},
                           {"map", mstch::map{{"v", std::string("in")}}},
                           {"none", mstch::array{}},
                           {"zero", 0},
                           {"blank", std::string()},
                           {"off", false},
                           {"null", nullptr}};
  EXPECT_EQ(Render("{{#list}}x{{/list}}|{{#map}}{{v}}{{/map}}", context), "xx|in");
  for (const char* empty : {"none", "zero", "blank", "off", "null", "missing"}) {
    const std::string name(empty);
    EXPECT_EQ(Render("{{#" + name + "}}shown{{/" + name + "}}{{^" + name + "}}not{{/" + name + "}}",
                     context),
              "not")
        << name;
  }
  EXPECT_EQ(Render("{{^list}}not{{/list}}{{^map}}not{{/map}}", context), "");
}

TEST(TemplatesTest, LinesOfTagsOnlyLeaveNoLinesAndAPartialAloneTakesItsIndentation) {
  const mstch::map context{{"on", true}, {"v", std::string("V")}};
  const std::map<std::string, std::string, std::less<>> partial{{"p", "one\ntwo\n"}};
  EXPECT_EQ(Render("a\n  {{#on}}  \nb\n  {{/on}}\nc", context), "a\nb\nc");
  EXPECT_EQ(Render("a\n{{#on}}{{/on}} {{! note }}\nc\n", context), "a\nc\n");
  EXPECT_EQ(Render("a\r\n{{#on}}\r\nb\r\n{{/on}}\r\n", context), "a\r\nb\r\n");
  // A variable or text on the line keeps it.
  EXPECT_EQ(Render("{{#on}}{{v}}{{/on}}\n{{#on}}x{{/on}}\n", context), "V\nx\n");
  EXPECT_EQ(Render("<ul>\n  {{>p}}\n</ul>", context, partial), "<ul>\n  one\n  two\n</ul>");
  EXPECT_EQ(Render("<ul>\n  {{#on}}{{>p}}{{/on}}\n</ul>", context, partial),
            "<ul>\none\ntwo\n</ul>");
  EXPECT_EQ(Render("[{{>p}}]", context, partial), "[one\ntwo\n]");
}

TEST(TemplatesTest, AMalformedTemplateIsRefusedWithItsNameAndLine) {
  const auto refusal = [](const std::map<std::string, std::string, std::less<>>& texts) {
    try {
      const Templates templates(texts);
    } catch (const std::invalid_argument& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refusal({{"t", "a\n{{#rows}}\nb"}}), "template t, line 3: section rows is not closed");
  EXPECT_EQ(refusal({{"t", "{{#a}}{{/b}}"}}), "template t, line 1: {{/b}} closes a");
  EXPECT_EQ(refusal({{"t", "x\n{{/b}}"}}), "template t, line 2: {{/b}} closes nothing");
  EXPECT_EQ(refusal({{"t", "{{name"}}), "template t, line 1: a tag is not closed");
  EXPECT_EQ(refusal({{"t", "{{a.b}}"}}), "template t, line 1: \"a.b\" is not a name");
  EXPECT_EQ(refusal({{"t", "{{=<% %>=}}"}}),
            "template t, line 1: changing the delimiters is not supported");
  EXPECT_EQ(refusal({{"t", "{{>gone}}"}}), "no template gone to include");
  EXPECT_EQ(refusal({{"t", "{{#x}}{{>t}}{{/x}}"}}), "template t includes itself");
  EXPECT_EQ(refusal({{"t", "  {{>t}}\n"}}), "template t includes itself");
  EXPECT_THROW((void)Templates({}).Render("unknown", mstch::map{}), std::out_of_range);
}

TEST(TemplatesTest, CodeInTheValuesIsRefusedNotRun) {
  bool ran = false;
  const mstch::map context{{"f", mstch::lambda{[&ran]() -> mstch::node {
                              ran = true;
                              return std::string("x");
                            }}}};
  EXPECT_THROW((void)Render("{{f}}", context), std::invalid_argument);
  EXPECT_THROW((void)Render("{{#f}}y{{/f}}", context), std::invalid_argument);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace app
