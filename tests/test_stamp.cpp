// Packed date-time stamps and the checksum of stored blocks.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "analysis/format.h"
#include "base/checksum.h"
#include "base/stamp.h"
#include "base/text.h"
#include "front/common/virtual_host.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

// Days since 31 December 1999 by the standard library's calendar.
u32 days_by_chrono(int y, unsigned m, unsigned d)
{
    using namespace std::chrono;
    const sys_days day = year{y} / month{m} / d;
    const sys_days base = year{1999} / December / 31;
    return static_cast<u32>((day - base).count());
}

TEST(Checksum, KnownValues)
{
    struct Case {
        std::string data;
        u16 sum;
    };
    const Case cases[] = {
        {"", 43690},
        {"a", 21812},
        {"ab", 43530},
        {"abc", 21622},
    };
    for (const auto& c : cases) EXPECT_EQ(checksum16(c.data.data(), static_cast<u32>(c.data.size())), c.sum) << c.data;
}

TEST(Checksum, StoreAndVerifyUseTheBlockWithItsFieldZeroed)
{
    std::vector<u8> block(40);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<u8>(i * 7 + 3);
    checksum_store(block.data(), 40, 10);
    std::vector<u8> zeroed = block;
    zeroed[10] = zeroed[11] = 0;
    const u16 expected = checksum16(zeroed.data(), 40);
    EXPECT_EQ(block[10] | (block[11] << 8), expected);  // little-endian field
    const std::vector<u8> stored = block;
    EXPECT_EQ(checksum_verify(block.data(), 40, 10), 1);
    EXPECT_EQ(block, stored);  // the field is put back
    block[39] ^= 1;
    EXPECT_EQ(checksum_verify(block.data(), 40, 10), 0);
    block[39] ^= 1;
    block[11] ^= 0x80;
    EXPECT_EQ(checksum_verify(block.data(), 40, 10), 0);
}

TEST(Stamp, DateToDays)
{
    struct Case {
        int y, m, d;
        u32 days;
    };
    const Case cases[] = {
        {2000, 1, 1, 1},
        {2000, 2, 29, 60},
        {2000, 12, 31, 366},
        {2001, 1, 1, 367},
        {2026, 12, 10, days_by_chrono(2026, 12, 10)},
        {26, 12, 10, days_by_chrono(2026, 12, 10)},    // two-digit year
        {1999, 12, 31, days_by_chrono(2099, 12, 31)},  // read as 2099
        {2100, 2, 28, days_by_chrono(2100, 2, 28)},
        {2100, 2, 29, 0},
        {2001, 2, 29, 0},
        {2000, 13, 1, 0},
        {2000, 0, 1, 0},
        {2000, 4, 31, 0},
        {2000, 1, 0, 0},
        {10000, 1, 1, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(date_to_days(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
}

TEST(Stamp, UnpackRoundTripsAcrossLeapDaysAndCenturies)
{
    struct Case {
        int y, m, d, h, mi, s;
    };
    const Case cases[] = {
        {2000, 1, 1, 0, 0, 0},  {2000, 2, 29, 23, 59, 59},  {2000, 3, 1, 12, 0, 1},  {2000, 12, 31, 6, 7, 8},
        {2004, 2, 29, 1, 2, 3}, {2099, 12, 31, 23, 59, 59}, {2100, 2, 28, 10, 0, 0}, {2100, 3, 1, 10, 0, 0},
        {2101, 1, 1, 0, 0, 0},  {2026, 12, 10, 12, 0, 0},   {2135, 6, 15, 8, 30, 0},
    };
    for (const auto& c : cases) {
        const u32 days = date_to_days(c.y, c.m, c.d);
        ASSERT_EQ(days, days_by_chrono(c.y, static_cast<unsigned>(c.m), static_cast<unsigned>(c.d))) << c.y;
        const u32 stamp = pack(days, time_to_seconds(c.h, c.mi, c.s));
        EXPECT_EQ(stamp_days(stamp), days);
        EXPECT_EQ(stamp_seconds(stamp), static_cast<u32>(c.h * 3600 + c.mi * 60 + c.s));
        u16 y, mo, d, h, mi, s;
        unpack(stamp, &y, &mo, &d, &h, &mi, &s);
        EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s}), std::vector<int>({c.y, c.m, c.d, c.h, c.mi, c.s}))
            << c.y << "-" << c.m << "-" << c.d;
    }
    // Every day a stamp can hold (to the year 2136) comes back as itself.
    for (u32 days = 1; days <= 0xFFFFFFFFu / 86400; ++days) {
        u16 y, mo, d, h, mi, s;
        unpack(pack(days, 0), &y, &mo, &d, &h, &mi, &s);
        ASSERT_EQ(date_to_days(y, mo, d), days);
    }
}

TEST(Stamp, PackNowAndItsTexts)
{
    VirtualHostScope scope;
    std::time_t t;
    ASSERT_TRUE(parse_clock("2028-02-29T07:05:09", &t));
    scope.host.set_clock(t);
    const u32 stamp = pack_now();
    EXPECT_EQ(stamp, days_by_chrono(2028, 2, 29) * 86400u + 7 * 3600 + 5 * 60 + 9);
    char text[9];
    EXPECT_STREQ(format_time(stamp, text), "07:05:09");
    EXPECT_STREQ(format_date(stamp, text), "29.02.28");
    EXPECT_STREQ(format_date(pack(date_to_days(2100, 1, 2), 0), text), "02.01.00");
    EXPECT_STREQ(format_time(pack(1, 86399), text), "23:59:59");
}

}  // namespace
