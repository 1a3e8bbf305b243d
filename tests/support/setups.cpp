#include "tests/support/setups.h"

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "host/device.h"
#include "host/settings.h"

void use_setup(SetupRate s)
{
    SettingsBlock& set = settings;
    switch (s) {
    case SetupRate::Hz1024:
        set.meas_mode = 3;
        set.signal_step_idx = 3;
        set.signal_samples_idx = 1;
        break;
    case SetupRate::Hz2560: set.meas_mode = 1; break;
    case SetupRate::Hz10240:
        set.meas_mode = 2;
        set.spectrum_fmax_idx = 3;
        set.spectrum_lines_idx = 2;
        break;
    }
    set.meas_params_changed = 1;
}

void measuring_fresh(SetupRate s, u32 seed)
{
    settings_defaults();
    settings.sensor = 1;
    meas_calibration_defaults();
    meas_init();
    results_reset();
    rand_seed(seed);
    use_setup(s);
}
