// Writes the seed corpora of the fuzz targets: archives built through the
// storage code itself (as patches of an erased image), measurement files of
// every kind, parameter memories, packed pictures of the instrument, runner
// scripts and recordings for the file source. Usage: fuzz_make_seeds
// [FOLDER] (default: the corpus folder of the sources); each target's seeds
// go to FOLDER/<target>/.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "flash_sandbox.h"
#include "fuzz.h"
#include "host/fram.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/bearings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

namespace {

std::string g_out;

void seed(const char* target, const char* name, const std::vector<u8>& bytes)
{
    const std::filesystem::path folder = std::filesystem::path(g_out) / target;
    std::filesystem::create_directories(folder);
    fuzz_write_file((folder / name).string(), bytes);
    std::printf("%s/%s: %zu bytes\n", target, name, bytes.size());
}

void put16(std::vector<u8>& v, u32 x)
{
    v.push_back(static_cast<u8>(x));
    v.push_back(static_cast<u8>(x >> 8));
}

// The image as patches (flash_apply_patches): each page's data area up to
// its last written byte and its spare area up to its last written byte.
std::vector<u8> image_patches()
{
    const std::vector<u8> image = fuzz_read_file(fuzz_folder() + "/flash.dat");
    std::vector<u8> out;
    for (u32 p = 64; p < FUZZ_FLASH_PAGES; ++p) {
        const u8* page = image.data() + static_cast<size_t>(p) * FUZZ_PAGE_STRIDE;
        const u32 parts[2][2] = {{0, 2048}, {2048, FUZZ_PAGE_STRIDE}};
        for (const auto& part : parts) {
            u32 end = part[1];
            while (end > part[0] && page[end - 1] == 0xFF) --end;
            if (end == part[0]) continue;
            put16(out, p - 64);
            put16(out, part[0]);
            put16(out, end - part[0]);
            out.insert(out.end(), page + part[0], page + end);
        }
    }
    return out;
}

RmsTableRecord table_record(float velocity)
{
    RmsTableRecord r;
    std::memset(&r, 0, sizeof r);
    r.valid = 1;
    r.format = RECORD_FORMAT;
    r.stamp = 850000000;
    r.group = RMS_TABLE_GROUP;
    for (u32 p = 0; p < 3; ++p)
        for (u32 d = 0; d < RMS_DIRECTIONS; ++d) {
            r.values[p][d][0] = 1.5f * (p + 1);
            r.values[p][d][1] = velocity + p + 0.1f * d;
            r.values[p][d][2] = 30.0f + p;
            r.temperature[p][d] = 41.0f;
            r.filled[p] |= static_cast<u8>(1 << d);
            ++r.filled_count;
        }
    rms_table_seal(&r);
    return r;
}

// A spectra record with a spectrum in slot 1, the shock-pulse spectrum in
// slot 3 and the marker in slot 0, or (old) the older layout.
struct Spectra {
    SpectraRecord record;
    std::vector<i32> data;
};

Spectra spectra(u32 kind, bool old)
{
    Spectra s;
    std::memset(&s.record, 0, sizeof s.record);
    SpectraRecord& r = s.record;
    r.type = 1;
    r.format = old ? SPECTRA_FORMAT_OLD : RECORD_FORMAT;
    r.stamp = 850000000;
    r.kind = kind;
    r.quantity = 1;
    r.velocity = 3.25f;
    r.temperature = 38.5f;
    auto add = [&s](SpectraSlot& slot, u32 k, u32 q, u32 count) {
        const bool spectrum = k == 1 || k == 3;
        const u32 words = spectrum ? 2 * count : count;
        slot.type = 1;
        slot.stamp = 850000000;
        slot.kind = k;
        slot.quantity = q;
        slot.count = count;
        slot.x0 = 0;
        slot.dx = spectrum ? 2.5f : 0.000390625f;
        slot.x_last = slot.dx * (count - 1);
        slot.peak = 1000000;
        slot.scale = 0.001f;
        slot.data_offset = static_cast<u32>(s.data.size());
        slot.data_bytes = words * sizeof(i32);
        for (u32 i = 0; i < words; ++i) s.data.push_back(static_cast<i32>((i * 7919u) % 1000000u) - 500000);
    };
    if (old) {
        add(r.slot[0], kind, 1, 100);
        add(r.slot[1], 2, 0, 128);
    } else {
        add(r.slot[1], kind, 1, kind == 1 ? 200 : 256);
        add(r.slot[3], kind == 1 ? 3 : 2, 0, 128);
        add(r.slot[0], kind, 3, 64);
        r.rotation = 0x42480000;  // 50.0f
    }
    spectra_record_seal(&r, s.data.data(), static_cast<u32>(s.data.size() * sizeof(i32)));
    return s;
}

// Stores a voice note with measurement `id` as the saved dialog does.
void add_note(u32 id)
{
    snd_reset();
    snd_default_length();
    snd_capture_to_wav(snd_wav, snd_samples);
    const u32 length = MEAS_NOTE_LENGTH;
    for (u32 i = 0; i < MEAS_NOTE_SAMPLES; ++i) {
        snd_wav[WAV_HEADER_SIZE + 2 * i] = static_cast<u8>(id);
        snd_wav[WAV_HEADER_SIZE + 2 * i + 1] = static_cast<u8>(id >> 8);
    }
    MeasHeader hd;
    FileHandle h;
    if (meas_read_header(id, &hd) != MEAS_OK || fs_open(&h, id, FS_READ | FS_WRITE | FS_GROW) != FS_OK) return;
    const u32 at = MEAS_HEADER_SIZE + hd.section_length[0] + hd.section_length[1] + hd.section_length[2];
    if (fs_write(&h, snd_wav, at, length) != length) return;
    hd.note_offset = at;
    hd.note_length = length;
    meas_write_header(&h, &hd);
    fs_close(&h);
}

u32 save_spectra(u32 kind, bool old)
{
    const Spectra s = spectra(kind, old);
    return meas_save(kind, 0, &s.record, sizeof s.record, s.data.data(), static_cast<u32>(s.data.size() * 4), nullptr,
                     0, true);
}

u32 save_table(u32 kind, float v)
{
    const RmsTableRecord r = table_record(v);
    return meas_save(kind, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
}

std::vector<u8> file_contents(u32 id)
{
    FileHandle h;
    MeasHeader hd;
    if (fs_open(&h, id, FS_READ) != FS_OK || meas_read_header(id, &hd) != MEAS_OK) return {};
    u32 end = MEAS_HEADER_SIZE + hd.section_length[0] + hd.section_length[1] + hd.section_length[2];
    if (hd.note_offset) end = hd.note_offset + hd.note_length;
    std::vector<u8> v(end);
    v.resize(fs_read(&h, v.data(), 0, end));
    return v;
}

void flash_seeds()
{
    // An empty chip.
    seed("flash_mount", "erased", {});
    // The first start: one object.
    flash_sandbox_begin();
    flash_mount();
    obj_after_mount();
    const std::vector<u8> first = image_patches();
    seed("flash_mount", "first_start", first);

    // Two objects with measurements of every kind, a voice note, a route, a
    // deleted file, a file left open (its end still a body page), body pages
    // whose head died, and a block with a bad marker.
    flash_sandbox_begin();
    flash_mount();
    const u32 b = obj_create("Вентилятор"_cp);
    const u32 a = obj_create("Агрегат 1"_cp);
    obj_select(a);
    const u32 vib = save_table(MEAS_KIND_VIBROMETER, 4.5f);
    save_spectra(MEAS_KIND_SPECTRUM, false);
    const u32 gone = save_spectra(MEAS_KIND_SIGNAL, false);
    obj_select(b);
    save_table(MEAS_KIND_RMS_TABLE, 2.0f);
    save_spectra(MEAS_KIND_SIGNAL, true);
    add_note(vib);
    dir_delete(dir_find_id(gone));
    FileHandle h;
    u32 stamp = 850001000;
    fs_create(&h, FILE_TYPE_ROUTE, 0, 0, 5000, &stamp);
    std::vector<u8> route(5000, 0x21);
    fs_write(&h, route.data(), 0, 5000);
    fs_close(&h);
    fs_create(&h, FILE_TYPE_VIBROMETER, b, 4, 3 * 2048, &stamp);  // never closed
    fs_create(&h, FILE_TYPE_SIGNAL, a, 0, 3 * 2048, &stamp);
    const u8 dead = PAGE_DELETED;
    nand_program(h.first, &dead, nand_info.status_column, 1);  // its bodies no head reaches
    const std::vector<u8> archive = image_patches();
    seed("flash_mount", "archive", archive);
    seed("fs_chains", "archive_no_operations", [&] {
        std::vector<u8> v{0};
        v.insert(v.end(), archive.begin(), archive.end());
        return v;
    }());
    // Operations on it: read, create, grow, delete, rename, rebuild, the next
    // start, names, select (see fs_chains.cpp).
    const std::vector<u8> ops = {0, 0, 1, 40, 9, 2, 0, 30, 0,    1,   3,  2, 4, 7,  5, 1, 66, 6, 0,
                                 7, 0, 8, 3,  9, 1, 0, 5,  0x81, 200, 77, 2, 1, 90, 3, 5, 7,  0};
    std::vector<u8> with_ops{static_cast<u8>(ops.size())};
    with_ops.insert(with_ops.end(), ops.begin(), ops.end());
    with_ops.insert(with_ops.end(), archive.begin(), archive.end());
    seed("fs_chains", "archive_operations", with_ops);
    std::vector<u8> empty_ops{static_cast<u8>(ops.size())};
    empty_ops.insert(empty_ops.end(), ops.begin(), ops.end());
    seed("fs_chains", "erased_operations", empty_ops);

    // The same archive with a bad marker among its files.
    std::vector<u8> bad = archive;
    put16(bad, 70 - 64);
    put16(bad, 2048);
    put16(bad, 1);
    bad.push_back(0);
    seed("flash_mount", "archive_bad_block", bad);
}

void measurement_seeds()
{
    flash_sandbox_begin();
    flash_mount();
    obj_after_mount();
    struct Kind {
        const char* name;
        u32 kind;
        u32 id;
    };
    const u32 vib = save_table(MEAS_KIND_VIBROMETER, 12.345f);
    add_note(vib);
    const Kind kinds[] = {
        {"vibrometer_with_note", MEAS_KIND_VIBROMETER, vib},
        {"rms_table", MEAS_KIND_RMS_TABLE, save_table(MEAS_KIND_RMS_TABLE, 1.25f)},
        {"spectrum", MEAS_KIND_SPECTRUM, save_spectra(MEAS_KIND_SPECTRUM, false)},
        {"signal", MEAS_KIND_SIGNAL, save_spectra(MEAS_KIND_SIGNAL, false)},
        {"spectrum_old_format", MEAS_KIND_SPECTRUM, save_spectra(MEAS_KIND_SPECTRUM, true)},
    };
    for (const Kind& k : kinds) {
        for (const u8 flags : {0, 7}) {
            std::vector<u8> v{flags, static_cast<u8>(k.kind)};
            const std::vector<u8> file = file_contents(k.id);
            if (file.empty()) fuzz_fail(k.name, __FILE__, __LINE__);
            v.insert(v.end(), file.begin(), file.end());
            seed("meas_records", (std::string(k.name) + (flags ? "_view" : "")).c_str(), v);
        }
    }
}

// The demonstration route's file, as stored and with its points measured
// (the links chosen by the target's flag 2), and one ignored group.
void route_seeds()
{
    flash_sandbox_begin();
    flash_mount();
    obj_after_mount();
    archive_state = ARCHIVE_MOUNTED;  // the route code waits for the archive
    const u32 file = route_make_test();
    FileHandle h;
    if (file == 0 || fs_open(&h, file, FS_READ) != FS_OK) fuzz_fail("route_make_test", __FILE__, __LINE__);
    std::vector<u8> bytes(ROUTE_HEADER_SIZE + ROUTE_TEST_ITEMS * ROUTE_ITEM_SIZE);
    bytes.resize(fs_read(&h, bytes.data(), 0, static_cast<u32>(bytes.size())));
    std::vector<u8> v{0};
    v.insert(v.end(), bytes.begin(), bytes.end());
    seed("route_tree", "demo", v);
    // The items as stored, changed and put back (the input is not aligned).
    std::vector<RouteItem> items(ROUTE_TEST_ITEMS);
    u8* stored = v.data() + 1 + ROUTE_HEADER_SIZE;
    std::memcpy(items.data(), stored, items.size() * sizeof(RouteItem));
    v[0] = 2;
    for (u32 i = 0; i < ROUTE_TEST_ITEMS; ++i) {
        if (items[i].point_type == 0) continue;
        items[i].state = ROUTE_STATE_MEASURED;
        items[i].measurement = static_cast<i32>(i);
    }
    std::memcpy(stored, items.data(), items.size() * sizeof(RouteItem));
    seed("route_tree", "demo_measured", v);
    items[1].state |= ROUTE_STATE_IGNORED_BIT;
    std::memcpy(stored, items.data(), items.size() * sizeof(RouteItem));
    seed("route_tree", "demo_group_ignored", v);
}

void parameter_seeds()
{
    seed("settings", "missing_file", {});
    std::vector<u8> fram(FRAM_SIZE, 0xFF);
    settings_defaults();
    checksum_store(&settings, SETTINGS_SIZE, offsetof(SettingsBlock, checksum));
    std::memcpy(fram.data() + SETTINGS_OFFSET, &settings, SETTINGS_SIZE);
    std::vector<u8> v{0};
    v.insert(v.end(), fram.begin(), fram.end());
    seed("settings", "defaults", v);
    // Values out of range with a good checksum (sealed by the flags byte).
    SettingsBlock odd = settings;
    odd.volume = 55;
    odd.sensor = 9;
    odd.last_main_item = 3;
    odd.plot_cursor_freq = -1.0f;
    std::memset(odd.bearing_name, 'Z', sizeof odd.bearing_name);
    std::memcpy(fram.data() + SETTINGS_OFFSET, &odd, SETTINGS_SIZE);
    v.assign(1, 1);
    v.insert(v.end(), fram.begin(), fram.begin() + 400);  // a short file too
    seed("settings", "out_of_range_short", v);

    std::vector<u8> table(BEARING_USER_SIZE, 0);
    auto put = [&table](u32 i, const char* name, float ftf) {
        BearingRecord r;
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.name, name, sizeof r.name);
        r.bore = 25;
        r.outer = 52;
        r.element_diameter = 7.9f;
        r.elements = 9;
        r.ftf = ftf;
        r.bpfo = 3.6f;
        r.bpfi = 5.4f;
        r.bsf = 2.4f;
        std::memcpy(table.data() + i * sizeof r, &r, sizeof r);
    };
    put(0, "6205", 0.4f);                         // a name of the built-in catalogue
    put(1, "МОЙ-1", 0.38f);                       // a new one
    put(2, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0.41f);  // longer than the field
    put(3, "6205", 0.39f);                        // the same name again
    checksum_store(table.data(), BEARING_USER_SIZE, BEARING_USER_CHECKSUM);
    v.assign(1, 0);
    v.insert(v.end(), table.begin(), table.end());
    seed("bearing_table", "four_records", v);
    seed("bearing_table", "erased", std::vector<u8>(1 + BEARING_USER_SIZE, 0xFF));
}

void picture_seeds()
{
    const struct {
        const char* name;
        int index;
        u16 x, y;
        u8 mode;
    } pictures[] = {
        {"warning_icon_mode3", IMG_ICON_WARNING, 10, 20, 3}, {"field_mark_mode2", IMG_FIELD_MARK_FOCUS, 300, 230, 2},
        {"check_box_mode1", IMG_CHECK_EMPTY, 100, 100, 1},   {"battery_mode0", IMG_BATTERY_0, 0, 0, 0},
        {"softkey_mode5", IMG_SOFTKEY_PLAIN, 290, 225, 5},
    };
    for (const auto& p : pictures) {
        std::vector<u8> v;
        put16(v, p.x);
        put16(v, p.y);
        v.push_back(p.mode);
        const u8* packed = image_packed[p.index];
        v.insert(v.end(), packed, packed + image_packed_size[p.index]);
        seed("image_unpack", p.name, v);
    }
    // A stream cut short.
    std::vector<u8> cut;
    put16(cut, 5);
    put16(cut, 5);
    cut.push_back(4);
    cut.insert(cut.end(), image_packed[IMG_ICON_WARNING], image_packed[IMG_ICON_WARNING] + 40);
    seed("image_unpack", "cut_stream", cut);
}

void script_seeds()
{
    auto text = [](const char* name, const char* s) {
        seed("runner_steps", name, std::vector<u8>(s, s + std::strlen(s)));
    };
    text("readme_vibrometer",
         "wait 1500; enter; wait 300; enter; wait 3000; shot live.png; shift+enter; wait 500; shot saved.png");
    text("script_with_comments",
         "# the spectra screen\nwait 1500\nright ; enter # open it\nwait 300\nup\nhold\nleft\nrelease\n"
         "SHIFT+DOWN; mod; esc\noff\nshot after.bmp\n");
    text("bad_wait", "wait 12x");
    text("unknown_step", "enter\n\nfly");
    text("recordings", "record a.apng; enter; wait 500\nstop-record\nRECORD  B.PNG\nshot c.bmp; stop-record");
    text("recording_twice", "record a.png\nrecord b.png");
}

// Recordings for the file source: the choice bytes (see signal_files.cpp)
// and a file, CSV tables and sound files in a few formats, written by
// libsndfile.
void signal_seeds()
{
    auto with_choices = [](u8 choice, u8 rate, const std::vector<u8>& file) {
        std::vector<u8> v{choice, rate};
        v.insert(v.end(), file.begin(), file.end());
        return v;
    };
    auto text = [&](const char* name, u8 choice, u8 rate, const char* s) {
        seed("signal_files", name, with_choices(choice | 1, rate, std::vector<u8>(s, s + std::strlen(s))));
    };
    text("csv_one_column_1000hz", 0x40, 2, "0\n0.5\n1\n0.5\n0\n-0.5\n-1\n-0.5\n");
    text("csv_time_and_three_channels", 0x52, 0,
         "time;accel;shock;temp\n0;1;0.1;35\n0.001;-1;0.2;35.5\n0.002;1;-0.1;36\n0.003;-1;0;36\n");
    text("csv_blanks_mm_s_streamed", 0x6C, 4, "1 2\n-2e-1   3\n\n4.5 -6\n");
    text("csv_bad_line", 0x00, 2, "1\n2\nx\n");

    const struct {
        const char* name;
        int format;
        int channels;
        int rate;
        u8 choice;
    } sounds[] = {
        {"wav_pcm16_mono_8khz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 0x40},
        {"wav_float_three_channels_g", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3, 25600, 0x52},
        {"wav_pcm24_stereo_streamed", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 1000, 0x68},
        {"au_double_mono", SF_FORMAT_AU | SF_FORMAT_DOUBLE, 1, 2560, 0x30},
    };
    const std::string path = fuzz_folder() + "/seed.sound";
    for (const auto& s : sounds) {
        SF_INFO info{};
        info.samplerate = s.rate;
        info.channels = s.channels;
        info.format = s.format;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) fuzz_fail(s.name, __FILE__, __LINE__);
        constexpr int FRAMES = 200;
        std::vector<float> samples(FRAMES * s.channels);
        for (int i = 0; i < FRAMES; ++i)
            for (int c = 0; c < s.channels; ++c)
                samples[i * s.channels + c] = static_cast<float>(0.5 * std::sin(0.3 * i * (c + 1)) + (c == 2 ? 40 : 0));
        sf_writef_float(f, samples.data(), FRAMES);
        sf_close(f);
        seed("signal_files", s.name, with_choices(s.choice, 0, fuzz_read_file(path)));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    g_out = argc > 1 ? argv[1] : std::string(TARVIK2_FUZZ_DATA) + "/corpus";
    fuzz_quiet_instrument();
    flash_seeds();
    measurement_seeds();
    route_seeds();
    parameter_seeds();
    picture_seeds();
    script_seeds();
    signal_seeds();
    return 0;
}
