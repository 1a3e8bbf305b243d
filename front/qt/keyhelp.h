// The key help that F1 shows over the window: the PC keys and what they
// press on the instrument, the shifted codes, the Mod toggle and the
// window's own hotkeys. Any key or click closes it.
#pragma once
#include <utility>
#include <vector>

#include <QStringList>
#include <QWidget>

class QLabel;
class KeyMap;

// The text of the help (rich text): the key map, the window's hotkeys as
// (keys, what they do) and the problems found in the key-map file.
QString key_help_text(const KeyMap& keys, const std::vector<std::pair<QString, QString>>& hotkeys,
                      const QString& keymap_file, const QStringList& keymap_errors);

class KeyHelp : public QWidget {
    Q_OBJECT
public:
    explicit KeyHelp(QWidget* parent);
    // Shows `text` over the whole parent.
    void open(const QString& text);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    QLabel* label_;
};
