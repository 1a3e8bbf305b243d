#include "analysis/meas_settings_link.h"

namespace {
MeasSettingsView view = {1, 1, 2, 1, 2, 3, 2, 2};
}

MeasSettingsView& meas_settings()
{
    return view;
}

void meas_settings_defaults()
{
    view = MeasSettingsView{1, 1, 2, 1, 2, 3, 2, 2};
}
