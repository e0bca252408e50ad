// norvale-pack: builds the setup file (stub + product folder -> package) and
// lists or verifies the package of a setup file.
#include <string>
#include <vector>

#include "tools/pack.h"

int main(int argc, char** argv) { return RunPackCommand(std::vector<std::string>(argv + 1, argv + argc)); }
