#include "support/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

TEST(SkipBlanks, StopsAtFirstNonBlank) {
    EXPECT_STREQ(skipBlanks(" \t x"), "x");
    EXPECT_STREQ(skipBlanks("\r x"), "\r x");
    EXPECT_STREQ(skipBlanks(" \t "), "");
}

TEST(ParseUnsigned, TableOfCases) {
    struct Case {
        const char* text;
        unsigned base;
        uint32_t value;
        size_t endOffset;
    };
    const Case cases[] = {
        {"12abc", 10, 12, 2},
        {"ff", 16, 255, 2},
        {"FFFFFFFF", 16, 4294967295u, 8},
        {"4294967295", 10, 4294967295u, 10},
        {"4294967296", 10, 0xFFFFFFFFu, 0},
        {"100000000", 16, 0xFFFFFFFFu, 0},
        {"12g", 16, 0xFFFFFFFFu, 0},
        {"0x12", 16, 0xFFFFFFFFu, 0},
        {"12\"", 10, 12, 2},
        {"", 10, 0, 0},
        {" 5", 10, 0, 0},
        {"+5", 10, 0, 0},
        {"-5", 10, 0, 0},
        {"a", 10, 0, 0},
        {"7", 7, 0xFFFFFFFFu, 0},
        {"00000000000000000000042", 10, 42, 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " base " + std::to_string(c.base));
        const char* end = nullptr;
        EXPECT_EQ(parseUnsigned(c.text, &end, c.base), c.value);
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.endOffset);
        EXPECT_EQ(parseUnsigned(c.text, nullptr, c.base), c.value);
    }
}

TEST(EqualsNoCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(equalsNoCase("monolithicFlat", "MONOLITHICflat"));
    EXPECT_FALSE(equalsNoCase("flat", "flats"));
    EXPECT_FALSE(equalsNoCase("flats", "flat"));
    EXPECT_FALSE(equalsNoCase("\xC4", "\xE4"));  // Latin-1 letters are not folded
    EXPECT_FALSE(equalsNoCase("[", "{"));
    EXPECT_TRUE(equalsNoCaseN("RWx", "rw", 2));
}

TEST(SystemErrorText, PrefixTextAndLastError) {
    char buf[256];
    setLastOsError(1234);
    std::string text = systemErrorText(buf, sizeof buf, 2);
    EXPECT_EQ(lastOsError(), 1234u);
    ASSERT_GT(text.size(), 6u);
    EXPECT_EQ(text.substr(0, 6), "0/2 - ");
    EXPECT_NE(text.back(), ' ');
    EXPECT_EQ(text.find('\n'), std::string::npos);

    // The facility comes from bits 16 to 28, the letter u from bit 29.
    EXPECT_EQ(std::string(systemErrorText(buf, 12, 0x20070005u)).substr(0, 7), "u7/5");
    EXPECT_EQ(std::string(systemErrorText(buf, 12, 0x80070005u)), "7/5");
}

TEST(SystemErrorText, TextThatDoesNotFitLeavesTheNumbers) {
    char buf[10];
    setLastOsError(7);
    EXPECT_STREQ(systemErrorText(buf, sizeof buf, 2), "0/2");
    EXPECT_STREQ(systemErrorText(buf, sizeof buf, 0x20000002u), "u0/2");
    EXPECT_EQ(lastOsError(), 7u);
}

TEST(PrintLines, OneLineEachLongOnesCut) {
    testing::internal::CaptureStdout();
    printInfo("a %u \"%s\"", 5u, "b");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a 5 \"b\"\n");

    std::string longText(600, 'x');
    testing::internal::CaptureStderr();
    printError("%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(511, 'x') + "\n");
}

int shutdownCalls = 0;
void countShutdown() { ++shutdownCalls; }

TEST(SupportLifecycle, ShutdownRunsActionsOnceAndIsSafeTwice) {
    supportShutdown();
    EXPECT_FALSE(supportAtShutdown(countShutdown));
    ASSERT_TRUE(supportStartup());
    EXPECT_GE(supportVersionWord(), 0x0400u);
    shutdownCalls = 0;
    EXPECT_TRUE(supportAtShutdown(countShutdown));
    EXPECT_TRUE(supportAtShutdown(countShutdown));
    supportShutdown();
    EXPECT_EQ(shutdownCalls, 2);
    supportShutdown();
    EXPECT_EQ(shutdownCalls, 2);
}

}  // namespace
