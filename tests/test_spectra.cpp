// The spectra and signals screen: layouts, saving the shown measurement as a
// spectra record (with the averaged sections), loading it back, refusing
// damaged records, the status-line prints, and the screen end to end
// through the headless runner.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "analysis/format.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/spectra.h"
#include "screens/status.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

const std::string CLOCK = "2026-12-10T12:00:00";

TEST(SpectraLayout, OnlyLayoutsWhosePlotsTheSensorHas)
{
    struct Case {
        u32 sensor, asked, layout;
    };
    const Case cases[] = {
        // Internal sensor: no marker plot, so Shift+Up runs 0 -> 1 -> 0.
        {1, 0, 0},
        {1, 1, 1},
        {1, 2, 0},
        {1, 3, 0},
        {1, 4, 0},
        {1, 0xFFFFFFFF, 0},
        {2, 2, 0},
        // Sensor with marker: all four.
        {3, 0, 0},
        {3, 1, 1},
        {3, 2, 2},
        {3, 3, 3},
        {3, 4, 0},
        {3, 77, 0},
    };
    for (const Case& c : cases) {
        settings_defaults();
        settings.sensor = c.sensor;
        EXPECT_EQ(spectra_set_layout(c.asked), c.layout) << "sensor " << c.sensor << " asked " << c.asked;
        EXPECT_EQ(spectra.view_layout, c.layout);
    }
}

// A mounted archive with the measuring module ready to acquire.
class SpectraStore : public ::testing::Test {
protected:
    VirtualHostScope scope;
    MountedFlash image;

    void SetUp() override
    {
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        archive_state = ARCHIVE_MOUNTED;
        settings.sensor = 3;
        settings.averaging_idx = 1;
        meas_calibration_defaults();
        meas_init();
        results_reset();
        meas_start(462);
        meas_set_running(1);
    }

    // Runs `n` whole acquisition cycles.
    static void cycles(int n)
    {
        for (int i = 0; i < n; ++i)
            while (meas_step() != 0) {
            }
    }

    // Reads measurement `id` back: the record and its section 2.
    struct Stored {
        SpectraRecord record{};
        std::vector<i32> data = std::vector<i32>(MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32));
        u32 data_bytes = 0;
        u32 kind = 99;
    };
    static Stored read_back(u32 id)
    {
        Stored s;
        MeasSection one{&s.record, sizeof s.record, 0};
        MeasSection two{s.data.data(), static_cast<u32>(s.data.size() * sizeof(i32)), 0};
        EXPECT_GT(meas_read(id, &s.kind, &one, &two, nullptr, true), 0u);
        EXPECT_EQ(one.length, SPECTRA_RECORD_SIZE);
        s.data_bytes = two.length;
        return s;
    }
};

struct RecordCopy {
    u32 type, kind, quantity, count;
    float dx, scale;
    std::vector<i32> data;
};

RecordCopy copy_of(u32 group, u32 kind, u32 quantity)
{
    SignalRecord* r = nullptr;
    EXPECT_EQ(meas_get_record(group, kind, quantity, &r), 1) << group << "/" << kind << "/" << quantity;
    if (!r) return {};
    const u32 words = plot_is_spectrum(kind) ? 2 * r->count : r->count;
    return {r->type, r->kind, r->quantity, r->count, r->dx, r->scale, std::vector<i32>(r->data, r->data + words)};
}

void expect_same(const RecordCopy& a, const RecordCopy& b, const char* what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.quantity, b.quantity);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.dx, b.dx);
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_TRUE(a.data == b.data);
}

TEST_F(SpectraStore, SavedSpectrumLoadsBackAsItWasSaved)
{
    cycles(1);
    ASSERT_EQ(results.valid, 1u);
    const RecordCopy main = copy_of(1, KIND_S, Q_V);
    const RecordCopy shock = copy_of(3, KIND_B, Q_A);
    const RecordCopy marker = copy_of(0, KIND_S, Q_N);
    const u32 stamp = results.stamp;
    float rotation = results.rotation_hz;
    ASSERT_GT(rotation, 0.0f);

    const u32 id = spectra_save(KIND_S, Q_V, SPECTRA_LAYOUT_ALL, true);
    ASSERT_NE(id, 0u);
    Stored s = read_back(id);
    EXPECT_EQ(s.kind, MEAS_KIND_SPECTRUM);
    const SpectraRecord& r = s.record;
    EXPECT_EQ(r.format, RECORD_FORMAT);
    EXPECT_EQ(r.kind, KIND_S);
    EXPECT_EQ(r.quantity, Q_V);
    EXPECT_EQ(r.stamp, stamp);
    EXPECT_EQ(r.slot[2].type, 0u) << "no record of group 2";
    // Main record first, then the shock-pulse and the marker records.
    EXPECT_EQ(r.slot[1].data_offset, 0u);
    EXPECT_EQ(r.slot[3].data_offset, r.slot[1].data_bytes / 4);
    EXPECT_EQ(r.slot[0].data_offset, r.slot[3].data_offset + r.slot[3].data_bytes / 4);
    EXPECT_EQ(s.data_bytes, r.slot[0].data_bytes + r.slot[1].data_bytes + r.slot[3].data_bytes);
    EXPECT_EQ(r.data_checksum, checksum16(s.data.data(), s.data_bytes));
    float stored_rotation;
    std::memcpy(&stored_rotation, &r.rotation, sizeof stored_rotation);
    EXPECT_EQ(stored_rotation, rotation);

    results_reset();
    ASSERT_EQ(spectra_load(&s.record, s.data.data(), s.data_bytes), 1);
    EXPECT_EQ(results.valid, r.type) << "valid comes from the record's type";
    EXPECT_EQ(results.stamp, stamp);
    EXPECT_EQ(results.rotation_hz, rotation);
    EXPECT_EQ(results.group[0].active, 1u);
    EXPECT_EQ(results.group[1].active, 1u);
    EXPECT_EQ(results.group[3].active, 1u);
    expect_same(copy_of(1, KIND_S, Q_V), main, "main");
    expect_same(copy_of(3, KIND_B, Q_A), shock, "shock");
    expect_same(copy_of(0, KIND_S, Q_N), marker, "marker");
}

TEST_F(SpectraStore, LayoutDecidesWhichRecordsAreSaved)
{
    cycles(1);
    struct Case {
        u32 kind, layout;
        bool shock, marker;
    };
    for (const Case c : {Case{KIND_W, 0, false, false}, Case{KIND_W, 1, true, false}, Case{KIND_S, 2, false, true}}) {
        const u32 id = spectra_save(c.kind, Q_A, c.layout, true);
        ASSERT_NE(id, 0u);
        const Stored s = read_back(id);
        SCOPED_TRACE(c.layout);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_EQ(s.record.slot[1].kind, c.kind);
        EXPECT_EQ(s.record.slot[3].type != 0, c.shock);
        if (c.shock) {
            EXPECT_EQ(s.record.slot[3].kind, c.kind == KIND_S ? KIND_B : KIND_E);
        }
        EXPECT_EQ(s.record.slot[0].type != 0, c.marker);
        EXPECT_EQ(s.record.rotation != 0, c.marker);
    }
}

// Puts a 64-line acceleration spectrum of amplitude `a` (in raw units,
// line k carrying a + k) into the store and pushes it into the averaging.
void push_spectrum(i32 a)
{
    constexpr u32 LINES = 64;
    SignalRecord* rec = record_at(1, KIND_S, Q_A);
    clear_record(rec);
    rec->type = REC_COMPUTED;
    rec->kind = KIND_S;
    rec->quantity = Q_A;
    rec->count = LINES;
    rec->dx = 2.5f;
    rec->x_last = rec->dx * (LINES - 1);
    rec->scale = 0.001f;
    rec->data_bytes = LINES * 8;
    for (u32 k = 0; k < LINES; ++k) {
        rec->data[2 * k] = a + static_cast<i32>(k);
        rec->data[2 * k + 1] = 0;
    }
    rec->peak = pair_peak(rec->data, 0, LINES);
    avg_push();
    results.valid = 1;
    results.stamp = 0x12345678;
}

TEST_F(SpectraStore, AveragedSpectraStoreTheMeanRescaledToFit)
{
    struct Case {
        const char* name;
        std::vector<i32> passes;  // amplitudes, the newest last
        bool rescaled;
    };
    // Three loud passes and a quiet one: the mean lies far above the newest
    // record's own peak, so the conversion has to rescale, more than once.
    const Case cases[] = {
        {"steady", {1000, 1000, 1000, 1000}, false},
        {"loud before quiet", {40000, 40000, 40000, 100}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.averaging_idx = 2;  // 4 averages
        results_reset();
        avg_clear();
        for (const i32 a : c.passes) push_spectrum(a);
        ASSERT_EQ(avg_count(), 4u);
        const SignalRecord* rec = record_at(1, KIND_S, Q_A);
        const float own_scale = rec->scale;
        const float own_limit = 2.0f * static_cast<float>(rec->peak) * own_scale;

        const u32 id = spectra_save(KIND_S, Q_A, SPECTRA_LAYOUT_MAIN, true);
        ASSERT_NE(id, 0u);
        const Stored s = read_back(id);
        const SpectraSlot& slot = s.record.slot[1];
        ASSERT_EQ(slot.count, rec->count);
        EXPECT_EQ(slot.scale > own_scale, c.rescaled);
        i32 peak = 0;
        float loudest = 0;
        for (u32 k = 0; k < slot.count; ++k) {
            const float mean = avg_line(1, Q_A, k);
            loudest = std::max(loudest, mean);
            const i32 word = s.data[2 * k];
            EXPECT_EQ(s.data[2 * k + 1], 0) << k;
            EXPECT_EQ(word, static_cast<i32>(mean / slot.scale)) << k;
            peak = std::max(peak, std::abs(word));
        }
        EXPECT_EQ(slot.peak, peak);
        // Every line lies below the limit, which grew with the scale.
        EXPECT_LT(loudest, own_limit * (slot.scale / own_scale));
        EXPECT_EQ(loudest >= own_limit, c.rescaled);
    }
}

TEST_F(SpectraStore, DamagedRecordsShowTheErrorAndLeaveTheStoreAsItWas)
{
    cycles(1);
    const u32 id = spectra_save(KIND_S, Q_A, SPECTRA_LAYOUT_ALL, true);
    ASSERT_NE(id, 0u);
    const Stored good = read_back(id);
    ASSERT_EQ(spectra_load(const_cast<SpectraRecord*>(&good.record), good.data.data(), good.data_bytes), 1);

    struct Case {
        const char* name;
        std::function<void(Stored&)> damage;
        bool reseal;
    };
    const auto reseal = [](Stored& s) { spectra_record_seal(&s.record, s.data.data(), s.data_bytes); };
    const std::vector<Case> cases = {
        {"data checksum", [](Stored& s) { s.data[5] ^= 1; }, false},
        {"record checksum", [](Stored& s) { s.record.velocity += 1.0f; }, false},
        {"unknown format", [](Stored& s) { s.record.format = 7; }, true},
        {"main data outside", [](Stored& s) { s.record.slot[1].data_offset = s.data_bytes / 4; }, true},
        {"shock data length outside",
         [](Stored& s) { s.record.slot[3].data_bytes = s.data_bytes - s.record.slot[3].data_offset * 4 + 4; }, true},
        {"marker offset wraps", [](Stored& s) { s.record.slot[0].data_offset = 0xC0000000u; }, true},
        {"count beyond the buffer", [](Stored& s) { s.record.slot[1].count = RECORD_PAIRS + 1; }, true},
        {"count beyond its data", [](Stored& s) { s.record.slot[1].count = s.record.slot[1].data_bytes / 8 + 1; },
         true},
        {"record kind outside the store", [](Stored& s) { s.record.kind = 9; }, true},
        {"count of all ones", [](Stored& s) { s.record.slot[1].count = 0xFFFFFFFFu; }, true},
        {"x step negative", [](Stored& s) { s.record.slot[1].dx = -1e30f; }, true},
        {"x step zero", [](Stored& s) { s.record.slot[3].dx = 0.0f; }, true},
        {"x0 not a number", [](Stored& s) { s.record.slot[0].x0 = std::nanf(""); }, true},
        {"scale infinite", [](Stored& s) { s.record.slot[1].scale = INFINITY; }, true},
        {"data shorter than told", [](Stored& s) { s.data_bytes -= 8; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stored bad = good;
        c.damage(bad);
        if (c.reseal) reseal(bad);
        // The store holds a measurement that must survive.
        const RecordCopy before = copy_of(1, KIND_S, Q_A);
        const u32 stamp = results.stamp;
        fill_rect(0, 0, LCD_WIDTH - 1, LCD_HEIGHT - 1, COLOR_BLACK);
        script_keys(scope.host, {KEY_ENTER});
        EXPECT_EQ(spectra_load(&bad.record, bad.data.data(), bad.data_bytes), 0);
        EXPECT_NE(fb_pixels[120 * LCD_WIDTH + 160], COLOR_BLACK) << "the error box";
        EXPECT_EQ(results.stamp, stamp);
        expect_same(copy_of(1, KIND_S, Q_A), before, "kept");
    }

    // An empty record is no error: nothing to show.
    Stored empty = good;
    empty.record.type = 0;
    fill_rect(0, 0, LCD_WIDTH - 1, LCD_HEIGHT - 1, COLOR_BLACK);
    EXPECT_EQ(spectra_load(&empty.record, empty.data.data(), empty.data_bytes), 0);
    EXPECT_EQ(fb_pixels[120 * LCD_WIDTH + 160], COLOR_BLACK);
}

std::vector<u16> screen()
{
    return std::vector<u16>(fb_pixels, fb_pixels + LCD_PIXELS);
}

// Soft-key slots 1..5 lie at x 2 + 64 (slot - 1) on the bottom bar.
bool slot_blank(const std::vector<u16>& px, int slot)
{
    return region_is_image(px, 2 + 64 * (slot - 1), 216, image_set[IMG_SOFTKEY_BLANK]);
}

TEST_F(SpectraStore, ArchiveViewShowsTheStoredPlotsAndValues)
{
    images_unpack_all();
    struct Case {
        const char* name;
        u32 kind, layout;       // as saved
        u32 stored_layout;      // the settings' layout when viewing
        std::vector<u32> keys;  // before Esc
        u32 shown_kind, shown_layout;
        bool up_label;
    };
    const Case cases[] = {
        {"spectrum with all plots, Mod+Up to the next layout", KIND_S, 3, 3, {KEY_SHIFT | KEY_UP}, KIND_S, 0, false},
        {"layout cut to the stored plots", KIND_S, 1, 3, {}, KIND_S, 1, false},
        {"signal shown as its spectrum", KIND_W, 0, 0, {KEY_UP}, KIND_S, 0, true},
        {"signal back to the signal", KIND_W, 0, 2, {KEY_UP, KEY_UP}, KIND_W, 0, true},
        {"Up does nothing on a spectrum", KIND_S, 0, 0, {KEY_UP}, KIND_S, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.averaging_idx = 4;
        cycles(1);  // a fresh measurement: the last view left a loaded record in the store
        const u32 id = spectra_save(c.kind, Q_V, c.layout, true);
        ASSERT_NE(id, 0u);
        Stored stored = read_back(id);
        settings.plot_layout = c.stored_layout;
        std::vector<u32> keys = c.keys;
        keys.push_back(KEY_ESC);
        script_keys(scope.host, keys);
        stored_spectra_view(&stored.record, stored.data.data(), stored.data_bytes);
        ASSERT_EQ(power_off_flag, 0) << "left with Esc";
        const auto px = screen();
        EXPECT_EQ(settings.averaging_idx, 4u) << "put back";
        EXPECT_EQ(spectra.main.kind, c.shown_kind);
        EXPECT_EQ(spectra.view_layout, c.shown_layout);
        EXPECT_EQ(px[120 * LCD_WIDTH + 160] == COLOR_BACKGROUND, c.shown_layout != 0) << "a plot below the main one";
        EXPECT_EQ(!slot_blank(px, 2), c.up_label);
        EXPECT_TRUE(region_has_text(px, 75, 7, "СКЗ="_cp, 3, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND));
        char value[32];
        format_quantity(value, 1, stored.record.velocity);
        EXPECT_TRUE(region_has_text(px, 107, 7, value, 3, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND)) << value;
    }
}

TEST(SpectraStatus, ValuesAreReprintedOnlyWhenTheyMoveByATenth)
{
    VirtualHostScope scope;
    images_unpack_all();
    struct Step {
        float value;
        bool printed;
    };
    const Step steps[] = {{5.0f, true}, {5.05f, false},  {4.95f, false},   {5.15f, true},
                          {5.0f, true}, {1200.0f, true}, {999.05f, false}, {998.85f, true}};
    float last_rms = -1.0f, last_temp = -1.0f;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.value);
        // A mark in each box shows whether the box was cleared.
        fb_pixels[10 * LCD_WIDTH + 140] = COLOR_RED;
        fb_pixels[10 * LCD_WIDTH + 188] = COLOR_RED;
        status_rms_print(s.value, &last_rms);
        status_temp_print(s.value, &last_temp);
        EXPECT_EQ(fb_pixels[10 * LCD_WIDTH + 140] != COLOR_RED, s.printed);
        if (s.value < 999.0f) {
            EXPECT_EQ(fb_pixels[10 * LCD_WIDTH + 188] != COLOR_RED, s.printed);
        }
    }
}

TEST(SpectraStatus, AbsurdTemperaturesStayInTheirBox)
{
    // The print "%3dёC" in the box (144, 3)-(189, 16): beyond three places
    // the temperature shows the end it lies beyond; the clock's plate to the
    // right stays as it was.
    VirtualHostScope scope;
    images_unpack_all();
    struct Case {
        float celsius;
        const char* text;
    };
    const Case cases[] = {{1.0e9f, CP("999ёC")},
                          {1234.0f, CP("999ёC")},
                          {-1.0e9f, CP("-99ёC")},
                          {-100.0f, CP("-99ёC")},
                          {-20.0f, CP("-20ёC")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.celsius);
        std::fill_n(fb_pixels, LCD_PIXELS, COLOR_MAGENTA);
        float last = -1.0f;
        status_temp_print(c.celsius, &last);
        const auto px = screen();
        EXPECT_TRUE(region_has_text(px, 147, 7, c.text, 3, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND));
        int outside = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < LCD_WIDTH; ++x) {
                const bool in_box = x >= 144 && x <= 189 && y >= 3 && y <= 16;
                outside += !in_box && px[y * LCD_WIDTH + x] != COLOR_MAGENTA;
            }
        EXPECT_EQ(outside, 0);
    }
}

// End to end: the screen through the headless runner.
RunResult run(const TempDir& dir, const std::string& keys)
{
    return run_runner({"--data", dir.path(), "--clock", CLOCK, "--seed", "1", "--keys", keys});
}

// Writes the settings block into fram.dat after `change`.
void change_stored_settings(const TempDir& dir, const std::function<void(SettingsBlock&)>& change)
{
    std::vector<u8> fram = read_file_bytes(dir.file("fram.dat"));
    ASSERT_GE(fram.size(), SETTINGS_OFFSET + SETTINGS_SIZE);
    SettingsBlock block;
    std::memcpy(&block, fram.data() + SETTINGS_OFFSET, sizeof block);
    change(block);
    block.checksum = reference_checksum(reinterpret_cast<const u8*>(&block), sizeof block, SETTINGS_SIZE - 2);
    std::memcpy(fram.data() + SETTINGS_OFFSET, &block, sizeof block);
    write_file_bytes(dir.file("fram.dat"), fram);
}

// The top two rows of the saved dialog's picture are on screen at (1, 50).
bool shows_saved_dialog(const std::vector<u16>& px)
{
    const u16* img = image_set[IMG_SAVED_DIALOG];
    if (!img || px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    const int w = static_cast<int>(image_width(img));
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < w; ++c)
            if (px[(50 + r) * LCD_WIDTH + 1 + c] != img[4 + r * w + c]) return false;
    return true;
}

struct ArchiveFiles {
    explicit ArchiveFiles(const std::string& folder) : flash(folder + "/flash.dat")
    {
        system_reset();
        ok = fs_init() == FS_OK && fs_mount() == FS_OK;
        for (u32 i = 0; ok && i < dir_count(); ++i)
            if (dir_type(static_cast<int>(i)) == FILE_TYPE_SIGNAL) ids.push_back(dir_id(static_cast<int>(i)));
    }
    FlashFile flash;
    bool ok = false;
    std::vector<u32> ids;
};

TEST(SpectraScreen, StartSaveAndTheStoredSections)
{
    images_unpack_all();
    TempDir dir;
    const auto shot = [&](const char* name) { return "shot " + dir.file(name); };
    const auto r = run(dir, "wait 1500; right; enter; wait 300; " + shot("entered.png") + "; up; enter; wait 3000; " +
                                shot("live.png") + "; shift+up; wait 1500; " + shot("layout1.png") +
                                "; shift+enter; wait 500; " + shot("saved.png") + "; enter; wait 200; esc; wait 200");
    ASSERT_EQ(r.status, 0) << r.output;

    const auto entered = load_screenshot(dir.file("entered.png"));
    EXPECT_TRUE(slot_blank(entered, 4)) << "no zoom keys without data";
    EXPECT_FALSE(slot_blank(entered, 1));
    EXPECT_FALSE(slot_blank(entered, 3));

    const auto live = load_screenshot(dir.file("live.png"));
    EXPECT_FALSE(slot_blank(live, 4));
    EXPECT_FALSE(slot_blank(live, 5));
    // Layout 0: the main plot reaches down to row 215; layout 1 leaves the
    // row between the plots to the background.
    EXPECT_NE(live[120 * LCD_WIDTH + 160], COLOR_BACKGROUND);
    const auto layout1 = load_screenshot(dir.file("layout1.png"));
    EXPECT_EQ(layout1[120 * LCD_WIDTH + 160], COLOR_BACKGROUND);
    EXPECT_EQ(layout1[125 * LCD_WIDTH + 160], PLOT_COLOR_AREA) << "the shock-pulse plot";

    const auto saved = load_screenshot(dir.file("saved.png"));
    EXPECT_TRUE(shows_saved_dialog(saved));

    // The state survives leaving: spectrum, velocity, layout 1.
    const auto block = stored_settings(dir.path());
    SettingsBlock s;
    std::memcpy(&s, block.data(), sizeof s);
    EXPECT_EQ(s.plot_mode, KIND_S);
    EXPECT_EQ(s.plot_layout, SPECTRA_LAYOUT_SHOCK);

    ArchiveFiles archive(dir.path());
    ASSERT_TRUE(archive.ok);
    ASSERT_EQ(archive.ids.size(), 1u);
    SpectraRecord rec{};
    std::vector<i32> data(MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32));
    MeasSection one{&rec, sizeof rec, 0}, two{data.data(), static_cast<u32>(data.size() * 4), 0};
    u32 kind = 99;
    ASSERT_GT(meas_read(archive.ids[0], &kind, &one, &two, nullptr, true), 0u);
    EXPECT_EQ(kind, MEAS_KIND_SPECTRUM);
    EXPECT_EQ(one.length, SPECTRA_RECORD_SIZE);
    EXPECT_EQ(rec.format, RECORD_FORMAT);
    EXPECT_EQ(rec.quantity, Q_V);
    EXPECT_EQ(rec.slot[1].kind, KIND_S);
    EXPECT_EQ(rec.slot[3].kind, KIND_B);
    EXPECT_EQ(rec.slot[0].type, 0u) << "no marker plot in layout 1";
    EXPECT_EQ(two.length, rec.slot[1].data_bytes + rec.slot[3].data_bytes);
    EXPECT_EQ(spectra_record_verify(&rec, data.data(), two.length), 1);
}

// The first line of a plot's cursor readout (its x value): the pixels of
// the readout's colour right of x 150 in the 8 rows from the first row
// between y0 and y1 that holds any, as rows of '#' and '.'; empty when
// there is none.
std::string readout_x_line(const std::vector<u16>& px, int y0, int y1)
{
    constexpr int FROM_X = 150, ROWS = 8;
    for (int y = y0; y <= y1 - ROWS; ++y) {
        bool any = false;
        for (int x = FROM_X; x < LCD_WIDTH && !any; ++x) any = px[y * LCD_WIDTH + x] == PLOT_COLOR_UNIT;
        if (!any) continue;
        std::string line;
        for (int r = y; r < y + ROWS; ++r) {
            for (int x = FROM_X; x < LCD_WIDTH; ++x) line += px[r * LCD_WIDTH + x] == PLOT_COLOR_UNIT ? '#' : '.';
            line += '\n';
        }
        return line;
    }
    return {};
}

// A spectrum with its shock-pulse spectrum saved and opened from the
// archive: the cursor moved on the main plot, Mod puts the shock-pulse
// plot's cursor on the same frequency, and Left/Right keep them together.
TEST(SpectraScreen, StoredViewModPutsTheShockCursorAtTheMainCursor)
{
    TempDir dir;
    const auto shot = [&](const char* name) { return "shot " + dir.file(name); };
    // Spectrum (Up), layout 1 (Mod+Up), measured, saved, the saved dialog
    // closed; the archive (Down) opens on the new measurement and Right opens it.
    const auto r = run(dir, "wait 1500; right; enter; wait 300; up; shift+up; wait 300; enter; wait 3000; enter; "
                            "wait 300; shift+enter; wait 500; enter; wait 200; esc; wait 300; down; enter; wait 500; "
                            "right; wait 500; " +
                                shot("opened.png") + "; right; right; right; right; right; mod; wait 300; " +
                                shot("mod.png") + "; right; right; left; wait 300; " + shot("moved.png"));
    ASSERT_EQ(r.status, 0) << r.output;
    constexpr int MAIN_Y0 = 21, MAIN_Y1 = 119, SHOCK_Y0 = 121, SHOCK_Y1 = 215;
    const auto opened = load_screenshot(dir.file("opened.png"));
    ASSERT_FALSE(readout_x_line(opened, MAIN_Y0, MAIN_Y1).empty()) << "the stored spectrum with its cursor";
    for (const char* name : {"mod.png", "moved.png"}) {
        SCOPED_TRACE(name);
        const auto px = load_screenshot(dir.file(name));
        const auto main_x = readout_x_line(px, MAIN_Y0, MAIN_Y1);
        EXPECT_NE(main_x, readout_x_line(opened, MAIN_Y0, MAIN_Y1)) << "the main cursor moved";
        EXPECT_FALSE(main_x.empty());
        EXPECT_EQ(readout_x_line(px, SHOCK_Y0, SHOCK_Y1), main_x) << "both cursors at one frequency";
    }
}

TEST(SpectraScreen, FourAndStopEndsAfterTheFourthMeanAndAutoSavesOnce)
{
    TempDir dir;
    ASSERT_EQ(run(dir, "wait 500").status, 0);
    change_stored_settings(dir, [](SettingsBlock& b) {
        b.averaging_idx = 3;  // "  4 + Стоп"
        b.autostart_idx = 2;  // auto-record
        b.plot_mode = KIND_S;
    });
    const auto r = run(dir, "wait 1500; right; enter; wait 300; enter; wait 8000; shot " + dir.file("stopped.png") +
                                "; enter; wait 4000; esc");
    ASSERT_EQ(r.status, 0) << r.output;
    images_unpack_all();
    const auto stopped = load_screenshot(dir.file("stopped.png"));
    EXPECT_TRUE(shows_saved_dialog(stopped));

    ArchiveFiles archive(dir.path());
    ASSERT_TRUE(archive.ok);
    EXPECT_EQ(archive.ids.size(), 1u) << "saved once";
}

}  // namespace
