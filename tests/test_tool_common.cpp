// The archive tool's common options and its refusals before any command runs.
#include <gtest/gtest.h>

#include "base/cp1251.h"
#include "tests/support/support.h"
#include "tools/archive/json.h"
#include "tools/archive/text.h"

namespace {

RunResult tool(const std::string& args)
{
    return run_archive_tool("", args);
}

TEST(ToolCommon, UsageErrorsSayWhatIsWrongAndExitWithTwo)
{
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"", "usage: tarvik2-archive"},
        {"--data", "--data needs a value"},
        {"--data a --flash b info", "give --data or --flash once"},
        {"--frobnicate info", "unknown option --frobnicate"},
        {"frobnicate", "unknown command frobnicate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = tool(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
}

TEST(ToolCommon, HelpListsTheCommands)
{
    const RunResult r = tool("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("--flash FILE"), std::string::npos) << r.output;
    for (const char* command : {"info", "ls", "verify", "export", "route"})
        EXPECT_NE(r.output.find(std::string("\n  ") + command + " "), std::string::npos) << command << "\n" << r.output;
    const RunResult v = tool("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.output, std::string("tarvik2-archive ") + TARVIK2_VERSION + "\n");
}

TEST(ToolText, NamesGoBothWaysBetweenWindows1251AndUtf8)
{
    const std::string stored = "Насос №3 «А»"_cp;
    const std::string utf8 = cp1251_to_utf8(stored);
    EXPECT_EQ(utf8, "Насос №3 «А»");
    std::string back, error;
    ASSERT_TRUE(utf8_to_cp1251(utf8, &back, &error)) << error;
    EXPECT_EQ(back, stored);
    // Stops at the terminator; the unassigned byte becomes U+FFFD.
    EXPECT_EQ(cp1251_to_utf8(std::string("a\x98\0b", 4)), "a\xEF\xBF\xBD");
}

TEST(ToolText, TextsWindows1251CannotHoldAreRefusedWithThePlace)
{
    const struct {
        const char* utf8;
        const char* says;
    } cases[] = {
        {"ab€", nullptr},  // the euro sign is 0x88
        {"a中", "U+4E2D at byte 2"},
        {"a\xD0", "malformed UTF-8 at byte 2"},
        {"\xC3\x28", "malformed UTF-8 at byte 1"},
        {"😀", "U+1F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string out, error;
        const bool ok = utf8_to_cp1251(c.utf8, &out, &error);
        EXPECT_EQ(ok, c.says == nullptr);
        if (c.says) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
}

TEST(ToolJson, NestingCommasAndEscapes)
{
    JsonWriter w;
    w.begin_object().value("name", "a\"b\n").value("n", 3).value("x", 0.5).value("nan", 0.0 / 0.0);
    w.begin_array("list").element(1).element("z").end();
    w.begin_array("empty").end();
    w.begin_object("o").value("t", true).end();
    w.end();
    EXPECT_EQ(w.text(),
              "{\n  \"name\": \"a\\\"b\\n\",\n  \"n\": 3,\n  \"x\": 0.5,\n  \"nan\": null,\n"
              "  \"list\": [\n    1,\n    \"z\"\n  ],\n  \"empty\": [],\n  \"o\": {\n    \"t\": true\n  }\n}\n");
}

}  // namespace
