// Test main for the window tests: a QApplication on the offscreen platform,
// with a settings folder of its own so that no test reads or changes the
// user's settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>

#include "tests/support/support.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const TempDir config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    int result;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
