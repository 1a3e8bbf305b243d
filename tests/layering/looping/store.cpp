#include "looping/record.h"
