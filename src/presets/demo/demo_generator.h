#pragma once
// The demo content the build makes for itself: a small library of sound
// effects synthesised here, a few recipes and chains that find them by
// keyword, and one project that uses them, written as the program writes its
// own files. The result is the "DemoContent" folder beside the executable
// that InstallDemoContent copies into a designer's documents folder.
//
// The same call always writes the same bytes, in this process or another:
// every sound comes from a fixed seed, and the project names its sounds by
// relative path only.
#include <string>

namespace korvel {

// The folders InstallDemoContent reads, and what goes into them.
inline constexpr const char* kDemoEffectsLibrary = "Demo Effects";
inline constexpr const char* kDemoAmbiencesLibrary = "Demo Ambiences";
inline constexpr const char* kDemoProjectName = "Rainy Street";

// Left in the generated folder (beside, not inside, the four copied
// sub-folders): only a folder holding it is ever replaced by a new run.
inline constexpr const char* kDemoGeneratedMarker = ".korvel_demo";

// Writes the whole demo tree into `folder`: first into `folder` + ".partial",
// which then replaces `folder`, so a failed run leaves no half tree behind.
// Refuses (false) to replace a non-empty `folder` that an earlier run did not
// write. On failure `error` is one sentence saying what failed.
bool GenerateDemoContent(const std::string& folder, std::string& error);

}  // namespace korvel
