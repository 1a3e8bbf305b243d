// Uses the store and is used by nothing: on no loop.
#include "looping/store.h"
