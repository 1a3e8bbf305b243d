// tarvik2-emu: the emulator window.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QApplication>

#include "app/startup.h"
#include "form.h"
#include "host/session.h"

namespace {

const char* const USAGE =
    "usage: tarvik2-emu [--data DIR]\n"
    "Runs the Tarvik-2 instrument in a window. flash.dat and fram.dat live in DIR\n"
    "(default: the current folder).\n";

bool have_display()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string data;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("tarvik2-emu %s\n", TARVIK2_VERSION);
            return 0;
        }
    }
    if (!have_display()) {
        std::fprintf(stderr,
                     "tarvik2-emu: no display; run 'xvfb-run make run' for a virtual one, "
                     "or use the headless runner build/release/host/headless/tarvik2-run\n");
        return 1;
    }
    QApplication app(argc, argv);
    // Qt has taken its own options out of argv.
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--data") && i + 1 < args.size()) {
            data = args[++i].toStdString();
        } else {
            std::fprintf(stderr, "tarvik2-emu: unknown argument '%s'\n%s", args[i].toLocal8Bit().constData(), USAGE);
            return 2;
        }
    }
    if (!data.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(data, ec)) {
            std::fprintf(stderr, "tarvik2-emu: --data %s: not a folder\n", data.c_str());
            return 2;
        }
        data_dir_set(data);
    }
    emu_set_main(instrument_main);
    TFormEmul form;
    // Ending the program from outside powers the instrument off first, so
    // that settings are saved and flash.dat is closed.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, [](int) { TFormEmul::stop_requested = 1; });
    form.show();
    return app.exec();
}
