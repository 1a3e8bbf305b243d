#include "plant_menu.h"

#include <string>

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QMenu>
#include <QWidget>

#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "front/common/plant_title.h"
#include "screens/plant_bearings.h"

namespace {

const QString OPEN_TITLE = QStringLiteral("Open plant");

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

bool plant_has(const Plant& plant, const std::string& path)
{
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    return plant_find_point(plant, path, &m, &p);
}

}  // namespace

PlantMenu::PlantMenu(QWidget* window) : QObject(window), window_(window)
{
    menu_ = new QMenu(QStringLiteral("Plant"), window);
    menu_->setObjectName(QStringLiteral("PlantMenu"));
    dialog_ = new QFileDialog(window, OPEN_TITLE);
    dialog_->setObjectName(QStringLiteral("PlantDialog"));
    dialog_->setFileMode(QFileDialog::ExistingFile);
    dialog_->setNameFilters({QStringLiteral("Plant files (*.json)"), QStringLiteral("All files (*)")});
    connect(dialog_, &QFileDialog::fileSelected, this, [this](const QString& file) { open(file); });

    auto make = [this](const char* name, const QString& caption, const QKeySequence& keys) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setAutoRepeat(false);
        return a;
    };
    open_ = make("plant-open", QStringLiteral("Open plant…"), QKeySequence(Qt::CTRL | Qt::Key_O));
    next_ = make("plant-next", QStringLiteral("Next plant point"), QKeySequence(Qt::CTRL | Qt::Key_P));
    close_ = make("plant-close", QStringLiteral("Close plant"), QKeySequence());
    connect(open_, &QAction::triggered, this, [this] {
        if (plant_source_loaded()) dialog_->setDirectory(QFileInfo(text(plant_source_plant().file)).path());
        dialog_->open();
    });
    connect(next_, &QAction::triggered, this, [this] { next(); });
    connect(close_, &QAction::triggered, this, [this] { close(); });
    rebuild();
}

std::vector<QAction*> PlantMenu::keyActions() const
{
    return {open_, next_};
}

void PlantMenu::rebuild()
{
    menu_->clear();  // deletes the submenus and the point actions it made
    delete points_;
    points_ = new QActionGroup(this);
    points_->setExclusive(true);
    menu_->addAction(open_);
    menu_->addAction(next_);
    next_->setEnabled(plant_source_loaded());
    none_ = walk_ = nullptr;
    if (plant_source_loaded()) {
        const Plant& plant = plant_source_plant();
        menu_->addSection(text(plant.name.empty() ? QFileInfo(text(plant.file)).fileName().toStdString() : plant.name));
        none_ = menu_->addAction(QStringLiteral("No point (synthesised signal)"));
        none_->setObjectName(QStringLiteral("plant-no-point"));
        none_->setCheckable(true);
        points_->addAction(none_);
        connect(none_, &QAction::triggered, this, [this] { choose(QString()); });
        for (const PlantGroup& g : plant.groups) {
            QMenu* gm = menu_->addMenu(text(g.name));
            for (const PlantMachine& m : g.machines) {
                QMenu* mm = gm->addMenu(text(m.name));
                for (const PlantPoint& p : m.points) {
                    const QString path = text(plant_point_path(g, m, p));
                    QAction* a = mm->addAction(text(p.name));
                    a->setCheckable(true);
                    a->setData(path);
                    points_->addAction(a);
                    connect(a, &QAction::triggered, this, [this, path] { choose(path); });
                }
            }
        }
        walk_ = menu_->addAction(QString());
        walk_->setObjectName(QStringLiteral("plant-walk"));
        walk_->setEnabled(false);
        menu_->addSeparator();
        menu_->addAction(close_);
    }
    showProbe();
}

void PlantMenu::showProbe()
{
    shown_ = titleText();
    if (!plant_source_loaded()) return;
    const QString point = text(plant_source_point());
    none_->setChecked(point.isEmpty());
    // The point checked, and its group and machine in bold.
    for (QAction* a : points_->actions()) {
        if (a == none_) continue;
        const QString path = a->data().toString();
        a->setChecked(path == point);
    }
    for (QAction* g : menu_->actions()) {
        if (!g->menu()) continue;
        bool group_has = false;
        for (QAction* m : g->menu()->actions()) {
            bool machine_has = false;
            for (QAction* p : m->menu()->actions()) machine_has = machine_has || p->isChecked();
            QFont f = m->font();
            f.setBold(machine_has);
            m->setFont(f);
            group_has = group_has || machine_has;
        }
        QFont f = g->font();
        f.setBold(group_has);
        g->setFont(f);
    }
    // While a route is walked the route's point is under the probe.
    walk_->setVisible(plant_source_walking());
    if (plant_source_walking())
        walk_->setText(QStringLiteral("Route walk: probe on ") + text(plant_source_walk_point()) +
                       (plant_source_walk_in_plant() ? QString() : QStringLiteral(" (not in the plant)")));
}

QString PlantMenu::open(const QString& path, const QString& point)
{
    Plant plant;
    std::string e = plant_load(path.toStdString(), plant_bearing_lookup, &plant);
    if (e.empty()) {
        std::string keep = point.toStdString();
        if (point.isEmpty() && plant_source_loaded() && plant_has(plant, plant_source_point()))
            keep = plant_source_point();
        e = plant_source_open(plant, keep);
    }
    if (!e.empty()) {
        Q_EMIT problem(OPEN_TITLE, text(e));
        return text(e);
    }
    rebuild();
    Q_EMIT opened();
    Q_EMIT changed();
    return QString();
}

void PlantMenu::choose(const QString& point)
{
    if (!plant_source_choose(point.toStdString()).empty()) return;
    showProbe();
    Q_EMIT changed();
}

void PlantMenu::next()
{
    if (!plant_source_loaded()) return;
    const std::vector<std::string> paths = plant_point_paths(plant_source_plant());
    if (paths.empty()) return;
    size_t i = 0;
    while (i < paths.size() && paths[i] != plant_source_point()) ++i;
    choose(text(paths[i < paths.size() ? (i + 1) % paths.size() : 0]));
}

void PlantMenu::close()
{
    if (!plant_source_loaded()) return;
    plant_source_close();
    rebuild();
    Q_EMIT changed();
}

QString PlantMenu::titleText() const
{
    return text(plant_probe_text("probe on no point (Plant menu, Ctrl+P)"));
}

void PlantMenu::poll()
{
    if (titleText() == shown_) return;
    showProbe();
    Q_EMIT changed();
}

QString plant_options_apply(PlantMenu* menu, const QString& plant, const QString& point, bool point_given,
                            bool signal_given)
{
    QString e;
    if (point_given && plant.isEmpty())
        e = QStringLiteral("--plant-point needs --plant FILE");
    else if (!plant.isEmpty() && signal_given)
        e = QStringLiteral("--plant and --signal both give the signal: choose one");
    else if (point_given && point.isEmpty())
        e = QStringLiteral("--plant-point needs a point's path \"group/machine/point\"");
    if (!e.isEmpty()) {
        Q_EMIT menu->problem(OPEN_TITLE, e);
        return e;
    }
    return plant.isEmpty() ? QString() : menu->open(plant, point);
}
