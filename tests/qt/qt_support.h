// Helpers of the window tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/support.h"

class QWidget;

// Empties the window's settings store (zoom, position, folders).
void clear_window_settings();

// Runs the window's event loop until `done` says so or `timeout_ms` have
// passed (a guard against a hang); returns `done()` at the end.
bool process_events_until(const std::function<bool()>& done, int timeout_ms);

// Shows the window and makes it the active one, so that its hotkeys work.
// False when the platform does not activate it.
bool show_active(QWidget* w);

// Runs the window program with the arguments (quoted for the shell) on the
// offscreen platform, with `env` (NAME=VALUE, quoted) added to its
// environment; returns its exit status and what it printed.
struct EmuResult {
    int status;
    std::string output;
};
EmuResult run_emu(const std::vector<std::string>& args, const std::string& env = "");

// A window test: a fresh data folder, the window's settings store emptied,
// the device services and drawing state reset and the measuring chain's
// sources closed (no recording, no plant) before and after.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TempDir dir;
};
