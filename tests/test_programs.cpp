// Every program answers --help and --version.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct Output {
    int status;
    std::string text;
};

Output run(const std::string& command)
{
    Output o{-1, {}};
    FILE* p = popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (!p) return o;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.text.append(buf, n);
    const int st = pclose(p);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

TEST(Programs, EachAnswersHelpAndVersion)
{
    const struct {
        const char* path;
        const char* name;
    } programs[] = {{TARVIK2_RUN_PATH, "tarvik2-run"},
                    {TARVIK2_FONT_SPECIMEN_PATH, "font_specimen"},
                    {TARVIK2_MAKE_FLASH_IMAGE_PATH, "make_flash_image"}};
    for (const auto& p : programs) {
        const Output help = run(std::string("'") + p.path + "' --help");
        EXPECT_EQ(help.status, 0) << p.name;
        EXPECT_EQ(help.text.rfind(std::string("usage: ") + p.name, 0), 0u) << help.text;
        const Output version = run(std::string("'") + p.path + "' --version");
        EXPECT_EQ(version.status, 0) << p.name;
        EXPECT_EQ(version.text, std::string(p.name) + " " + TARVIK2_VERSION + "\n");
        const Output wrong = run(std::string("'") + p.path + "' --no-such-option x y z w v u");
        EXPECT_EQ(wrong.status, 2) << p.name << ": " << wrong.text;
    }
}

}  // namespace
