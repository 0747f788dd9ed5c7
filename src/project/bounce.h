#pragma once
// Bouncing the selected events into one stereo file played by a locked Clip
// that keeps the replaced events, and reverting such a Clip to its events.
// UI thread; neither runs while a background job or an export runs.
#include <cstdint>
#include <set>
#include <string>

namespace korvel {

struct PlaybackEngine;

// Bounces the selection of GlobalAppState; true when it did. Every failure
// leaves the project as it was, with no undo step and no file written.
bool BounceSelectionToClip();

// The track group the Clip of a bounce of `events` plays in: the group
// their voices share when that is 2, else 1 (a Clip's layer has no group 0).
std::int32_t BounceClipGroup(const PlaybackEngine& engine, const std::set<std::int32_t>& events);

// Mixes the voices of `events` (not muted, with frames) into a limited
// stereo file `folder`/`name`.wav from the first voice (not before 0) to the
// last one's end (not past `projectEnd`), each voice at its group fader
// relative to `clipGroup`'s, which the Clip plays under: voices of that
// group at unity. The written path, with `startSeconds` and
// `lengthSeconds`; empty on failure (no voice, an empty range, more than an
// hour, a failed write).
std::string RenderBounce(const PlaybackEngine& engine, const std::set<std::int32_t>& events, const std::string& folder,
                         const std::string& name, float projectEnd, std::int32_t clipGroup, float& startSeconds,
                         float& lengthSeconds);

// `name`, or "name 2" ... "name 9999", whichever has no file in `folder` yet;
// empty when every candidate exists (a bounce must never overwrite a file a
// Clip or the undo history may still play).
std::string UniqueBouncePath(const std::string& folder, const std::string& name);

// The file name proposed for a bounce: forbidden characters removed, then
// trailing blanks; "Bounce" when nothing is left.
std::string BounceFileName(const std::string& automaticName);

// Puts back the events Clip `eventIndex` holds, at the Clip's position;
// true when it did.
bool RevertBounce(std::int32_t eventIndex);

}  // namespace korvel
