#pragma once
// Edits that create events from files: a bed at the playhead, an audio file
// placed at the playhead, and files added to a bed. The Project members that
// add, delete and rename events are declared in project.h.
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

struct Project;
struct Palette;

// Adds the non-empty paths to Bed `eventIndex`, skipping any whose path or
// (non-empty) identity is already listed; each weight is the brightness of
// the first library file with the same identity or path, else -1 (measured
// later). Lays the bed's layers out again when something was added. Returns
// the number added; 0 when the event is not a Bed. Pushes no undo step.
std::int32_t AddBedLayerFiles(Project& project, std::int32_t eventIndex, const std::vector<std::string>& paths,
                              const std::vector<Palette>* palettes);

// Menu commands on CurrentProject and GlobalAppState; each pushes its own
// undo step. UI thread only, while no background job runs.
void InsertBedAtPlayhead();

// The outcome of placing a chosen file as a Clip.
enum class PlaceFileResult { Placed, Cancelled, PathTooLong };

// Places a chosen file as a locked Clip at the playhead: a path longer than
// the event holds is refused with nothing changed.
PlaceFileResult PlaceAudioFileAt(const std::string& path);
// Asks the platform's open-file hook for one "wav" file, then places it; does
// nothing without the hook or when no file was chosen. A refused path is
// reported on the status line.
void PlaceAudioFileAtPlayhead();

}  // namespace korvel
