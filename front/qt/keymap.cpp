#include "keymap.h"

#include <algorithm>

#include <QFile>
#include <QKeySequence>
#include <QRegularExpression>

#include "front/common/key_names.h"
#include "host/device.h"

namespace {

// Keys the window keeps for itself (key help, full screen and screenshot).
constexpr int RESERVED_KEYS[] = {Qt::Key_F1, Qt::Key_F11, Qt::Key_F12};

// A key of the keypad by its name (the Mod toggle is an action of its own).
bool instrument_key(const QString& word, u32* code)
{
    return key_by_name(word.toStdString(), code) && *code != KEY_MOD;
}

// The action a file names; false when it names none.
bool parse_action(const QString& text, KeyAction* action)
{
    const QString word = text.trimmed().toLower();
    u32 code = 0;
    if (word == QLatin1String("mod")) {
        *action = {KEY_MOD, true};
    } else if (word == QLatin1String("none")) {
        *action = {KEY_NONE, false};
    } else if (word.startsWith(QLatin1String("shift+")) && instrument_key(word.mid(6), &code)) {
        *action = {code | KEY_SHIFT, false};
    } else if (instrument_key(word, &code)) {
        *action = {code, false};
    } else {
        return false;
    }
    return true;
}

QString key_text(int key, bool keypad)
{
    return QKeySequence(key | (keypad ? Qt::KeypadModifier : Qt::NoModifier)).toString(QKeySequence::PortableText);
}

}  // namespace

KeyMap::KeyMap()
{
    set(Qt::Key_Left, false, {KEY_LEFT, false}, false, 0);
    set(Qt::Key_Right, false, {KEY_RIGHT, false}, false, 0);
    set(Qt::Key_Up, false, {KEY_UP, false}, false, 0);
    set(Qt::Key_Down, false, {KEY_DOWN, false}, false, 0);
    set(Qt::Key_Escape, false, {KEY_ESC, false}, false, 0);
    set(Qt::Key_Return, false, {KEY_ENTER, false}, false, 0);
    set(Qt::Key_Enter, false, {KEY_ENTER, false}, false, 0);
}

quint64 KeyMap::slot(int key, bool keypad)
{
    return (static_cast<quint64>(static_cast<quint32>(key)) << 1) | (keypad ? 1u : 0u);
}

void KeyMap::set(int key, bool keypad, KeyAction action, bool from_file, int line)
{
    const quint64 s = slot(key, keypad);
    auto it = index_.find(s);
    if (it != index_.end()) {
        items_[*it].action = action;
        items_[*it].from_file = from_file;
        items_[*it].line = line;
        return;
    }
    index_.insert(s, items_.size());
    items_.push_back({key, keypad, action, from_file, line});
}

const KeyAction* KeyMap::find(int key, bool keypad) const
{
    auto it = index_.find(slot(key, keypad));
    if (it == index_.end() && keypad) it = index_.find(slot(key, false));
    return it == index_.end() ? nullptr : &items_[*it].action;
}

bool KeyMap::load(const QString& path, QStringList* errors)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (errors) errors->append(path + QStringLiteral(": cannot read: ") + f.errorString());
        return false;
    }
    parse(QString::fromUtf8(f.readAll()), path, errors);
    return true;
}

void KeyMap::parse(const QString& text, const QString& origin, QStringList* errors)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const int line = n + 1;
        const QString row = lines[n].trimmed();
        auto bad = [&](const QString& why) {
            if (errors) errors->append(QStringLiteral("%1:%2: %3").arg(origin).arg(line).arg(why));
        };
        if (row.isEmpty() || row.startsWith(QLatin1Char('#')) || row.startsWith(QLatin1Char(';'))) continue;
        if (row.startsWith(QLatin1Char('['))) {
            if (row.compare(QLatin1String("[keys]"), Qt::CaseInsensitive) != 0)
                bad(QStringLiteral("unknown section %1 (the file has only [keys])").arg(row));
            continue;
        }
        const int eq = row.indexOf(QLatin1Char('='));
        if (eq < 0) {
            bad(QStringLiteral("'%1' is not of the form KEY = ACTION").arg(row));
            continue;
        }
        // A comment may follow the action ('#' and ';' are in no action).
        QString action_part = row.mid(eq + 1);
        const qsizetype comment = action_part.indexOf(QRegularExpression(QStringLiteral("[#;]")));
        if (comment >= 0) action_part.truncate(comment);
        action_part = action_part.trimmed();
        const QString key_part = row.left(eq).trimmed();
        const QKeySequence seq = QKeySequence::fromString(key_part, QKeySequence::PortableText);
        if (key_part.isEmpty() || seq.count() != 1 || seq[0].key() == Qt::Key_unknown) {
            bad(QStringLiteral("'%1' is not a key (for example A, F5, Space, PgUp, Num+8)").arg(key_part));
            continue;
        }
        const int key = seq[0].key();
        const Qt::KeyboardModifiers mods = seq[0].keyboardModifiers();
        if (mods & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) {
            bad(QStringLiteral("'%1': only Num+ may come with a key (Shift with a key gives the shifted code by "
                               "itself)")
                    .arg(key_part));
            continue;
        }
        if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta) {
            bad(QStringLiteral("'%1' is a modifier key and cannot be mapped").arg(key_part));
            continue;
        }
        if (std::find(std::begin(RESERVED_KEYS), std::end(RESERVED_KEYS), key) != std::end(RESERVED_KEYS)) {
            bad(QStringLiteral("'%1' is taken by the window (F1 key help, F11 full screen, F12 screenshot)").arg(key_part));
            continue;
        }
        KeyAction action{};
        if (!parse_action(action_part, &action)) {
            bad(QStringLiteral("'%1' is not an instrument key (esc, enter, up, down, left, right, mod, shift+KEY or "
                               "none)")
                    .arg(action_part));
            continue;
        }
        const bool keypad = mods & Qt::KeypadModifier;
        auto it = index_.find(slot(key, keypad));
        if (it != index_.end() && items_[*it].from_file) {
            bad(QStringLiteral("'%1' is mapped already on line %2").arg(key_part).arg(items_[*it].line));
            continue;
        }
        set(key, keypad, action, true, line);
    }
}

QString KeyMap::action_name(const KeyAction& action)
{
    if (action.mod_button) return QStringLiteral("mod");
    if (action.code == KEY_NONE) return QStringLiteral("none");
    const char* key = key_name(action.code & ~KEY_SHIFT);
    const QString name = key ? QLatin1String(key) : QString();
    return (action.code & KEY_SHIFT) ? QStringLiteral("shift+") + name : name;
}

std::vector<KeyMap::Entry> KeyMap::entries() const
{
    std::vector<Entry> out;
    for (bool file : {false, true})
        for (const Item& it : items_)
            if (it.from_file == file)
                out.push_back({key_text(it.key, it.keypad), action_name(it.action), it.action, file});
    return out;
}
