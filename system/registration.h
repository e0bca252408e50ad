#pragma once

void WriteUninstallEntry();
void DeleteUninstallEntry();
