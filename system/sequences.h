// The install (and update) sequence and the uninstall sequence.
#pragma once

bool RunInstall();
bool RunUninstall();
