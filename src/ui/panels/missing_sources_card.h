#pragma once
// The missing-sources card at the top of the library tab's list: every
// source file the project uses but cannot find, with four ways of finding it
// again (everything the registry resolves by itself, one file, a folder, or
// a file of different content taken anyway), and the refresh that follows a
// relink. The actions are plain functions beside the drawing, so they are
// tested without a frame. UI thread only.
#include <cstdint>
#include <string>

namespace korvel {

struct MissingSource;

// What the card keeps between frames. UI thread only.
struct MissingSourcesCardState {
    // A file chosen for a missing source whose content or size differs from
    // the registered one, waiting for "Use anyway" or "Cancel"; empty when
    // nothing waits.
    std::string pendingForceRelinkId;
    std::string pendingForceRelinkPath;
    // A refresh made while the edit guard was closed leaves the project's
    // part for later: re-resolving the stored paths (the export thread reads
    // them) and rendering the voices again (a job or the export uses them).
    bool projectRefreshWaiting = false;
    bool renderWaiting = false;
};
extern MissingSourcesCardState MissingSourcesCard;

inline constexpr float kRelinkStatusSeconds = 4.0f;

// The file type "Locate..." offers for an entry: the extension of its name
// without the dot, or "wav" when the name has none.
std::string LocateFileExtension(const std::string& displayName);

// An entry's second line: "used by 1 event", with " · 2 palettes" when
// palettes hold the file.
std::string MissingSourceUseText(const MissingSource& entry);

// The card's actions. Each returns true when it ended in a refresh, after
// which the list may have changed under the caller.
bool RelinkAllMissingSources();
bool LocateMissingFile(const MissingSource& entry);
bool LocateMissingFolder();
bool UseAnywayForPendingFile();
void CancelPendingForceRelink();

// After a relink of `relinked` files: at once the list drops the entries
// that resolve now and the status line reports the outcome; the project's
// stored paths are re-resolved (marking the project changed when one moved),
// the list is rebuilt from them and, when a file was relinked, every voice is
// rendered again, either now or, while the edit guard is closed, once it
// opens.
void RefreshAfterRelink(std::int32_t relinked);

// Once per frame: runs a waiting project refresh when the guard is open.
void ServeWaitingRelinkRefresh();

// Draws the card at the cursor, `width` wide.
void DrawMissingSourcesCard(float width);

}  // namespace korvel
