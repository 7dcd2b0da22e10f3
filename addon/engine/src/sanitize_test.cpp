#include "sanitize.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

TEST(Sanitizer, DropsEventHandlersAndKeepsWhatTheLayoutReads) {
    SanitizedHtml sane = SanitizeHtml(
        "<body onload='go()'><a href='x.html' OnClick=\"opener.location.href = 'x.html'; return false;\" "
        "onmouseover=h() title=t>x</a><p on=1 style='color:red'>a &amp; b</p></body>",
        96, 8);
    EXPECT_EQ(sane.html.find("onload"), std::string::npos) << sane.html;
    EXPECT_EQ(sane.html.find("nclick"), std::string::npos) << sane.html;
    EXPECT_EQ(sane.html.find("onmouseover"), std::string::npos) << sane.html;
    EXPECT_NE(sane.html.find("<a href=\"x.html\" title=\"t\">x</a>"), std::string::npos) << sane.html;
    // A two-letter "on" is no handler; the body is still made visible.
    EXPECT_NE(sane.html.find("<p on=\"1\" style=\"color:red\">a &amp; b</p>"), std::string::npos) << sane.html;
    EXPECT_NE(sane.html.find("<body style=\"visibility: visible\">"), std::string::npos) << sane.html;
}

}  // namespace
}  // namespace htmlengine
