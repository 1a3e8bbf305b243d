// The virtual plant in the window: the Plant menu with its groups, machines
// and points (the point the probe is on checked), its keys in the key help,
// the title naming the point the probe is on (also on a route walk), a
// plant file that cannot be used told whole with nothing half-loaded, the
// command line's --plant and --plant-point, and a plant and a recorded
// signal taking each other's place.
#include <gtest/gtest.h>

#include <fstream>

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include "analysis/plant_source.h"
#include "analysis/signal_source.h"
#include "front/qt/keyhelp.h"
#include "front/qt/plant_menu.h"
#include "front/qt/window.h"
#include "tests/qt/qt_support.h"
#include "tests/support/support.h"

namespace {

const QString PUMP_SET = QStringLiteral(TARVIK2_SOURCE_DIR "/examples/plants/pump_set.json");
const QString UNBALANCE = QStringLiteral(TARVIK2_DEMO_DIR "/unbalance.wav");

class WindowPlant : public WindowFixture {};

QMenu* submenu(QMenu* menu, const QString& title)
{
    for (QAction* a : menu->actions())
        if (a->menu() && a->text() == title) return a->menu();
    return nullptr;
}

// The point actions of the Plant menu as "group/machine/point", with the
// checked one marked "*", and the bold group and machine marked "!".
QStringList menu_points(QMenu* menu)
{
    QStringList out;
    for (QAction* g : menu->actions()) {
        if (!g->menu()) continue;
        for (QAction* m : g->menu()->actions())
            for (QAction* p : m->menu()->actions())
                out << (g->font().bold() ? QStringLiteral("!") : QString()) + g->text() + QStringLiteral("/") +
                           (m->font().bold() ? QStringLiteral("!") : QString()) + m->text() + QStringLiteral("/") +
                           p->text() + (p->isChecked() ? QStringLiteral("*") : QString());
    }
    return out;
}

QAction* named(QMenu* menu, const char* name)
{
    for (QAction* a : menu->actions())
        if (a->objectName() == QLatin1String(name)) return a;
    return nullptr;
}

TEST_F(WindowPlant, TheMenuListsThePointsAndPutsTheProbeOnTheOneChosen)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    PlantMenu* plant = form.plantMenu();
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("plant:")));
    // Without a plant: only opening it.
    EXPECT_FALSE(form.action("plant-next")->isEnabled());

    // "Open plant…" opens the file dialog; the file chosen is read.
    form.action("plant-open")->trigger();
    ASSERT_TRUE(plant->dialog()->isVisible());
    emit plant->dialog()->fileSelected(PUMP_SET);
    plant->dialog()->hide();
    ASSERT_TRUE(plant_source_loaded());
    EXPECT_EQ(plant_source_point(), "");
    EXPECT_TRUE(named(plant->menu(), "plant-no-point")->isChecked());
    EXPECT_TRUE(form.windowTitle().endsWith(
        QStringLiteral("plant: Pump set walk-through, probe on no point (Plant menu, Ctrl+P)")))
        << form.windowTitle().toStdString();
    EXPECT_EQ(menu_points(plant->menu()),
              QStringList({"Pump set/Motor/M1 V", "Pump set/Motor/M1 A", "Pump set/Pump/P1 V", "Pump set/Pump/P1 H"}));

    // A point chosen in the menu: checked, its machine and group in bold,
    // in the title, and the measuring chain's source.
    submenu(submenu(plant->menu(), QStringLiteral("Pump set")), QStringLiteral("Pump"))->actions()[1]->trigger();
    EXPECT_EQ(plant_source_point(), "Pump set/Pump/P1 H");
    EXPECT_TRUE(plant_source_active());
    EXPECT_EQ(menu_points(plant->menu()), QStringList({"!Pump set/Motor/M1 V", "!Pump set/Motor/M1 A",
                                                       "!Pump set/!Pump/P1 V", "!Pump set/!Pump/P1 H*"}));
    EXPECT_TRUE(form.windowTitle().endsWith(QStringLiteral("probe on Pump set/Pump/P1 H")));

    // Ctrl+P steps on: after the last point the first.
    form.action("plant-next")->trigger();
    EXPECT_EQ(plant_source_point(), "Pump set/Motor/M1 V");
    form.action("plant-next")->trigger();
    EXPECT_EQ(plant_source_point(), "Pump set/Motor/M1 A");
    EXPECT_TRUE(form.windowTitle().endsWith(QStringLiteral("probe on Pump set/Motor/M1 A")));
    EXPECT_TRUE(menu_points(plant->menu()).contains(QStringLiteral("!Pump set/!Motor/M1 A*")));

    // Opening the file again (after editing it) keeps the point.
    ASSERT_EQ(plant->open(PUMP_SET), QString());
    EXPECT_EQ(plant_source_point(), "Pump set/Motor/M1 A");

    // "No point": the other sources measure.
    named(plant->menu(), "plant-no-point")->trigger();
    EXPECT_FALSE(plant_source_active());
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("probe on no point")));

    // "Close plant", and the synthesised signal from the right-click menu's
    // action, put the plant away.
    named(plant->menu(), "plant-close")->trigger();
    EXPECT_FALSE(plant_source_loaded());
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("plant:")));
    ASSERT_EQ(plant->open(PUMP_SET, QStringLiteral("Pump set/Pump/P1 V")), QString());
    form.action("synthesis")->trigger();
    EXPECT_FALSE(plant_source_loaded());
}

TEST_F(WindowPlant, TheTitleFollowsTheProbeOnARouteWalk)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    ASSERT_EQ(form.plantMenu()->open(PUMP_SET, QStringLiteral("Pump set/Motor/M1 A")), QString());
    QAction* walk = named(form.plantMenu()->menu(), "plant-walk");
    ASSERT_TRUE(walk);
    EXPECT_FALSE(walk->isVisible());
    const struct {
        const char* route_point;  // nullptr: the walk ends
        const char* title;
        const char* menu_line;
    } steps[] = {
        {"Pump set/Pump/P1 H", "probe on Pump set/Pump/P1 H (route)", "Route walk: probe on Pump set/Pump/P1 H"},
        {"Pump set/Pump/P2 X", "route point Pump set/Pump/P2 X not in the plant: its noise floor",
         "Route walk: probe on Pump set/Pump/P2 X (not in the plant)"},
        {nullptr, "probe on Pump set/Motor/M1 A", nullptr},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.title);
        if (st.route_point)
            plant_source_walk(st.route_point);
        else
            plant_source_walk_end();
        // The window looks at every redraw.
        form.TimerRedrawTimer();
        EXPECT_TRUE(form.windowTitle().endsWith(QString::fromUtf8(st.title))) << form.windowTitle().toStdString();
        EXPECT_EQ(walk->isVisible(), st.menu_line != nullptr);
        if (st.menu_line) {
            EXPECT_EQ(walk->text(), QString::fromUtf8(st.menu_line));
        }
        // The point chosen outside the route stays checked.
        EXPECT_TRUE(menu_points(form.plantMenu()->menu()).contains(QStringLiteral("!Pump set/!Motor/M1 A*")));
    }
}

TEST_F(WindowPlant, APlantFileThatCannotBeUsedIsToldWholeAndNothingChanges)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    ASSERT_EQ(form.plantMenu()->open(PUMP_SET, QStringLiteral("Pump set/Pump/P1 H")), QString());
    const QString title = form.windowTitle();
    std::ofstream(dir.file("bad.json"))
        << R"({"format": "tarvik2-plant", "version": 1, "groups": [{"name": "G", "machines": [{"name": "M",
              "rpm": -3, "points": []}]}]})";
    const struct {
        std::string file;
        QString point;
        std::string message;
    } cases[] = {
        {dir.file("bad.json"), QString(), dir.file("bad.json") + ": $.groups[0].machines[0].rpm: must be"},
        {dir.file("missing.json"), QString(), dir.file("missing.json") + ": cannot read the plant file"},
        {PUMP_SET.toStdString(), QStringLiteral("Pump set/Pump/P9"), "pump_set.json: no point 'Pump set/Pump/P9'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QString told;
        const QMetaObject::Connection tell = QObject::connect(
            form.plantMenu(), &PlantMenu::problem, [&](const QString&, const QString& text) { told = text; });
        const QString e = form.plantMenu()->open(QString::fromStdString(c.file), c.point);
        QObject::disconnect(tell);
        EXPECT_TRUE(e.contains(QString::fromStdString(c.message))) << e.toStdString();
        EXPECT_EQ(told, e);
        EXPECT_FALSE(e.contains(QLatin1Char('\n')));
        // The plant and point in use stay.
        EXPECT_EQ(plant_source_point(), "Pump set/Pump/P1 H");
        EXPECT_TRUE(plant_source_plant().file.ends_with("pump_set.json"));
        EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("probe on Pump set/Pump/P1 H")));
        EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("plant not loaded")));
    }
    EXPECT_TRUE(title.contains(QStringLiteral("probe on Pump set/Pump/P1 H")));
}

// What the command line asks: the plant with or without its point, and the
// options that cannot go together, each told in one line.
TEST_F(WindowPlant, CommandLineOptions)
{
    TFormEmul form;
    form.TimerStart->stop();
    const struct {
        QString plant, point;
        bool point_given, signal_given;
        const char* problem;  // "" none
        const char* probe;
    } cases[] = {
        {PUMP_SET, QStringLiteral("Pump set/Pump/P1 V"), true, false, "", "Pump set/Pump/P1 V"},
        {PUMP_SET, QString(), false, false, "", ""},
        {QString(), QStringLiteral("Pump set/Pump/P1 V"), true, false, "--plant-point needs --plant FILE", ""},
        {PUMP_SET, QString(), false, true, "--plant and --signal both give the signal: choose one", ""},
        {PUMP_SET, QStringLiteral("Pump/P1"), true, false, "pump_set.json: no point 'Pump/P1'", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        plant_source_close();
        const QString e = plant_options_apply(form.plantMenu(), c.plant, c.point, c.point_given, c.signal_given);
        EXPECT_TRUE(e.contains(QString::fromUtf8(c.problem))) << e.toStdString();
        EXPECT_EQ(e.isEmpty(), *c.problem == 0);
        EXPECT_EQ(plant_source_loaded(), e.isEmpty() && !c.plant.isEmpty());
        EXPECT_EQ(plant_source_point(), c.probe);
    }
    const EmuResult help = run_emu({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"--plant FILE", "--plant-point PATH", "Ctrl+P"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
}

TEST_F(WindowPlant, APlantAndARecordedSignalTakeEachOthersPlace)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    ASSERT_TRUE(form.loadSignal(UNBALANCE).isEmpty());
    ASSERT_EQ(form.plantMenu()->open(PUMP_SET, QStringLiteral("Pump set/Pump/P1 H")), QString());
    EXPECT_FALSE(signal_source_active());
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("signal:")));
    ASSERT_TRUE(form.loadSignal(UNBALANCE).isEmpty());
    EXPECT_FALSE(plant_source_loaded());
    EXPECT_TRUE(signal_source_active());
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("plant:")));
}

TEST_F(WindowPlant, ThePlantKeysAreInTheKeyHelpAndTheButtonOpensTheMenu)
{
    TFormEmul form;
    form.TimerStart->stop();
    ASSERT_TRUE(show_active(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    ASSERT_TRUE(form.keyHelp()->isVisible());
    const QString text = form.keyHelp()->findChild<QLabel*>(QStringLiteral("KeyHelpText"))->text();
    for (const char* part : {"Ctrl+O", "Open plant", "Ctrl+P", "Next plant point"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
    QTest::keyClick(&form, Qt::Key_F1);
    // The keys themselves.
    ASSERT_EQ(form.plantMenu()->open(PUMP_SET), QString());
    QTest::keyClick(&form, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(plant_source_point(), "Pump set/Motor/M1 V");
    // The button beside the keypad, outside the LCD.
    const QRect lcd(form.ImageScr->mapTo(&form, form.ImageScr->lcdRect().topLeft()), form.ImageScr->lcdRect().size());
    EXPECT_FALSE(form.ButtonPlant->geometry().intersects(lcd));
    EXPECT_FALSE(form.ButtonPlant->geometry().intersects(form.ClipMark->geometry()));
    QTest::mouseClick(form.ButtonPlant, Qt::LeftButton);
    EXPECT_TRUE(process_events_until([&] { return form.plantMenu()->menu()->isVisible(); }, 2000));
    form.plantMenu()->menu()->hide();
}

}  // namespace
