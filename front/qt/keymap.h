// Which PC key presses which instrument key. Built in: the arrows, Esc and
// Return / Enter. A key-map file adds or changes keys, one per line:
//
//   # the numeric keypad with Num Lock on
//   [keys]
//   Num+8 = up
//   Num+2 = down
//   Num+0 = mod
//   F5    = shift+enter
//
// Left of '=' a key as Qt names it ("A", "F5", "Space", "PgUp", "Num+8" for
// the keypad's 8); right of it esc, enter, up, down, left, right, mod (the
// Mod toggle button), shift+KEY (always the shifted code) or none (the key
// then does nothing but cancel a key not yet taken, as unmapped keys do).
// Shift with a mapped key gives the shifted code, as for the built-in keys.
// Blank lines and lines starting with '#' or ';' are skipped, and a '#' or
// ';' after the action starts a comment; the [keys] header is optional. A
// keypad key without an entry of its own works as the same key elsewhere.
#pragma once
#include <vector>

#include <QHash>
#include <QString>
#include <QStringList>

#include "base/types.h"

// What a mapped PC key does.
struct KeyAction {
    u32 code;         // instrument key code (with 128 for shift+KEY); 65535 for none
    bool mod_button;  // acts as the Mod toggle button
};

class KeyMap {
public:
    // The built-in keys.
    KeyMap();

    // Reads the file at `path` on top of the current keys. Returns false
    // when it cannot be read (with one line in `errors`); each bad line adds
    // "PATH:LINE: problem" to `errors` and is skipped.
    bool load(const QString& path, QStringList* errors);
    // The same for text already read; `origin` names it in the messages.
    void parse(const QString& text, const QString& origin, QStringList* errors);

    // The action of a key press (Qt key and whether it came from the
    // keypad); nullptr when the key is not mapped.
    const KeyAction* find(int key, bool keypad) const;

    // One line of the key help: the PC key, the instrument key.
    struct Entry {
        QString pc_key;
        QString action;  // as a file names it
        KeyAction what;
        bool from_file;
    };
    // The mapped keys: the built-in ones first, then the file's in its order.
    std::vector<Entry> entries() const;

    // The name a file uses for an action ("enter", "shift+up", "mod").
    static QString action_name(const KeyAction& action);

private:
    struct Item {
        int key;
        bool keypad;
        KeyAction action;
        bool from_file;
        int line;  // where the file set it
    };
    std::vector<Item> items_;
    QHash<quint64, size_t> index_;  // (key, keypad) to item
    static quint64 slot(int key, bool keypad);
    void set(int key, bool keypad, KeyAction action, bool from_file, int line);
};
