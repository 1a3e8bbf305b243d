#include "screens/meas_setup.h"

// Until the setup screen is built, nothing is changed.
int meas_setup_screen()
{
    return MEAS_SETUP_UNCHANGED;
}
