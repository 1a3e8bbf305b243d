// Windows-1251 texts made from UTF-8 literals while compiling.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/cp1251.h"

namespace {

// The conversion runs at compile time.
static_assert(cp_length<"Объект"> == 6);
static_assert("Ж"_cp[0] == static_cast<char>(0xC6));

std::string bytes(const char* s)
{
    return std::string(s);
}

TEST(Cp1251, RussianLiteralBecomesTheWindows1251Bytes)
{
    EXPECT_EQ(bytes("Главное меню"_cp), "\xC3\xEB\xE0\xE2\xED\xEE\xE5\x20\xEC\xE5\xED\xFE");
    EXPECT_EQ(bytes("Объект"_cp), "\xCE\xE1\xFA\xE5\xEA\xF2");
    EXPECT_EQ(bytes("АЯая"_cp), "\xC0\xDF\xE0\xFF");
    EXPECT_EQ(bytes("Latin 1:2"_cp), "Latin 1:2");
    EXPECT_EQ(cp_length<"Главное меню">, 12u);
    EXPECT_EQ(""_cp[0], 0);
}

TEST(Cp1251, CharactersOutsideTheCyrillicBlock)
{
    struct Case {
        const char* converted;
        const char* expected;
    };
    const Case cases[] = {
        {"ё"_cp, "\xB8"},      {"Ё"_cp, "\xA8"}, {"°"_cp, "\xB0"}, {"№"_cp, "\xB9"}, {"м/сЅ"_cp, "\xEC/\xF1\xBD"},
        {"Іі"_cp, "\xB2\xB3"}, {"€"_cp, "\x88"},
    };
    for (const auto& c : cases) EXPECT_EQ(bytes(c.converted), bytes(c.expected)) << c.expected;
}

TEST(Cp1251, MacroFormWorksInsideVectorBraceLists)
{
    const std::vector<std::pair<int, const char*>> rows = {{1, CP("Зап")}, {2, CP("Пуск")}};
    EXPECT_EQ(bytes(rows[0].second), bytes("Зап"_cp));
    EXPECT_EQ(bytes(rows[1].second), "\xCF\xF3\xF1\xEA");
    // Both forms name the same static bytes.
    EXPECT_EQ(CP("Зап"), "Зап"_cp);
}

}  // namespace
