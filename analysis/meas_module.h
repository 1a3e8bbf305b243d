// The measuring module: synthesises the vibration, marker, shock-pulse and
// temperature data that the sensors would deliver, and runs the acquisition
// cycle as cooperative resumable tasks.
#pragma once
#include "analysis/frames.h"
#include "base/types.h"

enum : u32 {
    REQ_VIBRATION = 0x002,
    REQ_SHOCK = 0x004,
    REQ_TEMPERATURE = 0x008,
    REQ_PROCESS = 0x040,
    REQ_SHOCK_ANALYSIS = 0x080,
    REQ_MARKER = 0x100,
};

// Task results.
constexpr int TASK_WAITING = 0;
constexpr int TASK_ENDED = 3;

constexpr u32 MEAS_MAX_FRAMES = 16384;

struct MeasModuleState {
    u32 request;
    u32 done;
    VibFrame* frames;
    u32 n_samples;
    u32 n_frames;
    float dt;
    float fmax;
    u16* shock_buf;
    u32 shock_count;
    float shock_rate;
    float temperature;
    u8 running;
    u8 geometry_set;
    u8 shock_ready;
    u8 temp_ready;
    u16 cont_top, cont_vib, cont_shock, cont_temp, cont_proc, cont_step;
    i32 vib_produced, shock_produced, temp_produced;
    u32 stamp;
    u32 tick;
    u32 sensor_set_main, sensor_set_aux;
    u32 marker_level, marker_start, marker_end, marker_periods;
};

struct TestSignal {
    float freq_hz;
    float amplitude;
    float noise;
};
constexpr TestSignal DEFAULT_TEST_SIGNAL = {79.6f, 14.0f, 0.0f};

// Scale factors, physical unit per raw count.
struct MeasCalibration {
    CalibrationSet set[2];
    float marker_scale;
    u32 marker_zero;
    float shock_scale;
};

extern MeasModuleState meas_state;
extern TestSignal test_signal;
extern MeasCalibration meas_calibration;
// The factors of an instrument whose calibration block holds none.
extern const MeasCalibration MEAS_CALIBRATION_DEFAULT;

extern const u32 SAMPLES_TABLE[3];
extern const float FMAX_TABLE[4];
extern const float PERIOD_TABLE[4];

// Puts the default factors in use.
void meas_calibration_defaults();
// The module's state, test signal and calibration as at power-on.
void meas_reset();
void meas_init();
// With pacing on, each record takes the time its samples span (n * dt) on
// the host's clock, as on the instrument; off (the default), every cycle
// synthesises its record at once.
void meas_set_paced(bool on);
// The frames of the latest acquisition from frame `start` on.
FrameBlock meas_frames(u32 start);
void meas_start(u32 mask);
// Runs one pass of the cycle: 1 while it waits for more, 0 once it ended.
int meas_step();
// 1 when every requested part of the cycle is done, else 0.
int meas_all_done();
void meas_set_running(u8 on);
void meas_set_test_signal(float freq_hz, float amplitude);
void meas_clear_shock_ready();
void meas_prepare_sensor();
// Calibration set of the vibration channels (group 1) for the sensor
// setting: 0 for the external sensor, else 1.
u32 meas_main_set();
// Temperature of the latest acquisition, °C.
float meas_temperature();

// The tasks of one acquisition cycle, each with its continuation word;
// each returns TASK_ENDED when its part is done (or not asked for), else TASK_WAITING.
int meas_task_top(u16* cont);
int meas_task_vibration(u16* cont);
int meas_task_shock(u16* cont);
int meas_task_temperature(u16* cont);
int meas_task_process(u16* cont);

// Derives n, dt, fmax and the frame count from the settings.
void meas_derive_geometry();
// Searches the marker column of the first m frames for rising edges.
void meas_marker_search(u32 m);
