#pragma once
// The project path given on the command line.
#include <string>

namespace korvel {

// The first argument after the program that does not begin with '-' and
// whose last seven characters are ".kvproj" in either letter case; empty
// when there is none. Only '-' marks an option here: a leading '/' starts
// an absolute path.
std::string GetCommandLineProjectPath(int argc, const char* const* argv);

}  // namespace korvel
