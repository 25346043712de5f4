#include "platform/log.h"

#include <functional>
#include <gtest/gtest.h>

using namespace vistrale;

TEST(LogLine, JoinsTextAndValuesWithOneBlankUnlessTheTextEndsInEqualsOrABlank)
{
    const struct {
        std::function<void()> write;
        const char* line;
    } cases[] = {
        {[] { logLine("using new dispatch source timer", 0.1); }, "using new dispatch source timer 0.1\n"},
        {[] { logLine("changeResolution", 1280, 720); }, "changeResolution 1280 720\n"},
        {[] { logLine("initSink resultStart=", 0); }, "initSink resultStart=0\n"},
        {[] { logLine("request failed: ", QString("denied")); }, "request failed: denied\n"},
        {[] { logLine("hasScreenPermission=", true); }, "hasScreenPermission=true\n"},
        {[] { logLine("open file ", printableText("a\nb")); }, "open file a?b\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        c.write();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
}
