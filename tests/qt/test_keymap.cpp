// The key map: built-in keys, key-map files with their bad lines named by
// line number, and the window posting what a mapped key says.
#include <gtest/gtest.h>

#include <fstream>

#include <QTest>

#include "front/qt/keymap.h"
#include "front/qt/window.h"
#include "host/device.h"
#include "host/session.h"
#include "tests/qt/qt_support.h"
#include "tests/support/support.h"

namespace {

u32 code_of(const KeyMap& m, int key, bool keypad)
{
    const KeyAction* a = m.find(key, keypad);
    return a ? a->code : 0;
}

TEST(KeyMap, BuiltInKeysAndTheKeypadFallingBackOnThem)
{
    const KeyMap m;
    const struct {
        int key;
        bool keypad;
        u32 code;
    } cases[] = {
        {Qt::Key_Left, false, KEY_LEFT},
        {Qt::Key_Right, false, KEY_RIGHT},
        {Qt::Key_Up, false, KEY_UP},
        {Qt::Key_Down, false, KEY_DOWN},
        {Qt::Key_Escape, false, KEY_ESC},
        {Qt::Key_Return, false, KEY_ENTER},
        {Qt::Key_Enter, true, KEY_ENTER},  // the keypad's Enter
        {Qt::Key_Up, true, KEY_UP},        // keypad arrows with Num Lock off
        {Qt::Key_A, false, 0},
        {Qt::Key_8, true, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(code_of(m, c.key, c.keypad), c.code) << c.key << " keypad " << c.keypad;
}

TEST(KeyMap, GoodLinesApplyAndEachBadLineIsNamedByItsNumber)
{
    KeyMap m;
    QStringList errors;
    m.parse(QStringLiteral("# my keys\n"             // 1
                           "[keys]\n"                // 2
                           "Num+8 = up\n"            // 3
                           "F5 = Shift+Enter\n"      // 4
                           "Q = jump\n"              // 5 not an instrument key
                           "Ctrl+X = enter\n"        // 6 a modifier other than Num
                           "no equals sign\n"        // 7
                           "Num+8 = down\n"          // 8 mapped on line 3
                           "[other]\n"               // 9 unknown section
                           "F1 = esc\n"              // 10 the window's
                           "Space = mod\n"           // 11
                           "Nonsense+Key = up\n"     // 12 not a key
                           "Return = none\n"         // 13 changes a built-in key
                           "   ; another comment\n"  // 14
                           "\n"                      // 15
                           " = up\n"                 // 16 no key
                           "Tab=left"),              // 17
            QStringLiteral("keys.ini"), &errors);
    const int bad_lines[] = {5, 6, 7, 8, 9, 10, 12, 16};
    ASSERT_EQ(errors.size(), static_cast<int>(std::size(bad_lines))) << errors.join(QLatin1Char('\n')).toStdString();
    for (size_t i = 0; i < std::size(bad_lines); ++i)
        EXPECT_TRUE(errors[static_cast<int>(i)].startsWith(QStringLiteral("keys.ini:%1: ").arg(bad_lines[i])))
            << errors[static_cast<int>(i)].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("'jump'")));
    EXPECT_TRUE(errors[3].contains(QStringLiteral("line 3")));
    EXPECT_TRUE(errors[5].contains(QStringLiteral("F1")));

    EXPECT_EQ(code_of(m, Qt::Key_8, true), KEY_UP);
    EXPECT_EQ(code_of(m, Qt::Key_8, false), 0u);  // the other 8 stays unmapped
    EXPECT_EQ(code_of(m, Qt::Key_F5, false), KEY_ENTER | KEY_SHIFT);
    ASSERT_NE(m.find(Qt::Key_Space, false), nullptr);
    EXPECT_TRUE(m.find(Qt::Key_Space, false)->mod_button);
    EXPECT_EQ(code_of(m, Qt::Key_Return, false), KEY_NONE);
    EXPECT_EQ(code_of(m, Qt::Key_Tab, false), KEY_LEFT);
    EXPECT_EQ(m.find(Qt::Key_Q, false), nullptr);
    EXPECT_EQ(m.find(Qt::Key_F1, false), nullptr);

    // The help lists the file's keys after the built-in ones.
    const auto entries = m.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_FALSE(entries.front().from_file);
    EXPECT_TRUE(entries.back().from_file);
    bool listed = false;
    for (const auto& e : entries) listed |= e.pc_key == QLatin1String("Num+8") && e.action == QLatin1String("up");
    EXPECT_TRUE(listed);
}

TEST(KeyMap, TheExampleFileReadsWithoutAComplaint)
{
    KeyMap m;
    QStringList errors;
    ASSERT_TRUE(m.load(QStringLiteral(TARVIK2_SOURCE_DIR "/front/qt/keymap.example.ini"), &errors));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    const struct {
        int key;
        u32 code;
    } keypad[] = {{Qt::Key_8, KEY_UP},          {Qt::Key_2, KEY_DOWN},          {Qt::Key_4, KEY_LEFT},
                  {Qt::Key_6, KEY_RIGHT},       {Qt::Key_5, KEY_ENTER},         {Qt::Key_Period, KEY_ESC},
                  {Qt::Key_Plus, KEY_UP | 128}, {Qt::Key_Minus, KEY_DOWN | 128}};
    for (const auto& k : keypad) EXPECT_EQ(code_of(m, k.key, true), k.code) << k.key;
    ASSERT_NE(m.find(Qt::Key_0, true), nullptr);
    EXPECT_TRUE(m.find(Qt::Key_0, true)->mod_button);
}

TEST(KeyMap, ACommentMayFollowTheAction)
{
    const struct {
        const char* line;
        int key;
        bool keypad;
        u32 code;  // 0: the line is refused
    } cases[] = {
        {"Num+8 = up        # the keypad's 8", Qt::Key_8, true, KEY_UP},
        {"F5 = shift+enter  ; always shifted", Qt::Key_F5, false, KEY_ENTER | KEY_SHIFT},
        {"A = down#no blank before it", Qt::Key_A, false, KEY_DOWN},
        {"B = left;", Qt::Key_B, false, KEY_LEFT},
        {"Return = none  # cancels only", Qt::Key_Return, false, KEY_NONE},
        {"C = # no action before the comment", Qt::Key_C, false, 0},
        {"D = jump # not a key", Qt::Key_D, false, 0},
    };
    for (const auto& c : cases) {
        KeyMap m;
        QStringList errors;
        m.parse(QString::fromUtf8(c.line), QStringLiteral("k.ini"), &errors);
        EXPECT_EQ(errors.isEmpty(), c.code != 0) << c.line << ": " << errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(code_of(m, c.key, c.keypad), c.code) << c.line;
    }
}

// The example of the README, as it is written there.
TEST(KeyMap, TheReadmeExampleReadsAsItSays)
{
    std::ifstream in(TARVIK2_SOURCE_DIR "/README.md");
    ASSERT_TRUE(in) << "README.md";
    std::string line, block;
    bool in_section = false, in_block = false, found = false;
    while (std::getline(in, line) && !found) {
        if (line.rfind("**Key-map file.**", 0) == 0) in_section = true;
        if (!in_section) continue;
        if (in_block && line == "```") found = true;
        else if (in_block) block += line + "\n";
        else if (line == "```ini") in_block = true;
    }
    ASSERT_TRUE(found) << "no ```ini block under **Key-map file.** in README.md";
    KeyMap m;
    QStringList errors;
    m.parse(QString::fromStdString(block), QStringLiteral("README.md"), &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(code_of(m, Qt::Key_8, true), KEY_UP);
    ASSERT_NE(m.find(Qt::Key_0, true), nullptr);
    EXPECT_TRUE(m.find(Qt::Key_0, true)->mod_button);
    EXPECT_EQ(code_of(m, Qt::Key_F5, false), KEY_ENTER | KEY_SHIFT);
    ASSERT_NE(m.find(Qt::Key_Return, false), nullptr);
    EXPECT_EQ(code_of(m, Qt::Key_Return, false), KEY_NONE);
}

TEST(KeyMap, AnUnreadableFileIsNamed)
{
    KeyMap m;
    QStringList errors;
    EXPECT_FALSE(m.load(QStringLiteral("/nonexistent/keymap.ini"), &errors));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("/nonexistent/keymap.ini: ")));
    EXPECT_EQ(code_of(m, Qt::Key_Up, false), KEY_UP);  // the built-in keys stay
}

TEST(KeyMap, TheWindowPostsWhatTheFileMaps)
{
    clear_window_settings();
    device_reset();
    TempDir dir;
    data_dir_set(dir.path());
    std::ofstream(dir.file("k.ini")) << "Num+8 = up\nNum+0 = mod\nF5 = shift+enter\nbad line\n";
    {
        TFormEmul form;
        form.TimerStart->stop();
        const QStringList problems = form.loadKeyMap(QString::fromStdString(dir.file("k.ini")));
        ASSERT_EQ(problems.size(), 1);
        EXPECT_TRUE(problems[0].endsWith(QStringLiteral("k.ini:4: 'bad line' is not of the form KEY = ACTION")))
            << problems[0].toStdString();
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            u32 posted;
        } cases[] = {
            {Qt::Key_8, Qt::KeypadModifier, KEY_UP},
            {Qt::Key_8, Qt::KeypadModifier | Qt::ShiftModifier, KEY_UP | KEY_SHIFT},
            {Qt::Key_8, Qt::NoModifier, KEY_NONE},
            {Qt::Key_F5, Qt::NoModifier, KEY_ENTER | KEY_SHIFT},
            {Qt::Key_Up, Qt::KeypadModifier, KEY_UP},
        };
        for (const auto& c : cases) {
            pending_key = 0;
            QTest::keyClick(&form, c.key, c.mods);
            EXPECT_EQ(pending_key, c.posted) << c.key << " " << c.mods;
        }
        // The keypad's 0 works the Mod toggle button.
        pending_key = 0;
        QTest::keyClick(&form, Qt::Key_0, Qt::KeypadModifier);
        EXPECT_TRUE(form.SpeedButtonMod->isChecked());
        EXPECT_EQ(pending_key, KEY_MOD);
        QTest::keyClick(&form, Qt::Key_8, Qt::KeypadModifier);
        EXPECT_EQ(pending_key, KEY_UP | KEY_SHIFT);  // latched
        QTest::keyClick(&form, Qt::Key_0, Qt::KeypadModifier);
        EXPECT_FALSE(form.SpeedButtonMod->isChecked());
    }
    data_dir_set("");
    host_install(nullptr);
    device_reset();
}

}  // namespace
