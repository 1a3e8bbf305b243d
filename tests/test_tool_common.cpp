// The archive tool's common options and its refusals before any command runs.
#include <gtest/gtest.h>

#include "tests/support/support.h"

namespace {

RunResult tool(const std::string& args)
{
    return run_command(shell_quote(TARVIK2_ARCHIVE_PATH) + " " + args);
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
}

}  // namespace
