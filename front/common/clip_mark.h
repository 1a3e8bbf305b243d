// The overload mark of the window and the web page: how much of the last
// record of a recorded signal sat at the converter's range.
#pragma once

// The share of the last record's samples that clipped, in percent, as the
// mark shows it (never below 0.1 for a record that clipped, so never
// "0.0 %"); below 0 while the last record did not clip or no recording is
// measured.
double clip_percent_shown();
