#include "package/package.h"

// Not built yet: nothing extracted is a failure.
bool ExtractPayload() { return false; }
