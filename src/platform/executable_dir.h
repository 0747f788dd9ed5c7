#pragma once
// Where the running program's files are.
#include <string>

namespace korvel {

// The folder of the running executable (no trailing '/'), read from the
// kernel's link to it whatever its length; empty when it cannot be read.
std::string GetExecutableDir();

}  // namespace korvel
