// Compiled with Clang by the test suite (syntax only): the Windows-1251
// texts must build with Clang as well as with GCC, in every form the code
// uses them.
#include <utility>
#include <vector>

#include "base/cp1251.h"

static_assert("Ж"_cp[0] == static_cast<char>(0xC6));
static_assert(cp_length<"Главное меню"> == 12);

struct Row {
    int pos;
    const char* label;
};

static const Row rows[] = {{-3, "Зап"_cp}, {-1, "Ok"}};
static const char* const names[] = {"Виброметр               "_cp, "Спектры и сигналы       "_cp};

int clang_check()
{
    const std::vector<Row> table = {{-3, CP("Зап")}, {2, CP("Пуск")}};
    const std::vector<const char*> list = {CP("Объект")};
    const std::pair<int, const char*> pair = {1, "Зап"_cp};
    return rows[0].label[0] + names[1][0] + table[0].label[0] + list[0][0] + pair.second[0];
}
