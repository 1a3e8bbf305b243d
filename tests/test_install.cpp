// cmake --install into a temporary prefix: the programs, the desktop entry
// and icons, the demonstration recordings, the example key map, the README
// and a manual page of each program, made from its own --help and rendered
// by man.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tools/demo_signals.h"

namespace {

const std::string SOURCE = TARVIK2_SOURCE_DIR;
const std::string BUILD = TARVIK2_BUILD_DIR;

std::vector<std::string> programs()
{
    std::vector<std::string> p = {"tarvik2-run", "tarvik2-archive"};
    if (TARVIK2_INSTALLS_WINDOW) p.insert(p.begin(), "tarvik2-emu");
    return p;
}

// Every installed file (relative to the prefix) and the file it must equal
// ("" for the programs, checked by running them).
std::map<std::string, std::string> expected_files()
{
    std::map<std::string, std::string> files;
    for (const std::string& p : programs()) {
        files["bin/" + p] = "";
        files["share/man/man1/" + p + ".1"] = BUILD + "/doc/" + p + ".1";
    }
    if (TARVIK2_INSTALLS_WINDOW) {
        files["share/applications/tarvik2-emu.desktop"] = SOURCE + "/front/qt/tarvik2-emu.desktop";
        files["share/icons/hicolor/256x256/apps/tarvik2-emu.png"] = SOURCE + "/front/qt/icons/tarvik2-emu.png";
        files["share/icons/hicolor/scalable/apps/tarvik2-emu.svg"] = SOURCE + "/front/qt/icons/tarvik2-emu.svg";
        files["share/doc/tarvik2/keymap.example.ini"] = SOURCE + "/front/qt/keymap.example.ini";
    }
    files["share/doc/tarvik2/README.md"] = SOURCE + "/README.md";
    for (const DemoSignal& d : demo_signals())
        files["share/tarvik2/demo/" + std::string(d.file)] = BUILD + "/demo/" + d.file;
    return files;
}

// A text with every run of blanks and line ends one space.
std::string flattened(const std::string& text)
{
    return std::regex_replace(text, std::regex("[ \t\n]+"), " ");
}

TEST(Install, PutsEveryFileInPlaceAndEachManualPageRenders)
{
    TempDir dir;
    const std::string prefix = dir.file("prefix");
    const RunResult install = run_command(shell_quote(TARVIK2_CMAKE_COMMAND) + " --install " + shell_quote(BUILD) +
                                          " --prefix " + shell_quote(prefix));
    ASSERT_EQ(install.status, 0) << install.output;

    // Exactly the files listed, each the same as what it was made from.
    const std::map<std::string, std::string> expected = expected_files();
    std::set<std::string> installed;
    for (const auto& e : std::filesystem::recursive_directory_iterator(prefix))
        if (!e.is_directory()) installed.insert(std::filesystem::relative(e.path(), prefix).string());
    std::set<std::string> names;
    for (const auto& [name, from] : expected) names.insert(name);
    EXPECT_EQ(installed, names);
    for (const auto& [name, from] : expected) {
        const std::string path = prefix + "/" + name;
        if (from.empty()) continue;
        const std::vector<u8> bytes = read_file_bytes(path);
        EXPECT_FALSE(bytes.empty()) << name;
        EXPECT_TRUE(bytes == read_file_bytes(from)) << name << " differs from " << from;
    }

    for (const std::string& p : programs()) {
        SCOPED_TRACE(p);
        const std::string program = prefix + "/bin/" + p;
        struct stat st{};
        ASSERT_EQ(stat(program.c_str(), &st), 0);
        EXPECT_TRUE(st.st_mode & S_IXOTH);
        const RunResult version = run_command(shell_quote(program) + " --version");
        EXPECT_EQ(version.output, p + " " + TARVIK2_VERSION + "\n");
        const RunResult help = run_command(shell_quote(program) + " --help");
        ASSERT_EQ(help.status, 0) << help.output;

        // man renders the page without a warning (wide enough that no
        // paragraph is broken) ...
        const std::string page = prefix + "/share/man/man1/" + p + ".1";
        const std::string man = "LC_ALL=C.UTF-8 MANWIDTH=1000 MANPAGER=cat man --warnings -l " + shell_quote(page);
        const RunResult warnings = run_command("{ " + man + " >/dev/null; }");
        EXPECT_EQ(warnings.status, 0) << warnings.output;
        EXPECT_EQ(warnings.output, "");
        const RunResult shown = run_command(man + " 2>/dev/null");
        ASSERT_EQ(shown.status, 0);
        const std::string text = flattened(shown.output);
        // ... with its sections, the version, the usage line as the synopsis
        // and all the rest of --help, word for word, as the description.
        for (const char* section : {" NAME ", " SYNOPSIS ", " DESCRIPTION "})
            EXPECT_NE(text.find(section), std::string::npos) << section << " in " << text;
        EXPECT_NE(text.find(p + " " + TARVIK2_VERSION), std::string::npos) << text;
        const size_t first_end = help.output.find('\n');
        const std::string usage = help.output.substr(0, first_end);
        ASSERT_EQ(usage.rfind("usage: " + p + " ", 0), 0u) << usage;
        EXPECT_NE(text.find(" SYNOPSIS " + usage.substr(7) + " DESCRIPTION "), std::string::npos) << text;
        const std::string rest = flattened(help.output.substr(first_end + 1));
        ASSERT_GT(rest.size(), 40u) << help.output;
        EXPECT_NE(text.find(rest), std::string::npos) << rest << "\nis not in\n" << text;
    }
}

}  // namespace
