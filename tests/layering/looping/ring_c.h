#include "looping/ring_a.h"
