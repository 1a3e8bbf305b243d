#include "keyhelp.h"

#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "host/device.h"
#include "keymap.h"

namespace {

constexpr int HELP_MARGIN = 24;
const QColor HELP_SHADE(16, 24, 48, 225);

QString row(const QString& a, const QString& b)
{
    return QStringLiteral("<tr><td style='padding-right:18px'><b>%1</b></td><td>%2</td></tr>")
        .arg(a.toHtmlEscaped(), b.toHtmlEscaped());
}

// What a mapped key does, in words.
QString describe(const KeyMap::Entry& e)
{
    if (e.what.mod_button) return QStringLiteral("Mod (the toggle button; sends code %1)").arg(KEY_MOD);
    if (e.what.code == KEY_NONE) return QStringLiteral("nothing (cancels a key not yet taken)");
    if (e.what.code & KEY_SHIFT)
        return QStringLiteral("Mod+%1, code %2 (always shifted)").arg(e.action.mid(6)).arg(e.what.code);
    return QStringLiteral("%1, code %2").arg(e.action).arg(e.what.code);
}

}  // namespace

QString key_help_text(const KeyMap& keys, const std::vector<std::pair<QString, QString>>& hotkeys,
                      const QString& keymap_file, const QStringList& keymap_errors)
{
    QString html = QStringLiteral("<h2>Keys</h2><table>");
    for (const KeyMap::Entry& e : keys.entries())
        html += row(e.pc_key, describe(e) + (e.from_file ? QStringLiteral("  (key-map file)") : QString()));
    html += QStringLiteral("</table>");
    html += QStringLiteral(
                "<p><b>Shift</b> + key, or any key while the <b>Mod (Shift)</b> button is lit, sends the shifted "
                "code: the key's code + %1 (Enter %2 becomes %3, Up %4 becomes %5). The Mod button itself sends "
                "code %6 and stays lit until pressed again. A held key repeats with its repeat count, so the "
                "plot cursor speeds up (1, 10, then 50 steps); an on-screen key held down with the mouse or a "
                "finger repeats the same way.</p>"
                "<p><b>F11</b> or a double click on the LCD: full screen and back. In full screen Esc stays the "
                "instrument's Esc; with <b>Esc = none</b> in the key-map file it leaves full screen.</p>")
                .arg(KEY_SHIFT)
                .arg(KEY_ENTER)
                .arg(KEY_ENTER | KEY_SHIFT)
                .arg(KEY_UP)
                .arg(KEY_UP | KEY_SHIFT)
                .arg(KEY_MOD);
    html += QStringLiteral("<h2>Window</h2><table>");
    for (const auto& [k, what] : hotkeys) html += row(k, what);
    html += QStringLiteral("</table>");
    html += QStringLiteral("<p>Key-map file: %1</p>").arg(keymap_file.toHtmlEscaped());
    if (!keymap_errors.isEmpty()) {
        html += QStringLiteral("<p style='color:#ffb0a0'><b>Lines of the key-map file left out:</b><br>");
        for (const QString& e : keymap_errors) html += e.toHtmlEscaped() + QStringLiteral("<br>");
        html += QStringLiteral("</p>");
    }
    html += QStringLiteral("<p><i>Any key or click closes this help.</i></p>");
    return html;
}

KeyHelp::KeyHelp(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("KeyHelp"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(HELP_MARGIN, HELP_MARGIN, HELP_MARGIN, HELP_MARGIN);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setStyleSheet(QStringLiteral("background: transparent;"));
    scroll->setFocusPolicy(Qt::NoFocus);
    label_ = new QLabel(scroll);
    label_->setObjectName(QStringLiteral("KeyHelpText"));
    label_->setWordWrap(true);
    label_->setTextFormat(Qt::RichText);
    label_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    label_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    scroll->setWidget(label_);
    layout->addWidget(scroll);
    hide();
}

void KeyHelp::open(const QString& text)
{
    label_->setText(text);
    setGeometry(parentWidget()->rect());
    raise();
    show();
}

void KeyHelp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), HELP_SHADE);
}

void KeyHelp::mousePressEvent(QMouseEvent*)
{
    hide();
}
