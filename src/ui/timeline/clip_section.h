#pragma once
// What the inspector draws for a Clip event: its file line, the file's
// facts and description, the replace button and the sync-offset timecode
// field of the bottom row. A Clip is always locked against building, so
// its edits place or move its one layer at once. The edits are apart from
// their widgets so that each rule holds whatever draws it. UI thread only.
#include <cstdint>
#include <string>
#include <string_view>

#include "library/file_facts.h"

namespace korvel {

struct AppState;
struct InspectorMetrics;
struct Library;
struct PlaybackEngine;
struct Project;

// [SECTION] File facts

// The facts of `path`: from the first analysed library record of that path,
// else from a cache filled once per path from the file itself (an
// unreadable file keeps its invalid entry).
SoundFileFacts ClipFileFacts(const Library& library, const std::string& path);

// "1:02:03", "1:05.4" or "2.50s".
std::string FactsDurationText(float seconds);
// "48k", "22.1k" or "800".
std::string FactsRateText(float rate);
// "mono", "stereo", "quad", "5.1", "7.1" or "%dch"; "mono" below 3.
std::string FactsChannelsText(std::int32_t channels);
// "duration  rate  channels  N-bit".
std::string FactsLine(const SoundFileFacts& facts);

// [SECTION] Edits

enum class ClipReplaceResult { Replaced, Cancelled, PathTooLong, Busy, NotAClip };

// Points Clip `index` at the file `path` (undo snapshot), places it again
// and renders it; an empty path is a cancelled dialog. A path longer than
// the event holds is refused with a status message, and so is any edit
// while a job or an export reads the layers.
ClipReplaceResult ReplaceClipFile(AppState& state, Project& project, std::int32_t index, const std::string& path);
// The replace button: asks the open-file hook for one "wav" file, then
// ReplaceClipFile. Nothing without the hook.
ClipReplaceResult ReplaceClipFromDialog(AppState& state, Project& project, std::int32_t index);

// Sets the sync offset of event `index` to `offset` held within
// [0, duration]; the event's layers and live voices move the other way, so
// the sound plays earlier when the offset grows. Marks the project changed;
// takes no undo snapshot. False when nothing changed, and with the busy
// status while a job or an export reads the layers.
bool SetClipSyncOffset(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index,
                       float offset);

// The frame-by-frame drag: two pixels of upward movement (`dy` < 0) make a
// frame. Returns the whole frames taken out of `accumulator`.
std::int32_t TakeOffsetDragFrames(float& accumulator, float dy);

// A typed timecode: commits it when it reads as timecode at `fps` (false
// with nothing changed otherwise).
bool CommitTypedClipOffset(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index, float fps,
                           std::string_view text);

// [SECTION] Drawing

// The file line, facts line and description from the first row under the
// header (`firstRowY`) down; the cursor ends under the last one drawn.
void DrawClipRows(AppState& state, const Project& project, std::int32_t index, const InspectorMetrics& m,
                  float firstRowY, float frameHeight);
// The right column's replace button at (x, y).
void DrawClipReplaceButton(AppState& state, Project& project, std::int32_t index, float x, float y,
                           float frameHeight);
// The gain drag's width in the Clip's bottom row of `rowWidth` (ew - g).
float ClipGainWidth(float rowWidth, float gap);
// "Offset" and the timecode field "##evoffTC" on the gain's line, the field
// reaching to `right` (x in the child).
void DrawClipOffsetField(AppState& state, Project& project, std::int32_t index, float gap, float right);

// Whether the offset field is being typed in (tests and the frame's busy
// rule read it).
bool ClipOffsetTyping();

}  // namespace korvel
