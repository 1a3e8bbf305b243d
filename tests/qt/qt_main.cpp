// Test main for the window tests: a QApplication on the offscreen platform,
// with a settings folder of its own so that no test reads or changes the
// user's settings, and two screens: a desktop monitor (the primary one,
// which holds every zoom) and a 1366 x 768 laptop right of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <QApplication>

#include "tests/support/support.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TempDir config;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || std::string(platform) == "offscreen") {
        const std::string screens = config.file("screens.json");
        std::ofstream(screens) << R"({"screens": [)"
                               << R"({"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1200},)"
                               << R"({"name": "laptop", "x": 1920, "y": 0, "width": 1366, "height": 768}]})";
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).c_str(), 1);
    }
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    int result;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
