// Every program answers --help and --version.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/support.h"

namespace {

TEST(Programs, EachAnswersHelpAndVersion)
{
    const struct {
        const char* path;
        const char* name;
    } programs[] = {{TARVIK2_RUN_PATH, "tarvik2-run"},
                    {TARVIK2_FONT_SPECIMEN_PATH, "font_specimen"},
                    {TARVIK2_MAKE_FLASH_IMAGE_PATH, "make_flash_image"}};
    for (const auto& p : programs) {
        const RunResult help = run_command(shell_quote(p.path) + " --help");
        EXPECT_EQ(help.status, 0) << p.name;
        EXPECT_EQ(help.output.rfind(std::string("usage: ") + p.name, 0), 0u) << help.output;
        const RunResult version = run_command(shell_quote(p.path) + " --version");
        EXPECT_EQ(version.status, 0) << p.name;
        EXPECT_EQ(version.output, std::string(p.name) + " " + TARVIK2_VERSION + "\n");
        const RunResult wrong = run_command(shell_quote(p.path) + " --no-such-option x y z w v u");
        EXPECT_EQ(wrong.status, 2) << p.name << ": " << wrong.output;
    }
}

}  // namespace
