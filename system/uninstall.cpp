#include "system/sequences.h"

// Not built yet: an uninstall must never pretend to have succeeded.
bool RunUninstall() { return false; }
