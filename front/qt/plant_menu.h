// The window's virtual plant: the Plant menu (open a plant file, the point
// the probe is on by group, machine and point, the next point, close) and
// the plant's part of the title, which says which point the probe is on,
// also while a route made from the plant is walked.
#pragma once
#include <vector>

#include <QObject>
#include <QString>

class QAction;
class QActionGroup;
class QFileDialog;
class QMenu;
class QWidget;

class PlantMenu : public QObject {
    Q_OBJECT
public:
    explicit PlantMenu(QWidget* window);

    QMenu* menu() const { return menu_; }
    // The actions with keys (open, next point), for the window's shortcuts
    // and key help.
    std::vector<QAction*> keyActions() const;
    // The file dialog of "Open plant…".
    QFileDialog* dialog() const { return dialog_; }

    // Reads the plant file `path` and makes it the plant in use, the probe
    // on `point` ("group/machine/point"; "" keeps the point the probe was on
    // when the new plant has it, else none). Returns "" or one line naming
    // the file, the JSON path and what is wrong; then nothing changes.
    QString open(const QString& path, const QString& point = QString());
    // The probe on another point of the plant ("" on none).
    void choose(const QString& point);
    // The probe on the plant's next point (after the last, or on none, the
    // first).
    void next();
    // The plant put away.
    void close();

    // The title's part ("" without a plant): "plant: NAME, probe on PATH",
    // with "(route)" while a route walk has it on a point of the plant.
    QString titleText() const;
    // Looks whether the probe has moved (a route walk moves it); emits
    // changed() when it has.
    void poll();

Q_SIGNALS:
    // The plant or the point the probe is on changed: the title follows.
    void changed();
    // A plant was taken in use.
    void opened();
    // A plant file could not be used: (title, one line).
    void problem(const QString& title, const QString& text);

private:
    void rebuild();
    void showProbe();

    QWidget* window_;
    QMenu* menu_;
    QFileDialog* dialog_;
    QAction* open_;
    QAction* next_;
    QAction* close_;
    QAction* none_ = nullptr;
    QAction* walk_ = nullptr;
    QActionGroup* points_ = nullptr;
    QString shown_;
};

// What the window's command line asks of the plant (`plant` "" when not
// given): "" or the problem, one line; the probe is then on no plant.
QString plant_options_apply(PlantMenu* menu, const QString& plant, const QString& point, bool point_given,
                            bool signal_given);
