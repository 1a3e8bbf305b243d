#include "../outside.h"
int inner_value() { return 1; }
