#include "ring_c.h"
