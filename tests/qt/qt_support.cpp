#include "tests/qt/qt_support.h"

#include <sys/wait.h>

#include <cstdio>

#include <QSettings>
#include <QTest>
#include <QWidget>

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

namespace {

std::string shell_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

EmuResult run_emu(const std::vector<std::string>& args, const std::string& env)
{
    std::string cmd = "QT_QPA_PLATFORM=offscreen ";
    if (!env.empty()) cmd += env.substr(0, env.find('=') + 1) + shell_quote(env.substr(env.find('=') + 1)) + " ";
    cmd += shell_quote(TARVIK2_EMU_PATH);
    for (const auto& a : args) cmd += " " + shell_quote(a);
    cmd += " 2>&1 </dev/null";
    EmuResult r{-1, {}};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
