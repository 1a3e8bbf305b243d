// First of a loop of three.
#include "looping/ring_b.h"
