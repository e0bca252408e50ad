#include "package/package.h"

bool WriteUninstaller() { return false; }
