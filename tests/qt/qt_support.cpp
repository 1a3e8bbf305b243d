#include "tests/qt/qt_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include "analysis/plant_source.h"
#include "analysis/signal_source.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/hostif.h"
#include "host/session.h"
#include "tests/support/support.h"

void clear_window_settings()
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarvik2"),
                QStringLiteral("tarvik2-emu"));
    s.clear();
    s.sync();
}

bool show_active(QWidget* w)
{
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w);
}

EmuResult run_emu(const std::vector<std::string>& args, const std::string& env)
{
    std::string cmd = "QT_QPA_PLATFORM=offscreen ";
    if (!env.empty()) cmd += env.substr(0, env.find('=') + 1) + shell_quote(env.substr(env.find('=') + 1)) + " ";
    cmd += shell_quote(TARVIK2_EMU_PATH);
    for (const auto& a : args) cmd += " " + shell_quote(a);
    const RunResult r = run_command(cmd);
    return {r.status, r.output};
}

namespace {

// The measuring chain's sources as at the start: no recording, no plant.
void sources_closed()
{
    signal_source_close();
    plant_source_walk_end();
    plant_source_close();
}

}  // namespace

void WindowFixture::SetUp()
{
    clear_window_settings();
    sources_closed();
    device_reset();
    framebuffer_reset();
    data_dir_set(dir.path());
}

void WindowFixture::TearDown()
{
    emu_set_main(nullptr);
    data_dir_set("");
    host_install(nullptr);
    device_reset();
    sources_closed();
    clear_window_settings();
}

bool process_events_until(const std::function<bool()>& done, int timeout_ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeout_ms) QApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}
