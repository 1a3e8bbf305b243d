// tarvik2-emu: the emulator window.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QStandardPaths>

#include "analysis/signal_source.h"
#include "app/startup.h"
#include "front/common/instance.h"
#include "host/session.h"
#include "plant_menu.h"
#include "storage/nand.h"
#include "window.h"

namespace {

const char* const USAGE =
    "usage: tarvik2-emu [--data DIR | --user-data] [--scale N|fit|default] [--keymap FILE]\n"
    "                   [--plant FILE [--plant-point PATH]] [--signal FILE ...]\n"
    "Runs the Tarvik-2 instrument in a window.\n"
    "  --data DIR       flash.dat and fram.dat live in DIR (default: the current folder);\n"
    "                   one window per folder\n"
    "  --user-data      the same in ~/.local/share/tarvik2 (created if missing; the\n"
    "                   desktop menu entry starts the window so)\n"
    "  --scale S        the LCD at 1, 2, 3 or 4 times its size, fitted to a resizable\n"
    "                   window (fit) or in the instrument's layout (default); without\n"
    "                   it, the zoom chosen last time; one the screen cannot hold gives\n"
    "                   the largest that fits\n"
    "  --keymap FILE    extra PC keys (an INI file, see the README); default:\n"
    "                   keymap.ini next to the settings (~/.config/tarvik2/)\n"
    "  --signal FILE and the other signal options below: a recording measured in\n"
    "                   place of the synthesised vibration (also \"Signal…\", Ctrl+L,\n"
    "                   or a file dropped onto the window)\n"
    "  --plant FILE     a virtual plant (JSON, see examples/plants): the measuring\n"
    "                   chain is fed the signal of the point the probe is on (the\n"
    "                   \"Plant\" menu, Ctrl+P for the next point, Ctrl+O opens a\n"
    "                   plant); on a route made from the plant, the point under\n"
    "                   the route screen's cursor\n"
    "  --plant-point PATH  the point the probe is on outside a route,\n"
    "                   \"group/machine/point\" (default: none, the synthesised signal)\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "Keys: F1 shows them all; F11 full screen, F12 screenshot, Ctrl+R record,\n"
    "Ctrl+0..4 zoom, Ctrl+O open plant, Ctrl+P next plant point.\n";

constexpr int EXIT_BAD_ARGUMENT = 2;
constexpr int EXIT_NOT_STARTED = 1;
constexpr int EXIT_IMAGE_CHANGED = 1;

bool have_display()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Says it on standard error and, on a real display, in a message box.
void tell(const QString& text)
{
    std::fprintf(stderr, "tarvik2-emu: %s\n", text.toLocal8Bit().constData());
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::warning(nullptr, QStringLiteral("Tarvik-2 Emulator"), text);
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(USAGE, stdout);
            std::fputs(SIGNAL_OPTIONS_HELP, stdout);
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
                     "or use the headless runner build/release/front/headless/tarvik2-run\n");
        return EXIT_NOT_STARTED;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarvik2-emu.png")));
    // Qt has taken its own options out of argv.
    const QStringList args = QApplication::arguments();
    std::string data;
    QString keymap;
    ZoomMode zoom = ZOOM_LAYOUT;
    bool zoom_given = false;
    SignalOptions signal;
    QString signal_error;  // told once the window shows; the instrument runs on synthesis then
    QString signal_option;
    QString plant, plant_point;
    bool plant_point_given = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == QLatin1String("--data") && has_value) {
            data = args[++i].toStdString();
        } else if (a == QLatin1String("--user-data")) {
            const QString folder =
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/tarvik2");
            if (!QDir().mkpath(folder)) {
                std::fprintf(stderr, "tarvik2-emu: cannot create %s\n", folder.toLocal8Bit().constData());
                return EXIT_NOT_STARTED;
            }
            data = folder.toStdString();
        } else if (a == QLatin1String("--scale") && has_value) {
            if (!zoom_parse(args[++i], &zoom)) {
                std::fprintf(stderr, "tarvik2-emu: --scale %s: give 1, 2, 3, 4, fit or default\n",
                             args[i].toLocal8Bit().constData());
                return EXIT_BAD_ARGUMENT;
            }
            zoom_given = true;
        } else if (a == QLatin1String("--keymap") && has_value) {
            keymap = args[++i];
        } else if (a == QLatin1String("--plant") && has_value) {
            plant = args[++i];
        } else if (a == QLatin1String("--plant-point") && has_value) {
            plant_point = args[++i];
            plant_point_given = true;
        } else if (signal_option_known(a.toStdString()) && has_value) {
            const std::string e = signal_option_set(a.toStdString(), args[++i].toStdString(), &signal);
            if (!e.empty() && signal_error.isEmpty()) signal_error = QString::fromStdString(e);
            if (a != QLatin1String("--signal")) signal_option = a;
        } else {
            std::fprintf(stderr, "tarvik2-emu: unknown argument '%s'\n%s", a.toLocal8Bit().constData(), USAGE);
            return EXIT_BAD_ARGUMENT;
        }
    }
    if (!data.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(data, ec)) {
            std::fprintf(stderr, "tarvik2-emu: --data %s: not a folder\n", data.c_str());
            return EXIT_BAD_ARGUMENT;
        }
    }
    // One window per data folder, decided before any of its files is touched.
    DataDirLock lock;
    std::string error;
    bool busy = false;
    if (!lock.acquire(data, &error, &busy)) {
        if (busy) {
            tell(QString::fromStdString(error));
            return EXIT_NOT_STARTED;
        }
        // A folder that cannot be locked (some network file systems) is used
        // all the same.
        std::fprintf(stderr, "tarvik2-emu: %s\n", error.c_str());
    }
    if (!data.empty()) data_dir_set(data);
    image_changed_prepare("tarvik2-emu", data_path("flash.dat"), EXIT_IMAGE_CHANGED);
    nand_set_changed_hook(image_changed_exit);
    emu_set_main(instrument_main);

    TFormEmul form;
    if (zoom_given) form.setZoom(zoom, false);
    if (keymap.isEmpty() && QFileInfo::exists(TFormEmul::defaultKeyMapPath())) keymap = TFormEmul::defaultKeyMapPath();
    if (!keymap.isEmpty()) {
        const QStringList problems = form.loadKeyMap(keymap);
        for (const QString& p : problems) std::fprintf(stderr, "tarvik2-emu: %s\n", p.toLocal8Bit().constData());
        if (!problems.isEmpty())
            form.titleMessage(QStringLiteral("key map: %1 line(s) left out, see F1").arg(problems.size()));
    }
    // Ending the program from outside powers the instrument off first, so
    // that settings are saved and flash.dat is closed.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, [](int) { TFormEmul::stop_requested = 1; });
    // The program ends with the window, whatever else is open then; the lock
    // goes when main returns.
    QObject::connect(&form, &TFormEmul::finished, &app, &QCoreApplication::quit);
    form.show();
    // A problem with the start-up files is told in a box that waits for no
    // answer: the run starts inside the main event loop, never inside the
    // loop of a box.
    if (signal_error.isEmpty() && !signal_option.isEmpty() && signal.path.empty())
        signal_error = signal_option + QStringLiteral(" needs --signal FILE");
    // A plant and a recorded signal both give the signal: with both, neither
    // is taken (the problem is told, on standard error and in a box).
    plant_options_apply(form.plantMenu(), plant, plant_point, plant_point_given, !signal.path.empty());
    if (signal_error.isEmpty()) {
        form.setSignalOptions(signal);
        if (!signal.path.empty() && plant.isEmpty())
            signal_error = form.loadSignal(QString::fromStdString(signal.path));
    } else {
        form.warn(QStringLiteral("Load signal"), signal_error);
    }
    if (!signal_error.isEmpty())
        std::fprintf(stderr, "tarvik2-emu: %s\n", signal_error.toLocal8Bit().constData());
    return app.exec();
}
