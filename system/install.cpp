#include "system/sequences.h"

// Not built yet: an install must never pretend to have succeeded.
bool RunInstall() { return false; }
