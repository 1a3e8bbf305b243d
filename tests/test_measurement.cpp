// Measurement files: the header as stored, numbering per object, the
// directory entry after its object, failed saves (also cut off by a power
// loss), damaged files refused, labels, the saved dialog with its voice note,
// the spectra record's slots and the hand-over to the viewers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "base/stamp.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/sound.h"
#include "screens/browser.h"
#include "screens/saved_dialog.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

// 3 December 2026, 14:05:09.
u32 test_stamp()
{
    return pack(date_to_days(2026, 12, 3), time_to_seconds(14, 5, 9));
}

u32 le(const std::vector<u8>& b, size_t at, size_t width)
{
    u32 v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<u32>(b.at(at + i)) << (8 * i);
    return v;
}

u32 float_bits(float f)
{
    u32 v;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

RmsTableRecord table_record(float velocity)
{
    RmsTableRecord r;
    std::memset(&r, 0, sizeof r);
    r.valid = 1;
    r.format = RECORD_FORMAT;
    r.stamp = test_stamp();
    r.group = RMS_TABLE_GROUP;
    r.values[0][0][0] = 3.5f;
    r.values[0][0][1] = velocity;
    r.values[0][0][2] = 41.0f;
    r.temperature[0][0] = 36.6f;
    r.filled[0] = 1;
    r.filled_count = 1;
    rms_table_seal(&r);
    return r;
}

std::vector<u8> pattern(size_t n, u8 seed)
{
    std::vector<u8> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<u8>(seed + i * 7 + (i >> 8));
    return v;
}

class Measurements : public ::testing::Test {
protected:
    VirtualHostScope scope;  // first: its reset comes before the mount
    MountedFlash image;
    u32 object = 0;
    std::vector<std::vector<u16>> frames;  // pictures seen by the host while keys were answered

    void SetUp() override
    {
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        object = settings_current_object();
        storage_error_flags = 0;
    }
    void TearDown() override
    {
        nand_restore_power();
    }

    u32 save_table(float velocity, u32 kind = MEAS_KIND_VIBROMETER, u32 stamp = test_stamp())
    {
        const RmsTableRecord r = table_record(velocity);
        return meas_save(kind, stamp, &r, sizeof r, nullptr, 0, nullptr, 0, true);
    }
    // A kind-0 file with all three sections: 348, 3000 and 40 bytes.
    u32 save_three_sections()
    {
        const std::vector<u8> a = pattern(348, 1), b = pattern(3000, 2), c = pattern(40, 3);
        return meas_save(MEAS_KIND_SIGNAL, test_stamp(), a.data(), 348, b.data(), 3000, c.data(), 40, true);
    }
    static std::vector<u32> ids()
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) v.push_back(dir_id(static_cast<int>(i)));
        return v;
    }
    static u32 number_of(u32 id)
    {
        MeasHeader hd;
        return meas_read_header(id, &hd) == MEAS_OK ? hd.number : 0;
    }
    static std::vector<u8> file_bytes(u32 id, u32 n)
    {
        FileHandle h;
        if (fs_open(&h, id, FS_READ) != FS_OK) return {};
        std::vector<u8> v(n);
        v.resize(fs_read(&h, v.data(), 0, n));
        fs_close(&h);
        return v;
    }
    static u32 file_pages(u32 id)
    {
        FileHandle h;
        if (fs_open(&h, id, FS_READ) != FS_OK) return 0;
        fs_close(&h);
        return h.pages;
    }
    // Changes the stored header; sealed, or written as it is.
    static void rewrite_header(u32 id, const std::function<void(MeasHeader&)>& change, bool seal = true)
    {
        FileHandle h;
        ASSERT_EQ(fs_open(&h, id, FS_READ | FS_WRITE | FS_GROW), FS_OK);
        MeasHeader hd;
        ASSERT_EQ(fs_read(&h, &hd, 0, sizeof hd), sizeof hd);
        change(hd);
        if (seal)
            ASSERT_EQ(meas_write_header(&h, &hd), MEAS_OK);
        else
            ASSERT_EQ(fs_write(&h, &hd, 0, sizeof hd), sizeof hd);
        fs_close(&h);
        storage_error_flags = 0;
    }
    static std::string label_of(u32 id)
    {
        char out[MEAS_LABEL_SIZE];
        return meas_label(dir_find_id(id), out);
    }
    // Answers every box with Enter and keeps each new picture of the screen.
    void answer_with_enter()
    {
        frames.clear();
        scope.host.set_on_pump([this, pumps = 0]() mutable {
            std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
            if (frames.empty() || frames.back() != px) frames.push_back(std::move(px));
            if (pending_key == KEY_NONE && ++pumps % 3 == 0) key_post(KEY_ENTER);
        });
    }
    bool box_seen(const char* title, std::vector<const char*> lines, bool ok = true) const
    {
        for (const auto& px : frames)
            if (message_box_shows(px, title, lines, ok)) return true;
        return false;
    }
};

TEST_F(Measurements, VibrometerSaveStoresTheHeaderByteByByte)
{
    const RmsTableRecord r = table_record(12.345f);
    const u32 id = meas_save(MEAS_KIND_VIBROMETER, test_stamp(), &r, sizeof r, nullptr, 0, nullptr, 0, true);
    ASSERT_NE(id, 0u);
    const std::vector<u8> hd = image.flash->read(flash_offset(id, 0), MEAS_HEADER_SIZE);
    struct Field {
        u32 at, width, value;
    };
    const Field fields[] = {
        {0, 4, FILE_TYPE_VIBROMETER},
        {4, 4, id},
        {8, 4, 1},  // number
        {12, 1, 3},
        {13, 1, 12},
        {14, 1, 26},
        {15, 1, 14},
        {16, 1, 5},
        {17, 1, 9},
        {20, 4, MEAS_KIND_VIBROMETER},
        {24, 4, float_bits(12.345f)},  // the velocity at byte 16 of the record
        {28, 4, 100},
        {32, 4, 0},
        {36, 4, 0},
        {40, 4, 0},
        {44, 4, RMS_TABLE_RECORD_SIZE},
        {48, 4, 0},
        {52, 4, 0},
        {56, 4, 0},
        {98, 2, reference_checksum(hd.data(), MEAS_HEADER_SIZE, MEAS_HEADER_CHECKSUM_AT)},
    };
    std::vector<bool> listed(MEAS_HEADER_SIZE, false);
    for (const Field& f : fields) {
        EXPECT_EQ(le(hd, f.at, f.width), f.value) << "offset " << f.at;
        for (u32 i = 0; i < f.width; ++i) listed[f.at + i] = true;
    }
    for (u32 i = 0; i < MEAS_HEADER_SIZE; ++i)
        if (!listed[i]) {
            EXPECT_EQ(hd[i], 0) << "offset " << i;
        }
    // Section 1 follows at 100 as given.
    const std::vector<u8> rec = image.flash->read(flash_offset(id, 100), sizeof r);
    EXPECT_EQ(std::memcmp(rec.data(), &r, sizeof r), 0);
    // One page: its head carries the stamp, attr = kind, type and parent.
    const std::vector<u8> spare = image.flash->read(flash_offset(id, 2049), 16);
    EXPECT_EQ(spare[0], PAGE_HEAD);
    EXPECT_EQ(le(spare, 1, 4), test_stamp());
    EXPECT_EQ(spare[6], MEAS_KIND_VIBROMETER);
    EXPECT_EQ(spare[7], FILE_TYPE_VIBROMETER);
    EXPECT_EQ(le(spare, 12, 4), object);
    // The entry right after its object.
    const int at = dir_find_id(object);
    EXPECT_EQ(dir_id(at + 1), id);
    EXPECT_EQ(dir_type(at + 1), FILE_TYPE_VIBROMETER);
    EXPECT_EQ(dir_attr(at + 1), MEAS_KIND_VIBROMETER);
    EXPECT_EQ(dir_parent(at + 1), object);
    EXPECT_EQ(dir_stamp(at + 1), test_stamp());
    EXPECT_EQ(storage_error_flags, 0u);
    // A remount finds the same entry.
    image.remount();
    EXPECT_EQ(ids(), (std::vector<u32>{object, id}));
    EXPECT_EQ(dir_attr(1), MEAS_KIND_VIBROMETER);
}

TEST_F(Measurements, RmsTableAndSpectraSavesGetTheirTypesAndSections)
{
    const RmsTableRecord r = table_record(2.5f);
    const u32 rms = meas_save(MEAS_KIND_RMS_TABLE, test_stamp(), &r, sizeof r, nullptr, 0, nullptr, 0, true);
    const u32 sig = save_three_sections();
    ASSERT_NE(rms, 0u);
    ASSERT_NE(sig, 0u);
    MeasHeader hd;
    ASSERT_EQ(meas_read_header(rms, &hd), MEAS_OK);
    EXPECT_EQ(hd.file_type, FILE_TYPE_RMS_TABLE);
    EXPECT_EQ(hd.value, float_bits(2.5f));
    ASSERT_EQ(meas_read_header(sig, &hd), MEAS_OK);
    EXPECT_EQ(hd.file_type, FILE_TYPE_SIGNAL);
    EXPECT_EQ(hd.value, 0u);  // only kinds 4 and 5 repeat a value
    EXPECT_EQ(hd.section_offset[0], 100u);
    EXPECT_EQ(hd.section_offset[1], 448u);
    EXPECT_EQ(hd.section_offset[2], 3448u);
    EXPECT_EQ(hd.section_length[1], 3000u);
    EXPECT_EQ(hd.section_length[2], 40u);
    EXPECT_EQ(file_pages(sig), 2u);  // 3488 bytes
    EXPECT_EQ(dir_type(dir_find_id(sig)), FILE_TYPE_SIGNAL);
    // A section of length 0 counts as missing.
    const std::vector<u8> a = pattern(50, 9);
    const u32 one = meas_save(MEAS_KIND_SPECTRUM, test_stamp(), a.data(), 50, a.data(), 0, nullptr, 40, true);
    ASSERT_EQ(meas_read_header(one, &hd), MEAS_OK);
    EXPECT_EQ(hd.section_offset[1] | hd.section_offset[2] | hd.section_length[1] | hd.section_length[2], 0u);
}

TEST_F(Measurements, StampZeroStampsFileHeaderAndEntryAlike)
{
    const u32 now = pack_now();
    const u32 id = save_table(1.0f, MEAS_KIND_VIBROMETER, 0);
    ASSERT_NE(id, 0u);
    const int at = dir_find_id(id);
    EXPECT_EQ(dir_stamp(at), now);
    PageHeader head;
    ASSERT_EQ(fs_read_header(id, &head), FS_OK);
    const u32 head_stamp = head.stamp;  // a packed field
    EXPECT_EQ(head_stamp, now);
    MeasHeader hd;
    ASSERT_EQ(meas_read_header(id, &hd), MEAS_OK);
    u16 y, mo, d, h, mi, s;
    unpack(now, &y, &mo, &d, &h, &mi, &s);
    EXPECT_EQ((std::vector<u32>{hd.day, hd.month, hd.year, hd.hour, hd.minute, hd.second}),
              (std::vector<u32>{d, mo, static_cast<u32>(y % 100), h, mi, s}));
}

TEST_F(Measurements, NumbersCountPerObjectAndFollowTheNewest)
{
    const u32 a = object;
    const u32 b = obj_create("Б"_cp);  // sorts before "Объект"
    ASSERT_NE(b, 0u);
    const u32 a1 = save_table(1), a2 = save_table(2), a3 = save_table(3);
    ASSERT_EQ(obj_select(b), OBJ_OK);
    const u32 b1 = save_table(4);
    ASSERT_EQ(obj_select(a), OBJ_OK);
    const u32 a4 = save_table(5);
    EXPECT_EQ((std::vector<u32>{number_of(a1), number_of(a2), number_of(a3), number_of(b1), number_of(a4)}),
              (std::vector<u32>{1, 2, 3, 1, 4}));
    // Each object is followed by its measurements, newest first.
    EXPECT_EQ(ids(), (std::vector<u32>{b, b1, a, a4, a3, a2, a1}));
    for (u32 id : {a1, a2, a3, a4}) EXPECT_EQ(dir_parent(dir_find_id(id)), a);
}

TEST_F(Measurements, NumbersWrapAfter999AndRestartWithoutAReadableNewest)
{
    struct Case {
        const char* what;
        std::function<void(u32 newest)> before;
        u32 expected;
    };
    const Case cases[] = {
        {"newest 998", [](u32 id) { rewrite_header(id, [](MeasHeader& h) { h.number = 998; }); }, 999},
        {"newest 999", [](u32 id) { rewrite_header(id, [](MeasHeader& h) { h.number = 999; }); }, 1},
        {"newest 4000000000", [](u32 id) { rewrite_header(id, [](MeasHeader& h) { h.number = 4000000000u; }); }, 1},
        {"newest unreadable",
         [](u32 id) {
             rewrite_header(
                 id, [](MeasHeader& h) { h.number = 5; }, false);
         },
         1},
        {"newest deleted", [this](u32) { ASSERT_EQ(obj_delete_measurements(dir_find_id(object)), OBJ_OK); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        save_table(1);
        const u32 newest = save_table(2);
        ASSERT_EQ(number_of(newest), 2u);
        c.before(newest);
        const u32 id = save_table(3);
        EXPECT_EQ(number_of(id), c.expected);
        EXPECT_EQ(dir_id(dir_find_id(object) + 1), id);
        ASSERT_EQ(obj_delete_measurements(dir_find_id(object)), OBJ_OK);
    }
}

TEST_F(Measurements, FailedSavesShowTheirMessageAndLeaveNothingBehind)
{
    const RmsTableRecord r = table_record(1.0f);
    struct Case {
        const char* what;
        std::function<void()> prepare;
        const void* data;
        u32 length;
        u32 error_bits;
        const char* title;
        std::vector<const char*> lines;
    };
    const Case cases[] = {
        {"no section 1", [] {}, nullptr, sizeof r, 0, "Внимание !"_cp, {"Нет данных"_cp, "для сохранения !"_cp}},
        {"empty section 1", [] {}, &r, 0, 0, "Внимание !"_cp, {"Нет данных"_cp, "для сохранения !"_cp}},
        {"directory full",
         [] {
             for (u32 fake = 200000; !dir_full(); ++fake) ASSERT_EQ(dir_append(fake, 1, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
         },
         &r,
         sizeof r,
         STORAGE_ERR_READ,
         "Ошибка !"_cp,
         {"Нет свободного места"_cp, "для сохранения замера !"_cp}},
        {"flash full",
         [] {
             for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p)
                 if (pt_state(nand_info.page_table[p]) == PAGE_FREE) nand_info.page_table[p] = pt_entry(PAGE_BAD, 0);
         },
         &r,
         sizeof r,
         STORAGE_ERR_WRITE,
         "Ошибка !"_cp,
         {"Замер не сохранен !"_cp}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        image.remount();
        c.prepare();
        storage_error_flags = 0;
        const std::vector<u32> before = ids();
        const u64 writes = nand_writes_made();
        answer_with_enter();
        lcd_clear();
        const std::vector<u16> screen(framebuffer, framebuffer + LCD_PIXELS);
        EXPECT_EQ(meas_save(MEAS_KIND_VIBROMETER, test_stamp(), c.data, c.length, nullptr, 0, nullptr, 0, false), 0u);
        EXPECT_EQ(storage_error_flags, c.error_bits);
        EXPECT_TRUE(box_seen(c.title, c.lines));
        EXPECT_EQ(ids(), before);
        EXPECT_EQ(nand_writes_made(), writes);  // nothing reached the flash
        if (c.error_bits != 0) {                // boxes after the screen was saved go again
            EXPECT_TRUE(std::equal(screen.begin(), screen.end(), framebuffer));
        }
    }
}

// The power is cut after each of the writes of a save in turn (the save is
// silent, then once with its message). The save fails without an entry;
// once the power is back and the image mounted again, whatever the save
// left on flash is either unreadable or the whole measurement, never a torn
// one, and the measurements saved before still read.
TEST_F(Measurements, PowerCutDuringASaveNeverLeavesATornMeasurement)
{
    const std::vector<u8> rec = pattern(SPECTRA_RECORD_SIZE, 4), data = pattern(5000, 5);  // three pages
    struct Kind {
        const char* what;
        u32 kind;
        const void* s1;
        u32 l1;
        const void* s2;
        u32 l2;
    };
    const RmsTableRecord table = table_record(7.0f);
    const Kind kinds[] = {
        {"vibrometer", MEAS_KIND_VIBROMETER, &table, sizeof table, nullptr, 0},
        {"spectrum", MEAS_KIND_SPECTRUM, rec.data(), SPECTRA_RECORD_SIZE, data.data(), 5000},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.what);
        const auto save = [&](bool silent) {
            return meas_save(k.kind, test_stamp(), k.s1, k.l1, k.s2, k.l2, nullptr, 0, silent);
        };
        const u32 kept = save(true);
        ASSERT_NE(kept, 0u);
        const u64 before = nand_writes_made();
        ASSERT_NE(save(true), 0u);
        const u64 writes = nand_writes_made() - before;
        ASSERT_GE(writes, 3u);
        const std::vector<u8> whole = file_bytes(dir_id(dir_find_id(object) + 1), 100 + k.l1 + k.l2);
        for (u64 cut = 0; cut < writes; ++cut) {
            SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(writes) + " writes");
            const std::vector<u32> listed = ids();
            storage_error_flags = 0;
            nand_cut_power_at(nand_writes_made() + cut);
            const bool silent = cut != 1;
            if (!silent) answer_with_enter();
            testing::internal::CaptureStdout();  // bad-block lines
            EXPECT_EQ(save(silent), 0u);
            testing::internal::GetCapturedStdout();
            nand_restore_power();
            EXPECT_EQ(storage_error_flags & STORAGE_ERR_WRITE, STORAGE_ERR_WRITE);
            EXPECT_EQ(ids(), listed);
            if (!silent) {
                EXPECT_TRUE(box_seen("Ошибка !"_cp, {"Замер не сохранен !"_cp}));
            }

            image.remount();
            ASSERT_NE(obj_after_mount(), OBJ_FAILED);
            for (u32 id : listed) EXPECT_GE(dir_find_id(id), 0) << id;
            for (u32 i = 0; i < dir_count(); ++i) {
                const u32 id = dir_id(static_cast<int>(i));
                if (std::find(listed.begin(), listed.end(), id) != listed.end()) continue;
                MeasHeader hd;
                if (meas_read_header(id, &hd) != MEAS_OK) continue;  // unreadable: fine
                std::vector<u8> back = file_bytes(id, 100 + k.l1 + k.l2);
                ASSERT_EQ(back.size(), whole.size());
                // The whole measurement apart from its id, number and checksum.
                std::memcpy(back.data() + 4, whole.data() + 4, 8);
                std::memcpy(back.data() + 98, whole.data() + 98, 2);
                EXPECT_TRUE(back == whole) << "torn measurement " << id;
            }
            u8 section[6000];
            MeasSection s1{section, sizeof section, 0};
            EXPECT_EQ(meas_read(kept, nullptr, &s1, nullptr, nullptr, true), 100 + k.l1);
        }
        ASSERT_EQ(obj_delete_measurements(dir_find_id(object)), OBJ_OK);
    }
}

TEST_F(Measurements, ReadGivesTheSectionsAskedFor)
{
    const u32 id = save_three_sections();
    ASSERT_NE(id, 0u);
    std::vector<u8> a(348), b(3000), c(40);
    MeasSection s1{a.data(), 348, 0}, s2{b.data(), 3000, 0}, s3{c.data(), 40, 0};
    u32 kind = 99;
    EXPECT_EQ(meas_read(id, &kind, &s1, &s2, &s3, true), 100u + 348 + 3000 + 40);
    EXPECT_EQ(kind, MEAS_KIND_SIGNAL);
    EXPECT_EQ((std::vector<u32>{s1.length, s2.length, s3.length}), (std::vector<u32>{348, 3000, 40}));
    EXPECT_EQ(a, pattern(348, 1));
    EXPECT_EQ(b, pattern(3000, 2));
    EXPECT_EQ(c, pattern(40, 3));
    // Without a section 2 buffer, section 2 is passed over and section 3
    // still comes from its own place.
    std::fill(c.begin(), c.end(), 0);
    s3.length = 0;
    EXPECT_EQ(meas_read(id, nullptr, &s1, nullptr, &s3, true), 100u + 348 + 40);
    EXPECT_EQ(c, pattern(40, 3));
    // A file without section 2 reports length 0 for it.
    const u32 table = save_table(3.0f);
    s2.length = 77;
    EXPECT_EQ(meas_read(table, &kind, &s1, &s2, nullptr, true), 0u);  // 1264 bytes do not fit in 348
    std::vector<u8> t(RMS_TABLE_RECORD_SIZE);
    MeasSection st{t.data(), RMS_TABLE_RECORD_SIZE, 0};
    EXPECT_EQ(meas_read(table, &kind, &st, &s2, nullptr, true), 100u + RMS_TABLE_RECORD_SIZE);
    EXPECT_EQ(kind, MEAS_KIND_VIBROMETER);
    EXPECT_EQ(s2.length, 0u);
    const RmsTableRecord r = table_record(3.0f);
    EXPECT_EQ(std::memcmp(t.data(), &r, sizeof r), 0);
}

TEST_F(Measurements, DamagedFilesAreRefused)
{
    struct Case {
        const char* what;
        std::function<u32()> make;  // the damaged measurement
        bool header_reads;
        u32 header_bits;  // error bits of meas_read_header
    };
    const auto damaged = [this](std::function<void(MeasHeader&)> change, bool seal = true) {
        return [this, change, seal] {
            const u32 id = save_three_sections();
            rewrite_header(id, change, seal);
            return id;
        };
    };
    const Case cases[] = {
        {"bad checksum", damaged([](MeasHeader& h) { h.number ^= 4; }, false), false, STORAGE_ERR_MEAS_HEADER},
        {"section 1 longer than the file", damaged([](MeasHeader& h) { h.section_length[0] = 0x7FFFFFF0; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"lengths past the file", damaged([](MeasHeader& h) { h.section_length[2] = 700; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"section 2 offset past the end", damaged([](MeasHeader& h) { h.section_offset[1] = 9000000; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"section 1 not at 100", damaged([](MeasHeader& h) { h.section_offset[0] = 0; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"section 3 length without offset", damaged([](MeasHeader& h) { h.section_offset[2] = 0; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"note past the end", damaged([](MeasHeader& h) { h.note_offset = 3488, h.note_length = 2044; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"note inside the sections", damaged([](MeasHeader& h) { h.note_offset = 200, h.note_length = 100; }), false,
         STORAGE_ERR_MEAS_HEADER},
        {"truncated file",
         [] {
             // A one-page file whose header claims 3448 bytes.
             FileHandle h;
             const u32 stamp = test_stamp();
             EXPECT_EQ(fs_create(&h, FILE_TYPE_SIGNAL, settings_current_object(), 0, 448, &stamp), FS_OK);
             MeasHeader hd;
             std::memset(&hd, 0, sizeof hd);
             hd.id = h.first;
             hd.section_offset[0] = 100;
             hd.section_length[0] = 348;
             hd.section_offset[1] = 448;
             hd.section_length[1] = 3000;
             meas_write_header(&h, &hd);
             fs_close(&h);
             dir_insert_after(dir_find_id(settings_current_object()), h.first, stamp, settings_current_object(),
                              FILE_TYPE_SIGNAL, 0);
             return h.first;
         },
         false, STORAGE_ERR_MEAS_HEADER},
        {"no such file", [] { return u32{5000}; }, false, STORAGE_ERR_READ},
        {"section 2 longer than its buffer", damaged([](MeasHeader&) {}), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const u32 id = c.make();
        storage_error_flags = 0;
        MeasHeader hd;
        EXPECT_EQ(meas_read_header(id, &hd), c.header_reads ? MEAS_OK : MEAS_FAILED);
        EXPECT_EQ(storage_error_flags, c.header_bits);
        // Buffers of exactly the room given, so a read past them is caught.
        std::vector<u8> a(348), b(2999), c3(40);
        MeasSection s1{a.data(), 348, 0}, s2{b.data(), 2999, 0}, s3{c3.data(), 40, 0};
        storage_error_flags = 0;
        EXPECT_EQ(meas_read(id, nullptr, &s1, &s2, &s3, true), 0u);
        EXPECT_EQ(storage_error_flags & STORAGE_ERR_MEAS_READ, STORAGE_ERR_MEAS_READ);
        char label[MEAS_LABEL_SIZE];
        const int at = dir_find_id(id);
        if (at >= 0 && !c.header_reads) {
            EXPECT_STREQ(meas_label(at, label), "");
        }
    }
    // Not silent: the reading box, then the failure, and the screen as it was.
    const u32 bad = damaged([](MeasHeader& h) { h.number ^= 4; }, false)();
    answer_with_enter();
    std::vector<u8> a(348);
    MeasSection s1{a.data(), 348, 0};
    EXPECT_EQ(meas_read(bad, nullptr, &s1, nullptr, nullptr, false), 0u);
    EXPECT_TRUE(box_seen("Внимание !"_cp, {"Идет"_cp, "чтение замера..."_cp}, false));
    EXPECT_TRUE(box_seen("Ошибка !"_cp, {"Замер не считан !"_cp}));
}

TEST_F(Measurements, LabelsByKind)
{
    struct Case {
        u32 kind;
        float value;
        u32 number;
        u32 note_offset, note_length;
        std::string expected;
    };
    const std::string when = " 14:05:09 03.12.26";
    const std::string sp = "Спктр #007"_cp;
    const Case cases[] = {
        {MEAS_KIND_SPECTRUM, 0, 7, 0, 0, sp + when},
        {MEAS_KIND_SIGNAL, 0, 1, 0, 0, "Сигн. #001"_cp + when},
        {MEAS_KIND_RMS_TABLE, 2, 12, 0, 0, "СКЗ   #012"_cp + when},
        {MEAS_KIND_VIBROMETER, 12.345f, 1, 0, 0, "12.3  #001" + when},
        {MEAS_KIND_VIBROMETER, 1234.5f, 1, 0, 0, "999   #001" + when},
        {MEAS_KIND_VIBROMETER, 123.45f, 2, 0, 0, "123   #002" + when},
        {MEAS_KIND_VIBROMETER, 5.0f, 3, 0, 0, " 5.0  #003" + when},
        {MEAS_KIND_VIBROMETER, -2.5f, 999, 0, 0, "-2.5  #999" + when},
        {MEAS_KIND_SHOCK_SIGNAL, 0, 1, 0, 0, ""},
        {MEAS_KIND_SHOCK_SPECTRUM, 0, 1, 0, 0, ""},
        // The note mark only with both the note's offset and its length.
        {MEAS_KIND_SPECTRUM, 0, 7, 1364, 600, sp + when + "\xB2"},
        {MEAS_KIND_SPECTRUM, 0, 7, 1364, 0, sp + when},
        {MEAS_KIND_SPECTRUM, 0, 7, 0, 600, sp + when},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const RmsTableRecord r = table_record(c.value);  // 1264 bytes for every kind
        const u32 id = meas_save(c.kind, test_stamp(), &r, sizeof r, nullptr, 0, nullptr, 0, true);
        ASSERT_NE(id, 0u);
        rewrite_header(id, [&](MeasHeader& h) {
            h.number = c.number;
            h.note_offset = c.note_offset;
            h.note_length = c.note_length;
        });
        EXPECT_EQ(label_of(id), c.expected);
    }
    char out[MEAS_LABEL_SIZE] = "x";
    EXPECT_STREQ(meas_label(-1, out), "");
    EXPECT_STREQ(meas_label(static_cast<int>(dir_count()), out), "");
    EXPECT_STREQ(meas_label(dir_find_id(object), out), "");  // an object is no measurement
    struct Icon {
        u32 kind;
        int icon;
    };
    for (const Icon& i : {Icon{0, 17}, Icon{1, 18}, Icon{2, 0}, Icon{3, 0}, Icon{4, 19}, Icon{5, 22}, Icon{6, 0}})
        EXPECT_EQ(meas_kind_icon(i.kind), i.icon) << i.kind;
}

class SavedDialog : public Measurements {
protected:
    u32 id = 0;
    std::vector<u8> before;  // the file's first page before the dialog
    void SetUp() override
    {
        Measurements::SetUp();
        id = save_table(12.345f);
        ASSERT_NE(id, 0u);
        before = file_bytes(id, 2048);
    }
    void run(std::vector<u32> keys)
    {
        script_keys(scope.host, std::move(keys));
        FileHandle h{};
        h.first = id;
        meas_saved_dialog(label_of(id).c_str(), &h);
    }
    void expect_unchanged()
    {
        EXPECT_EQ(file_pages(id), 1u);
        EXPECT_EQ(file_bytes(id, 2048), before);
        MeasHeader hd;
        ASSERT_EQ(meas_read_header(id, &hd), MEAS_OK);
        EXPECT_EQ(hd.note_offset | hd.note_length, 0u);
    }
};

TEST_F(SavedDialog, DownDownRecordsTheNoteAndRewritesTheHeader)
{
    run({KEY_DOWN, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(storage_error_flags, 0u);
    MeasHeader hd;
    ASSERT_EQ(meas_read_header(id, &hd), MEAS_OK);
    EXPECT_EQ(hd.note_offset, 100u + RMS_TABLE_RECORD_SIZE);
    EXPECT_EQ(hd.note_length, MEAS_NOTE_LENGTH);
    EXPECT_EQ(MEAS_NOTE_LENGTH, 2044u);
    EXPECT_EQ(file_pages(id), 2u);
    const std::vector<u8> file = file_bytes(id, 1364 + 2044);
    ASSERT_EQ(file.size(), 1364u + 2044);
    // The header checks and the record is untouched.
    EXPECT_EQ(le(file, 98, 2), reference_checksum(file.data(), 100, 98));
    EXPECT_TRUE(std::equal(file.begin() + 100, file.begin() + 1364, before.begin() + 100));
    // The WAV header, then 1000 samples of the id's low 16 bits.
    const std::vector<u8> wav(file.begin() + 1364, file.end());
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le(wav, 4, 4), 2036u);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ((std::vector<u32>{le(wav, 16, 4), le(wav, 20, 2), le(wav, 22, 2), le(wav, 24, 4), le(wav, 28, 4),
                                le(wav, 32, 2), le(wav, 34, 2)}),
              (std::vector<u32>{16, 1, 1, 11025, 22050, 2, 16}));
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(le(wav, 40, 4), 2000u);
    for (u32 i = 0; i < 1000; ++i) ASSERT_EQ(le(wav, 44 + 2 * i, 2), id & 0xFFFF) << i;
    EXPECT_EQ(label_of(id), "12.3  #001 14:05:09 03.12.26\xB2");
    // Recording again overwrites the note in place.
    run({KEY_DOWN, KEY_DOWN, KEY_ESC});
    EXPECT_EQ(file_pages(id), 2u);
    EXPECT_EQ(file_bytes(id, 1364 + 2044), file);
    // The record still reads back.
    RmsTableRecord r;
    MeasSection s1{&r, sizeof r, 0};
    EXPECT_EQ(meas_read(id, nullptr, &s1, nullptr, nullptr, true), 1364u);
    EXPECT_EQ(rms_table_verify(&r), 1);
}

TEST_F(SavedDialog, ClosingWithoutAFinishedRecordingKeepsTheFile)
{
    const std::vector<std::vector<u32>> scripts = {
        {KEY_ENTER}, {KEY_ESC}, {KEY_UP, KEY_ENTER}, {KEY_DOWN, KEY_ESC}, {KEY_DOWN, KEY_ENTER}};
    for (const auto& keys : scripts) {
        SCOPED_TRACE(keys.size());
        run(keys);
        EXPECT_EQ(pending_key, KEY_NONE);  // every key was taken
        expect_unchanged();
    }
    // Power-off while recording ends the dialog; the file stays as it was.
    scope.host.set_on_pump([posted = false]() mutable {
        if (!posted) {
            key_post(KEY_DOWN);
            posted = true;
        } else if (pending_key == KEY_NONE) {
            power_off_flag = 1;
        }
    });
    FileHandle h{};
    h.first = id;
    meas_saved_dialog("", &h);
    power_off_flag = 0;
    expect_unchanged();
}

// The power is cut after each write of the note in turn: the measurement
// still opens and reads back, with the whole note or with none. Growing a
// file writes the new page's header before the link to it, so no cut leaves
// a chain that no longer opens.
TEST_F(SavedDialog, PowerCutWhileStoringTheNoteKeepsTheMeasurement)
{
    const u64 start = nand_writes_made();
    run({KEY_DOWN, KEY_DOWN, KEY_ENTER});
    const u64 writes = nand_writes_made() - start;
    ASSERT_GT(writes, 0u);
    const std::vector<u8> with_note = file_bytes(id, 1364 + 2044);
    int unopenable = 0;
    for (u64 cut = 0; cut < writes; ++cut) {
        // Every write of the note, the ends of the header's block rewrite and
        // every fifth page of its middle.
        if (cut >= 8 && cut + 8 < writes && cut % 5 != 0) continue;
        SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(writes) + " writes");
        id = save_table(12.345f);
        ASSERT_NE(id, 0u);
        nand_cut_power_at(nand_writes_made() + cut);
        testing::internal::CaptureStdout();
        run({KEY_DOWN, KEY_DOWN, KEY_ENTER});
        testing::internal::GetCapturedStdout();
        nand_restore_power();
        image.remount();
        FileHandle h;
        if (fs_open(&h, id, FS_READ) != FS_OK) {
            PageHeader head, next;
            ASSERT_EQ(fs_read_header(id, &head), FS_OK);
            const u32 link = head.next;
            ASSERT_EQ(fs_read_header(link, &next), FS_OK);
            EXPECT_EQ(next.state, PAGE_FREE);  // the linked page never got its header
            ++unopenable;
            continue;
        }
        fs_close(&h);
        MeasHeader hd;
        ASSERT_EQ(meas_read_header(id, &hd), MEAS_OK);
        RmsTableRecord r;
        MeasSection s1{&r, sizeof r, 0};
        ASSERT_EQ(meas_read(id, nullptr, &s1, nullptr, nullptr, true), 1364u);
        EXPECT_EQ(rms_table_verify(&r), 1);
        if (hd.note_offset == 0) continue;
        EXPECT_EQ(hd.note_offset, 1364u);
        EXPECT_EQ(hd.note_length, MEAS_NOTE_LENGTH);
        const std::vector<u8> back = file_bytes(id, 1364 + 2044);
        ASSERT_EQ(back.size(), with_note.size());
        EXPECT_TRUE(std::equal(back.begin() + 1364, back.begin() + 1364 + 44, with_note.begin() + 1364));
        for (u32 i = 0; i < 1000; ++i) ASSERT_EQ(le(back, 1364 + 44 + 2 * i, 2), id & 0xFFFF) << i;
    }
    EXPECT_EQ(unopenable, 0);
}

TEST_F(SavedDialog, DrawsItsTextsAndRestoresTheDrawingState)
{
    images_unpack_all();
    bg_color = COLOR_BACKGROUND;
    lcd_clear();
    std::vector<u16> shown;
    scope.host.set_on_pump([&shown, pumps = 0]() mutable {
        if (shown.empty()) shown.assign(framebuffer, framebuffer + LCD_PIXELS);
        if (pending_key == KEY_NONE && ++pumps > 3) key_post(KEY_ESC);
    });
    fg_color = COLOR_RED;
    bg_color = COLOR_GREY;
    image_mode = 5;
    font_select(7);
    const std::string label = label_of(id);
    FileHandle h{};
    h.first = id;
    meas_saved_dialog(label.c_str(), &h);
    EXPECT_EQ((std::vector<u32>{fg_color, bg_color, image_mode, font_current}),
              (std::vector<u32>{COLOR_RED, COLOR_GREY, 5, 7}));
    ASSERT_EQ(shown.size(), static_cast<size_t>(LCD_PIXELS));
    // A text is there when drawing it once more over the picture changes
    // nothing.
    const auto has = [&shown](i32 x, i32 y, const char* text, u16 color) {
        std::copy(shown.begin(), shown.end(), framebuffer);
        font_select(4);
        fg_color = color;
        text_draw(x, y, text, TF_HCENTER | TF_TRANSPARENT);
        return std::equal(shown.begin(), shown.end(), framebuffer);
    };
    EXPECT_TRUE(has(160, 58, "Внимание !"_cp, COLOR_WHITE));
    EXPECT_TRUE(has(184, 94, "Замер сохранен"_cp, COLOR_BLACK));
    EXPECT_TRUE(has(184, 114, label.c_str(), COLOR_BLACK));
    EXPECT_TRUE(has(120, 152, "Ok", COLOR_BLACK));
    EXPECT_TRUE(has(240, 152, "Голос"_cp, COLOR_BLACK));
    EXPECT_FALSE(has(186, 94, "Замер сохранен"_cp, COLOR_BLACK));
    EXPECT_FALSE(has(240, 150, "Голос"_cp, COLOR_BLACK));
    if (const u16* background = image_set[94]) {
        // The dialog's picture at (1, 50): its first row, above every text.
        for (u32 x = 0; x < image_width(background); ++x)
            ASSERT_EQ(shown[50 * LCD_WIDTH + 1 + x], background[4 + x]) << x;
    }
}

TEST_F(Measurements, SaveWithItsDialogPutsTheScreenBack)
{
    bg_color = COLOR_MAGENTA;
    lcd_clear();
    const std::vector<u16> screen(framebuffer, framebuffer + LCD_PIXELS);
    script_keys(scope.host, {KEY_ENTER});
    const RmsTableRecord r = table_record(4.0f);
    const u32 id = meas_save(MEAS_KIND_VIBROMETER, test_stamp(), &r, sizeof r, nullptr, 0, nullptr, 0, false);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(pending_key, KEY_NONE);  // the dialog took the Enter
    EXPECT_TRUE(std::equal(screen.begin(), screen.end(), framebuffer));
}

TEST(SpectraRecordSlots, LookupByFormat)
{
    struct Slot {
        u32 type, kind, quantity;
    };
    struct Case {
        const char* what;
        u16 format;
        std::vector<Slot> slots;  // slot 0.. ; missing ones empty
        int main, shock, marker;
    };
    const Case cases[] = {
        {"512 all present", RECORD_FORMAT, {{2, KIND_S, Q_N}, {2, KIND_S, Q_V}, {0, 0, 0}, {2, KIND_B, Q_A}}, 1, 3, 0},
        {"512 main in slot 2", RECORD_FORMAT, {{0, 0, 0}, {1, KIND_W, Q_N}, {1, KIND_W, Q_A}}, 2, -1, -1},
        {"512 nothing valid", RECORD_FORMAT, {{1, KIND_W, Q_A}, {0, KIND_W, Q_A}, {1, KIND_W, 4}}, -1, -1, -1},
        {"512 shock of kind E", RECORD_FORMAT, {{0, 0, 0}, {1, KIND_W, Q_D}, {0, 0, 0}, {1, KIND_E, Q_A}}, 1, 3, -1},
        {"512 shock slot holding a W", RECORD_FORMAT, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {1, KIND_W, Q_A}}, -1, -1, -1},
        {"512 marker of kind E", RECORD_FORMAT, {{1, KIND_E, Q_N}}, -1, -1, -1},
        {"0 main and shock", SPECTRA_FORMAT_OLD, {{1, KIND_W, Q_A}, {1, KIND_E, Q_A}}, 0, 1, -1},
        {"0 main of kind B", SPECTRA_FORMAT_OLD, {{1, KIND_B, Q_A}, {1, KIND_B, Q_A}}, -1, -1, -1},
        {"0 shock of velocity", SPECTRA_FORMAT_OLD, {{1, KIND_S, Q_N}, {1, KIND_E, Q_V}}, -1, -1, -1},
        {"0 has no marker", SPECTRA_FORMAT_OLD, {{1, KIND_W, Q_N}}, -1, -1, -1},
        {"unknown format", 7, {{2, KIND_S, Q_N}, {2, KIND_S, Q_V}, {2, KIND_S, Q_V}, {2, KIND_B, Q_A}}, -1, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SpectraRecord r;
        std::memset(&r, 0, sizeof r);
        r.format = c.format;
        for (size_t i = 0; i < c.slots.size(); ++i) {
            r.slot[i].type = c.slots[i].type;
            r.slot[i].kind = c.slots[i].kind;
            r.slot[i].quantity = c.slots[i].quantity;
        }
        EXPECT_EQ(spectra_find_slot(&r, SPECTRA_MAIN), c.main);
        EXPECT_EQ(spectra_find_slot(&r, SPECTRA_SHOCK), c.shock);
        EXPECT_EQ(spectra_find_slot(&r, SPECTRA_MARKER), c.marker);
    }
}

TEST(SpectraRecordSlots, DataInsideSection2AndChecksums)
{
    SpectraRecord r;
    std::memset(&r, 0, sizeof r);
    r.format = RECORD_FORMAT;
    std::vector<i32> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<i32>(i * 1000 - 7);
    r.slot[1] = SpectraSlot{2, 0, KIND_S, Q_V, 10, 0, 1, 9, 0, 1, 20, 80, 0, {}};
    EXPECT_EQ(spectra_slot_data(&r, 1, data.data(), 400), data.data() + 20);
    r.slot[1].data_bytes = 321;  // ends 1 byte past the data
    EXPECT_EQ(spectra_slot_data(&r, 1, data.data(), 400), nullptr);
    r.slot[1].data_offset = 0xFFFFFFFF;  // far past, without wrapping
    r.slot[1].data_bytes = 8;
    EXPECT_EQ(spectra_slot_data(&r, 1, data.data(), 400), nullptr);
    EXPECT_EQ(spectra_slot_data(&r, 0, data.data(), 400), nullptr);  // empty slot
    EXPECT_EQ(spectra_slot_data(&r, 4, data.data(), 400), nullptr);

    spectra_record_seal(&r, data.data(), 400);
    EXPECT_EQ(r.data_checksum, checksum16(data.data(), 400));
    std::vector<u8> bytes(SPECTRA_RECORD_SIZE);
    std::memcpy(bytes.data(), &r, sizeof r);
    EXPECT_EQ(r.checksum, reference_checksum(bytes.data(), SPECTRA_RECORD_SIZE, SPECTRA_RECORD_CHECKSUM_AT));
    EXPECT_EQ(spectra_record_verify(&r, data.data(), 400), 1);
    data[50] ^= 1;
    EXPECT_EQ(spectra_record_verify(&r, data.data(), 400), 0);
    data[50] ^= 1;
    r.rotation = 3;
    EXPECT_EQ(spectra_record_verify(&r, data.data(), 400), 0);
}

// The records a viewer is given: the table record of kinds 4 and 5, the
// spectra record and section 2 of kinds 0..3; a damaged or oversized file
// gives none and shows its failure.
TEST_F(Measurements, ReadForViewGivesEachKindItsRecord)
{
    static MeasViewRecords got;
    const u32 vib = save_table(6.5f);
    ASSERT_EQ(meas_read_for_view(dir_find_id(vib), &got), MEAS_OK);
    const RmsTableRecord expected = table_record(6.5f);
    EXPECT_EQ(std::memcmp(&got.table, &expected, sizeof expected), 0);
    const RmsTableRecord rms_expected = table_record(1.0f);
    ASSERT_EQ(meas_read_for_view(dir_find_id(save_table(1.0f, MEAS_KIND_RMS_TABLE)), &got), MEAS_OK);
    EXPECT_EQ(std::memcmp(&got.table, &rms_expected, sizeof rms_expected), 0);

    // Kinds 0..3: the spectra record and section 2.
    SpectraRecord rec;
    std::memset(&rec, 0, sizeof rec);
    rec.format = RECORD_FORMAT;
    rec.kind = KIND_B;
    std::vector<i32> data(300, -5);
    spectra_record_seal(&rec, data.data(), 1200);
    const u32 sp =
        meas_save(MEAS_KIND_SHOCK_SPECTRUM, test_stamp(), &rec, sizeof rec, data.data(), 1200, nullptr, 0, true);
    ASSERT_EQ(meas_read_for_view(dir_find_id(sp), &got), MEAS_OK);
    EXPECT_EQ(std::memcmp(&got.spectra, &rec, sizeof rec), 0);
    EXPECT_EQ(std::vector<i32>(got.data, got.data + got.data_bytes / 4), data);

    // A damaged file: the failure is shown, nothing is given.
    rewrite_header(
        vib, [](MeasHeader& h) { h.kind ^= 1; }, false);
    answer_with_enter();
    EXPECT_EQ(meas_read_for_view(dir_find_id(vib), &got), MEAS_FAILED);
    EXPECT_TRUE(box_seen("Ошибка !"_cp, {"Замер не считан !"_cp}));
    // A kind-4 file whose section 1 is larger than a table record.
    const std::vector<u8> big = pattern(RMS_TABLE_RECORD_SIZE + 1, 6);
    const u32 large = meas_save(MEAS_KIND_VIBROMETER, test_stamp(), big.data(), static_cast<u32>(big.size()), nullptr,
                                0, nullptr, 0, true);
    EXPECT_EQ(meas_read_for_view(dir_find_id(large), &got), MEAS_FAILED);
    // No entry there, or a kind no viewer takes.
    EXPECT_EQ(meas_read_for_view(-1, &got), MEAS_FAILED);
    EXPECT_EQ(meas_read_for_view(static_cast<int>(dir_count()), &got), MEAS_FAILED);
    const RmsTableRecord odd = table_record(2.0f);
    const u32 unknown = meas_save(MEAS_KIND_COUNT + 1, test_stamp(), &odd, sizeof odd, nullptr, 0, nullptr, 0, true);
    ASSERT_NE(unknown, 0u);
    EXPECT_EQ(meas_read_for_view(dir_find_id(unknown), &got), MEAS_FAILED);
}

TEST_F(Measurements, ViewOfAKindWithoutAViewerShowsAShortMessage)
{
    const RmsTableRecord odd = table_record(6.5f);
    const u32 unknown = meas_save(MEAS_KIND_COUNT + 1, test_stamp(), &odd, sizeof odd, nullptr, 0, nullptr, 0, true);
    ASSERT_NE(unknown, 0u);
    bg_color = COLOR_MAGENTA;
    lcd_clear();
    const std::vector<u16> screen(framebuffer, framebuffer + LCD_PIXELS);
    answer_with_enter();
    meas_view(dir_find_id(unknown));
    EXPECT_TRUE(box_seen("Внимание !"_cp, {"Просмотр недоступен"_cp}));
    EXPECT_TRUE(std::equal(screen.begin(), screen.end(), framebuffer));
    meas_view(-1);  // nothing at all
    meas_view(static_cast<int>(dir_count()));
    EXPECT_TRUE(std::equal(screen.begin(), screen.end(), framebuffer));
}

}  // namespace
