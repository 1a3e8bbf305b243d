// Calls the store, which calls back: a loop of two.
#include "looping/store.h"
