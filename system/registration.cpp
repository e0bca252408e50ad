#include "system/registration.h"

void WriteUninstallEntry() {}
void DeleteUninstallEntry() {}
