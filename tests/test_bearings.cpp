// The bearing catalogue: built-in table, user table in fram.dat, lookup.
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "data/bearing_table.h"
#include "host/session.h"
#include "screens/bearings.h"
#include "tests/support/support.h"

namespace {

BearingRecord make_record(const char* name, float d, float D, float bd, u32 z, float angle)
{
    BearingRecord r{};
    std::strncpy(r.name, name, sizeof r.name);
    r.bore = d;
    r.outer = D;
    r.element_diameter = bd;
    r.elements = z;
    r.contact_angle = angle;
    r.ftf = 0.25f;
    r.bpfo = 1.5f;
    r.bpfi = 2.5f;
    r.bsf = 3.5f;
    return r;
}

// Start 0xAAAA; per byte rotate left by one bit, then XOR the byte.
u16 reference_checksum(const std::vector<u8>& block)
{
    u16 c = 0xAAAA;
    for (u8 b : block) c = static_cast<u16>(((c << 1) | (c >> 15)) ^ b);
    return c;
}

// 64 records followed by their checksum, as stored at offset 4096.
std::vector<u8> user_block(const std::vector<BearingRecord>& records)
{
    std::vector<u8> block(3842, 0);
    if (!records.empty()) std::memcpy(block.data(), records.data(), records.size() * sizeof(BearingRecord));
    const u16 c = reference_checksum(block);
    block[3840] = static_cast<u8>(c);
    block[3841] = static_cast<u8>(c >> 8);
    return block;
}

std::vector<u8> packed(const std::vector<BearingRecord>& records)
{
    uLongf size = compressBound(records.size() * sizeof(BearingRecord));
    std::vector<u8> out(size);
    EXPECT_EQ(compress(out.data(), &size, reinterpret_cast<const Bytef*>(records.data()),
                       records.size() * sizeof(BearingRecord)),
              Z_OK);
    out.resize(size);
    return out;
}

std::vector<BearingRecord> numbered_records(u32 n)
{
    std::vector<BearingRecord> v(n);
    for (u32 i = 0; i < n; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "B%05u", i);
        v[i] = make_record(name, 1, 2, 0.5f, 3, 0);
    }
    return v;
}

bool sorted_by_name()
{
    for (u32 i = 1; i < bearing_catalogue.count; ++i)
        if (std::strcmp(bearing_catalogue.records[i - 1].name, bearing_catalogue.records[i].name) > 0) return false;
    return true;
}

class BearingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data_dir_set(dir.path());
        bearing_catalogue_clear();
    }
    void TearDown() override
    {
        bearing_catalogue_clear();
        data_dir_set("");
    }
    std::string fram() const { return dir.file("fram.dat"); }
    void store_user_block(const std::vector<u8>& block)
    {
        std::vector<u8> file(32768, 0xFF);
        std::copy(block.begin(), block.end(), file.begin() + 4096);
        write_file_bytes(fram(), file);
    }
    TempDir dir;
};

TEST_F(BearingTest, BuiltInTableUnpacksToSortedRecordsWithOneNameTwice)
{
    std::vector<u8> out(495372);
    uLongf length = out.size();
    ASSERT_EQ(uncompress(out.data(), &length, BEARING_TABLE_PACKED, BEARING_TABLE_PACKED_SIZE), Z_OK);
    EXPECT_EQ(length, 335160u);

    bearing_catalogue_load();
    ASSERT_EQ(bearing_catalogue.count, 5586u);
    EXPECT_EQ(std::memcmp(bearing_catalogue.records, out.data(), 335160), 0);
    EXPECT_TRUE(sorted_by_name());
    int twice = 0;
    for (u32 i = 0; i < bearing_catalogue.count; ++i) {
        const BearingRecord& r = bearing_catalogue.records[i];
        EXPECT_GT(std::strlen(r.name), 0u);
        EXPECT_LE(std::strlen(r.name), 23u);
        if (i > 0 && std::strcmp(bearing_catalogue.records[i - 1].name, r.name) == 0) ++twice;
    }
    EXPECT_EQ(twice, 1);

    const BearingRecord* r = bearing_at(bearing_find("100"));
    ASSERT_NE(r, nullptr);
    const float expected[] = {10, 26, 4.76f, 7, 0, 0.37f, 2.57f, 4.43f, 1.76f};
    const float got[] = {r->bore, r->outer, r->element_diameter, float(r->elements), r->contact_angle, r->ftf, r->bpfo,
                         r->bpfi, r->bsf};
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(got[i], expected[i]) << "field " << i;
}

TEST_F(BearingTest, LookupFindsEveryNameAndOnlyThose)
{
    bearing_catalogue_load();
    const u32 n = bearing_catalogue.count;
    ASSERT_GT(n, 2u);
    // Every row is found under its own name; of equal names the first.
    for (u32 i = 0; i < n; ++i) {
        const char* name = bearing_catalogue.records[i].name;
        const int at = bearing_find(name);
        ASSERT_GE(at, 0) << name;
        EXPECT_STREQ(bearing_at(at)->name, name);
        EXPECT_LE(at, int(i));
        EXPECT_GE(at, int(i) - 1);
    }
    struct Case {
        std::string name;
        bool found;
    };
    const std::string first = bearing_at(0)->name, last = bearing_at(int(n) - 1)->name;
    const Case cases[] = {{"6205", true}, {"180205", true},    {"80206", true},        {first, true},
                          {last, true},   {"", false},         {"0", false},           {"6205X", false},
                          {"620", false}, {last + "Z", false}, {"\xCF\xEE\xE4", false}};
    for (const auto& c : cases) {
        const int at = bearing_find(c.name.c_str());
        if (c.found) {
            ASSERT_GE(at, 0) << c.name;
            EXPECT_EQ(bearing_at(at)->name, c.name);
        } else {
            EXPECT_EQ(at, -1) << c.name;
        }
    }
    EXPECT_EQ(bearing_find(first.c_str()), 0);
    EXPECT_EQ(bearing_find(last.c_str()), int(n) - 1);
    EXPECT_EQ(bearing_at(-1), nullptr);
    EXPECT_EQ(bearing_at(int(n)), nullptr);
}

TEST_F(BearingTest, SmallCataloguesAndTheNameThatStandsTwice)
{
    struct Case {
        std::vector<const char*> names;
        const char* wanted;
        std::vector<int> acceptable;  // empty: not found
    };
    const Case cases[] = {
        {{}, "6205", {}},
        {{"6205"}, "6205", {0}},
        {{"6205"}, "6206", {}},
        {{"6204", "6205"}, "6205", {1}},
        {{"6204", "6205"}, "6204", {0}},
        {{"7205", "7206", "7206", "7207"}, "7206", {1, 2}},
        {{"7206", "7206"}, "7206", {0, 1}},
        {{"A", "B", "C", "D", "E"}, "C", {2}},
        {{"A", "B", "C", "D", "E"}, "CC", {}},
    };
    for (const auto& c : cases) {
        std::vector<BearingRecord> records;
        for (const char* name : c.names) records.push_back(make_record(name, 1, 2, 0.5f, 3, 0));
        const auto stream = packed(records);
        ASSERT_EQ(bearing_unpack(stream.data(), u32(stream.size())), c.names.size());
        const int at = bearing_find(c.wanted);
        if (c.acceptable.empty())
            EXPECT_EQ(at, -1) << c.wanted;
        else
            EXPECT_NE(std::find(c.acceptable.begin(), c.acceptable.end(), at), c.acceptable.end())
                << c.wanted << " at " << at;
    }
    // The name that stands twice in the built-in table gives one of its two rows.
    bearing_catalogue_clear();
    bearing_catalogue_load();
    for (u32 i = 1; i < bearing_catalogue.count; ++i) {
        if (std::strcmp(bearing_catalogue.records[i - 1].name, bearing_catalogue.records[i].name) != 0) continue;
        const int at = bearing_find(bearing_catalogue.records[i].name);
        EXPECT_TRUE(at == int(i) - 1 || at == int(i));
        // The two rows are two different bearings.
        EXPECT_NE(std::memcmp(&bearing_catalogue.records[i - 1], &bearing_catalogue.records[i], sizeof(BearingRecord)),
                  0);
    }
}

struct Factors {
    double ftf, bpfo, bpfi, bsf;
};

Factors factors_from(double bd, double z, double angle, double pd)
{
    const double k = bd / pd * std::cos(angle * std::numbers::pi / 180);
    return {(1 - k) / 2, z / 2 * (1 - k), z / 2 * (1 + k), pd / (2 * bd) * (1 - k * k)};
}

TEST_F(BearingTest, FactorsFollowFromTheGeometry)
{
    bearing_catalogue_load();
    // Published ball sets of well-known deep-groove bearings.
    struct Known {
        const char* name;
        float d, D, bd;
        u32 z;
    };
    const Known known[] = {{"6000", 10, 26, 4.76f, 7},    {"100", 10, 26, 4.76f, 7},   {"6204", 20, 47, 7.94f, 8},
                           {"6205", 25, 52, 7.94f, 9},    {"205", 25, 52, 7.94f, 9},   {"180205", 25, 52, 7.94f, 9},
                           {"6206-2Z", 30, 62, 9.53f, 9}, {"80206", 30, 62, 9.53f, 9}, {"6208", 40, 80, 12.7f, 9}};
    for (const auto& k : known) {
        const BearingRecord* r = bearing_at(bearing_find(k.name));
        ASSERT_NE(r, nullptr) << k.name;
        EXPECT_FLOAT_EQ(r->bore, k.d) << k.name;
        EXPECT_FLOAT_EQ(r->outer, k.D) << k.name;
        EXPECT_FLOAT_EQ(r->element_diameter, k.bd) << k.name;
        EXPECT_EQ(r->elements, k.z) << k.name;
        EXPECT_EQ(r->contact_angle, 0.0f) << k.name;
    }
    // The 6205 against its usual published factors (pitch diameter 39.04 mm).
    const Factors ref = factors_from(7.94, 9, 0, 39.04);
    EXPECT_NEAR(ref.bpfo, 3.58, 0.005);
    EXPECT_NEAR(ref.bpfi, 5.42, 0.005);
    EXPECT_NEAR(ref.ftf, 0.398, 0.001);
    const BearingRecord* r6205 = bearing_at(bearing_find("6205"));
    EXPECT_NEAR(r6205->bpfo, ref.bpfo, 0.02);
    EXPECT_NEAR(r6205->bpfi, ref.bpfi, 0.02);
    EXPECT_NEAR(r6205->ftf, ref.ftf, 0.005);
    EXPECT_NEAR(r6205->bsf, ref.bsf, 0.05);

    // Every row with its geometry carries the factors of that geometry (pitch
    // diameter halfway between bore and outer diameter), to two decimals;
    // rows without geometry carry factors only.
    u32 with_geometry = 0, factors_only = 0;
    for (u32 i = 0; i < bearing_catalogue.count; ++i) {
        const BearingRecord& r = bearing_catalogue.records[i];
        if (r.elements == 0) {
            ++factors_only;
            EXPECT_EQ(r.bore + r.outer + r.element_diameter + r.contact_angle, 0.0f) << r.name;
            EXPECT_GT(r.ftf, 0.0f) << r.name;
            EXPECT_GT(r.bpfi, r.bpfo) << r.name;
            continue;
        }
        ++with_geometry;
        ASSERT_GT(r.outer, r.bore) << r.name;
        const double pd = (r.bore + r.outer) / 2.0;
        const Factors f = factors_from(r.element_diameter, r.elements, r.contact_angle, pd);
        // Factors and diameter are both stored to two decimals.
        const double rounding = 0.0051, bd_error = 0.005;
        EXPECT_NEAR(r.ftf, f.ftf, rounding + bd_error / pd) << r.name;
        EXPECT_NEAR(r.bpfo, f.bpfo, rounding + r.elements / 2.0 * bd_error / pd) << r.name;
        EXPECT_NEAR(r.bpfi, f.bpfi, rounding + r.elements / 2.0 * bd_error / pd) << r.name;
        EXPECT_NEAR(r.bsf, f.bsf, rounding + 1.1 * f.bsf * bd_error / r.element_diameter) << r.name;
    }
    EXPECT_GT(with_geometry, 4000u);
    EXPECT_GT(factors_only, 0u);
}

TEST_F(BearingTest, DamagedUserTableIsReplacedByAnEmptyOne)
{
    std::vector<u8> file(32768);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<u8>(i * 7 + 3);
    auto block = user_block({make_record("MINE", 1, 2, 0.5f, 3, 0)});
    block[100] ^= 0x10;  // one changed byte
    std::copy(block.begin(), block.end(), file.begin() + 4096);
    write_file_bytes(fram(), file);

    bearing_catalogue_load();
    EXPECT_EQ(bearing_catalogue.count, 5586u);
    EXPECT_EQ(bearing_find("MINE"), -1);

    const auto after = read_file_bytes(fram());
    ASSERT_EQ(after.size(), 32768u);
    const std::vector<u8> empty = user_block({});
    EXPECT_TRUE(std::equal(empty.begin(), empty.end(), after.begin() + 4096));
    // Nothing else in the parameter memory changed.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 4096, after.begin()));
    EXPECT_TRUE(std::equal(file.begin() + 4096 + 3842, file.end(), after.begin() + 4096 + 3842));

    // A missing file gets an empty table as well.
    bearing_catalogue_clear();
    std::remove(fram().c_str());
    bearing_catalogue_load();
    const auto fresh = read_file_bytes(fram());
    ASSERT_EQ(fresh.size(), 32768u);
    EXPECT_TRUE(std::equal(empty.begin(), empty.end(), fresh.begin() + 4096));
}

TEST_F(BearingTest, UserRecordsJoinInNameOrderAndReplaceRowsOfTheirName)
{
    BearingRecord unterminated = make_record("", 5, 6, 0.5f, 4, 0);
    std::memset(unterminated.name, 'Q', sizeof unterminated.name);  // no NUL in all 24 bytes
    std::vector<BearingRecord> user = {
        make_record("6205", 25, 52, 8, 10, 0),           // replaces the built-in row
        make_record("ZZ-pump", 40, 90, 15, 8, 0),        // after every built-in name
        make_record("0001", 1, 3, 0.5f, 5, 0),           // before every built-in name
        make_record("6205A", 25, 52, 7, 9, 15),          // right after 6205
        make_record("Подшипник"_cp, 50, 90, 12, 11, 0),  // high bytes sort after ASCII
        unterminated,
        make_record("", 0, 0, 0, 0, 0),  // the end of the used records
        make_record("AFTER-END", 1, 2, 0.5f, 3, 0),
    };
    store_user_block(user_block(user));

    bearing_catalogue_load();
    EXPECT_EQ(bearing_catalogue.count, 5586u + 5);
    EXPECT_TRUE(sorted_by_name());
    EXPECT_EQ(bearing_find("AFTER-END"), -1);
    EXPECT_EQ(bearing_find("0001"), 0);
    const std::string q23(23, 'Q');
    for (const char* name :
         {"6205", "ZZ-pump", "0001", "6205A", static_cast<const char*>("Подшипник"_cp), q23.c_str()}) {
        const int at = bearing_find(name);
        ASSERT_GE(at, 0) << name;
        const BearingRecord* r = bearing_at(at);
        EXPECT_EQ(r->ftf, 0.25f) << name;  // the user's record, not a built-in one
        EXPECT_EQ(r->bsf, 3.5f) << name;
    }
    EXPECT_EQ(bearing_at(bearing_find("6205"))->elements, 10u);
    EXPECT_EQ(bearing_find("Подшипник"_cp), int(bearing_catalogue.count) - 1);

    // Loaded once: a second call reads nothing again.
    store_user_block(user_block({make_record("LATE", 1, 2, 0.5f, 3, 0)}));
    bearing_catalogue_load();
    EXPECT_EQ(bearing_find("LATE"), -1);
    EXPECT_EQ(bearing_catalogue.count, 5586u + 5);
}

TEST_F(BearingTest, FullCatalogueTakesNoMoreRecords)
{
    const auto stream = packed(numbered_records(8191));
    ASSERT_EQ(bearing_unpack(stream.data(), u32(stream.size())), 8191u);
    EXPECT_EQ(bearing_add(make_record("A-new", 1, 2, 0.5f, 3, 0)), 1);
    EXPECT_EQ(bearing_catalogue.count, 8192u);
    EXPECT_EQ(bearing_add(make_record("C-new", 1, 2, 0.5f, 3, 0)), 0);
    EXPECT_EQ(bearing_add(make_record("", 1, 2, 0.5f, 3, 0)), 0);
    EXPECT_EQ(bearing_catalogue.count, 8192u);
    EXPECT_EQ(bearing_find("C-new"), -1);
    EXPECT_EQ(bearing_find("A-new"), 0);
    // A row of an existing name can still be replaced.
    EXPECT_EQ(bearing_add(make_record("B08190", 7, 9, 1, 5, 0)), 2);
    EXPECT_EQ(bearing_at(8191)->bore, 7.0f);
    EXPECT_TRUE(sorted_by_name());
}

TEST_F(BearingTest, UnpackFailuresLeaveAnEmptyCatalogue)
{
    struct Case {
        const char* what;
        std::vector<u8> stream;
        u32 count;
    };
    auto longest = packed(numbered_records(8256));   // 495,360 bytes: fits the buffer, past the capacity
    auto too_long = packed(numbered_records(8257));  // 495,420 bytes: does not fit
    auto broken = packed(numbered_records(10));
    broken[broken.size() / 2] ^= 0xFF;
    const Case cases[] = {
        {"capacity", longest, 8192},
        {"too long", too_long, 0},
        {"broken", broken, 0},
        {"cut short", std::vector<u8>(longest.begin(), longest.begin() + 100), 0},
        {"not zlib", std::vector<u8>(64, 0x55), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bearing_unpack(c.stream.data(), u32(c.stream.size())), c.count) << c.what;
        EXPECT_EQ(bearing_catalogue.count, c.count) << c.what;
        EXPECT_EQ(bearing_find("B00000"), c.count ? 0 : -1) << c.what;
        EXPECT_EQ(bearing_at(0) != nullptr, c.count != 0) << c.what;
    }
}

TEST(BearingTable, CommittedTableIsTheGeneratorsOutput)
{
    if (std::system("python3 -c 'import zlib' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    const std::string out = dir.file("bearing_table.cpp");
    const std::string command =
        std::string("python3 '") + TARVIK2_SOURCE_DIR + "/tools/make_bearing_table.py' '" + out + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto generated = read_file_bytes(out);
    EXPECT_GT(generated.size(), 100000u);
    EXPECT_TRUE(generated == read_file_bytes(std::string(TARVIK2_SOURCE_DIR) + "/data/bearing_table.cpp"))
        << "data/bearing_table.cpp is out of date: run tools/make_bearing_table.py";
}

}  // namespace
