#pragma once
// Everything about the running application that is not the project
// document: transport and view, selection, clipboard, preferences and export
// settings, the picture read, the background job, the update check, recent
// projects, auto-save, the project's path and the status line.
//
// [SECTION] Transport and timeline view
// [SECTION] Selection, fonts, timeline editing, clipboard, folders, panels
// [SECTION] Imported markers, settings and preferences, picture analysis
// [SECTION] Work area, shell, export, library tab, hooks, window
// [SECTION] Project file state, update check, video hand-over, identity
// [SECTION] Selection operations (selection.cpp)
//
// Members that only one panel keeps from frame to frame (drag, hover and
// rename state of the timeline, the events list and the trace tab) are added
// with those panels.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/background_job.h"
#include "app/platform_hooks.h"
#include "app/shell_state.h"
#include "library/missing_source.h"
#include "picture/markers.h"
#include "picture/trace_analysis.h"
#include "playback/export_thread.h"
#include "playback/playback_engine.h"
#include "project/copyable_atomic.h"
#include "project/event.h"
#include "project/export_settings.h"
#include "project/layer.h"

namespace korvel {

inline constexpr std::size_t kMaxRecentProjects = 10;

struct AppState {
    // [SECTION] Transport and timeline view
    float playhead = 0.0f;  // seconds
    bool playing = false;
    float viewStart = 0.0f;  // seconds
    float viewEnd = 30.0f;
    bool audioFocusActive = false;
    float audioFocusSavedStart = 0.0f;
    float audioFocusSavedEnd = 30.0f;
    std::set<std::int32_t> audioFocusEvents;
    bool audioFocusLatched = false;  // "audioFocusLatched"
    bool eventLaneExpanded = false;
    // The scene lane (scenes are the project's; these say how the lane
    // treats them). Scene indices here may be stale after edits elsewhere:
    // readers check them against the scenes.
    bool sceneDrawArmed = false;        // a press on empty lane space draws a scene
    char sceneKeywordTemplate[128] = {};  // keywords of the next scene made from the work area
    float sceneZoomSavedStart = -1.0f;  // view to return to from a zoomed scene; -1 none
    float sceneZoomSavedSpan = -1.0f;
    std::int32_t renamingScene = -1;    // the scene whose name is edited inline
    char sceneNameBuffer[64] = {};
    bool sceneNameFocus = false;         // the rename field takes focus once
    bool backgroundAfterRename = false;  // the background picker follows the rename
    std::int32_t sceneBackgroundRequest = -1;  // the scene whose background picker is open
    // Curve draw mode's view to return to, and the drawn event's extent.
    bool drawSavedViewValid = false;
    float drawSavedViewStart = 0.0f;  // seconds
    float drawSavedViewSpan = 30.0f;  // seconds
    std::int32_t drawSavedLaneView = 0;
    float drawRangeStart = 0.0f;  // seconds
    float drawRangeEnd = 0.0f;

    // [SECTION] Selection, fonts, timeline editing, clipboard, folders, panels
    std::int32_t selectedEvent = -1;  // primary, index into Project::events
    std::set<std::int32_t> selectedEvents;
    std::int32_t expandedEvent = -1;
    // The layer auditioned alone (-1 none) and the one soloed before it.
    std::int32_t soloLayer = -1;
    std::int32_t lastSoloLayer = -1;
    std::int32_t scrollToLayer = -1;  // the events list scrolls to this layer; -1 none
    // A Clip layer whose edge (1 left, 2 right) or fade (1 in, 2 out) the
    // timeline drags (-1 none), with the pointer x or the fade at the press.
    // Every job start drops both: the job reads the layers they rewrite.
    std::int32_t trimLayer = -1;
    std::int32_t trimEdge = 0;
    float trimStartX = 0.0f;
    std::int32_t fadeDragLayer = -1;
    std::int32_t fadeDragSide = 0;
    float fadeDragStartValue = 0.0f;

    FontTable fonts;
    std::int32_t fontSizePreset = 1;  // 0 Small, 1 Medium, 2 Large ("fontSizePreset")
    bool fontSizeAuto = true;         // "fontSizeAuto"
    // The automatic preset, chosen from the display's scale at start-up; it
    // replaces fontSizePreset at the end of loading while fontSizeAuto is set.
    std::int32_t activeFontPreset = 1;
    bool boldFonts = true;  // "boldFonts"

    bool curveDrawMode = false;
    bool scrollToSelection = false;  // the events list scrolls to the primary event next frame
    std::int32_t lastIntensityMode = 0;  // "lastIntensityMode"

    std::vector<Event> clipboardEvents;
    std::vector<std::int32_t> clipboardEventIndices;  // at the time of copying
    std::vector<LayerResult> clipboardLayers;         // pasting gives each a fresh id
    std::vector<Voice> clipboardVoices;               // copied under the voice lock
    float clipboardBaseTime = 0.0f;

    std::set<std::string> collapsedFolders;
    // The events list's folder being renamed, its text and a one-shot focus.
    std::string renamingFolder;
    char folderNameBuffer[64] = {};
    bool focusFolderRename = false;
    std::set<std::string> linkedGroups;  // saved in the project ("linkedGroups")
    // The events list: its scene rename (a copy of the name, carried to the
    // scene only while not empty), and the per-frame cache of
    // RefreshEventListCache with its three keys.
    bool sceneRenameActive = false;
    bool sceneRenameFocus = false;
    std::int32_t sceneRenameScene = -1;
    char sceneRenameBuffer[64] = {};
    std::vector<std::int32_t> eventListOrder;  // event indices by time
    std::vector<std::int32_t> eventClipCounts;
    std::vector<std::array<float, 5>> eventWeightSummary;
    std::vector<std::int32_t> eventWeightSummaryCount;  // valid values, 0..5
    std::int32_t listCacheEventCount = -1;
    std::int32_t listCacheResultCount = -1;
    std::int32_t listCacheRevision = -1;

    std::int32_t timelineView = 0;  // 0 "Tracks", 1 "Curves", 2 "Curves+"
    std::array<bool, kTrackGroupCount> groupVisible = {true, true, true};
    std::int32_t activeTab = 0;  // 0 events, 1 trace, 2 library, 3 mixer, 4 export, 5 settings

    // [SECTION] Imported markers, settings and preferences, picture analysis
    std::string markerSourcePath;
    std::vector<MarkerEvent> markerEvents;
    std::vector<MarkerScene> markerScenes;
    // The trace review: selected suggestions and imported markers (indices),
    // the marker last clicked on its stem (kind 0 suggestion, 1 marker), the
    // pair handed to the trace tab's import, and which sources show (-1
    // both, 0 suggestions, 1 markers).
    std::vector<std::int32_t> selectedDetections;
    std::vector<std::int32_t> selectedMarkers;
    std::int32_t activeTraceMarkerKind = -1;
    std::int32_t activeTraceMarkerIndex = -1;
    std::vector<std::int32_t> traceMenuDetections;
    std::vector<std::int32_t> traceMenuMarkers;
    bool traceImportRequested = false;
    std::int32_t traceSourceFilter = -1;
    bool traceMarkersImported = false;  // the trace tab reacts once to an import
    // The trace view's pointer state: the suggestion and marker under the
    // pointer this frame (-1 none; the trace tab clears both before the
    // timeline draws), the threshold drag, and the box with the selections
    // an additive box keeps.
    std::int32_t hoveredDetection = -1;
    std::int32_t hoveredMarker = -1;
    bool thresholdDragging = false;
    bool traceMarqueeActive = false;
    bool traceMarqueeAdditive = false;  // Shift was held when it began
    float traceMarqueeStartX = 0.0f;    // px
    float traceMarqueeEndX = 0.0f;
    std::vector<std::int32_t> traceMarqueeBaseDetections;
    std::vector<std::int32_t> traceMarqueeBaseMarkers;
    // The trace tab's recipe choice, copied from the recipe when picked.
    char traceRecipeKeywords[256] = {};
    float traceRecipeWeightCenter = 0.5f;
    bool traceRecipeNotSpot = false;
    char traceRecipeLibFilter[512] = {};
    std::int32_t traceRecipeGroupOverride = -1;
    // The view and duration before suggestions lengthened the project; -1
    // while nothing is saved.
    float savedViewStart = -1.0f;
    float savedViewSpan = -1.0f;
    float savedProjectDuration = -1.0f;

    std::int32_t projectSampleRate = 48000;  // "projectSampleRate"
    bool protectSilence = true;              // "protectSilence"
    bool destructiveEQ = false;              // "destructiveEQ"
    bool chainsImportAsGroup = true;         // "chainsImportAsGroup"
    // "channelOrderFallback". Atomic because the render job, the export and
    // the brightness probe read it while the settings tab may change it.
    CopyableAtomic<std::int32_t> channelOrderFallback{0};
    bool showSpectralHeatmap = false;        // "showSpectralHeatmap"
    bool colorByWeight = true;               // "colorByWeight"
    bool showAdvancedInspector = false;      // "showAdvancedInspector"
    ExportSettings exportSettings;           // the export choices, each under its own key
    std::int32_t exportWavLayout = 0;        // "exportWavLayout"
    std::int32_t exportWavLUFSIndex = 0;     // "exportWavLUFSIndex"
    std::int32_t exportSpatialMode = 0;      // "exportSpatialMode"
    float spatialAmount = 0.0f;              // "spatialAmount"

    // The analysis thread sets traceRunning from the start of a read until it
    // ends; it blocks a second read and every background job.
    std::atomic<bool> traceRunning{false};
    TraceAnalysis traceAnalysis;  // saved as "optical"
    TraceSettings traceSettings;
    float opticalDetail = 0.35f;  // "opticalDetail"

    // [SECTION] Work area, shell, export, library tab, hooks, window
    float workAreaIn = -1.0f;   // seconds; negative = not set ("workAreaIn")
    float workAreaOut = -1.0f;  // "workAreaOut"
    std::int32_t workAreaScene = -1;

    std::int32_t unsavedPromptState = 0;  // 1 while the unsaved-changes prompt shows
    bool quitAfterPrompt = false;
    bool CloseRequested = false;
    BackgroundJob backgroundJob;
    bool lockAfterBuild = false;  // lock every event when the job completes
    // An edit changed layers: the next frame re-renders the affected voices.
    std::atomic<bool> audioUpdateRequested{false};
    std::int32_t pendingRenderMode = 0;  // 4 = the events in pendingRenderEvents
    std::vector<std::int32_t> pendingRenderEvents;

    // Written by the export thread while it runs, read by the UI thread.
    std::atomic<bool> exportRunning{false};
    std::atomic<float> exportProgress{-1.0f};  // -1 unknown
    char exportStatus[128] = {};               // complete before exportDone is set
    ExportThread exportThread;
    std::atomic<bool> exportDone{false};
    std::function<void()> exportWork;
    double exportDoneTime = 0.0;  // UI clock when the frame first saw exportDone; 0 none
    std::function<void()> exportCompleteCallback;  // called once, 0.8 s after the export ended

    bool paletteRenameFocus = false;
    std::int32_t renamingPaletteIndex = -1;
    char paletteRenameBuffer[128] = {};
    std::set<std::int32_t> librarySelection;
    std::int32_t librarySelectionAnchor = -1;
    bool savePaletteMode = false;  // the library tab lists the project's sounds to save

    PlatformHooks platformHooks;

    bool aboutOpen = false;
    void* logoTexture = nullptr;  // null when the image is missing
    std::int32_t logoWidth = 0;
    std::int32_t logoHeight = 0;
    WindowChrome windowChrome;
    // One-slot command mailbox, taken by atomic exchange each frame.
    std::atomic<std::int32_t> PendingMenuCommand{0};
    std::string PendingOpenPath;
    std::string parkedOpenPath;  // waits for the unsaved-changes prompt
    bool openThroughDialog = false;  // the prompt holds back an open that shows the file dialog
    std::function<void()> quitCallback;

    // [SECTION] Project file state, update check, video hand-over, identity
    std::string pendingThumbnailPath;
    bool unsavedChanges = false;  // set by every undo push
    double autoSaveElapsed = 0.0;
    float autoSaveInterval = 300.0f;  // "autoSaveInterval", seconds
    std::int32_t maxBackups = 5;      // "maxBackups"
    bool autoSaveEnabled = true;      // "autoSaveEnabled"
    std::string lockFilePath;
    std::vector<std::string> recentProjects;  // newest first, at most kMaxRecentProjects
    bool PresetMenusDirty = true;
    bool recentMenuDirty = false;
    bool showLauncherOnStartup = true;  // "showLauncherOnStartup"
    bool launcherOpen = false;
    bool launcherDismissed = false;
    std::string executableFolder;

    bool updateCheckEnabled = true;  // "updateCheckEnabled"
    UpdateInfo updateInfo;
    std::atomic<bool> updateCheckRunning{false};  // taken by compare-and-exchange
    std::vector<MissingSource> MissingSources;    // sorted by name
    // Set by the update thread, exchanged with false by the main loop.
    std::atomic<bool> PrefsSaveRequested{false};
    std::string dismissedUpdateVersion;  // "dismissedUpdateVersion"

    bool videoChangePending = false;
    std::string pendingVideoPath;
    float pendingVideoStart = 0.0f;  // seconds on the timeline
    DropState dropState;
    std::int32_t pendingDeleteEvent = -1;
    std::int32_t pendingBedLayout = -1;  // event whose bed layers load next, -1 none

    std::string videoPath;  // "videoPath"
    std::string projectPath;  // empty for a project never saved
    std::string projectDescription;  // "projectDescription"
    std::string statusMessage;
    float statusTime = 0.0f;  // seconds the message stays

    // New and opened projects forget the imported markers and scenes, where
    // they came from and the review's selections; the analysis result itself
    // stays.
    void ResetTraceState();

    // Puts a project path at the front of recentProjects (once, at most
    // kMaxRecentProjects kept) and marks the Open Recent menu for
    // rebuilding; a path IsValidRecentProjectPath refuses is ignored.
    void AddRecentProject(const std::string& path);

    // [SECTION] Selection operations (selection.cpp)
    // Selects only event `index` (nothing for -1) and makes it primary; a
    // real event brings the events tab forward.
    void SelectEvent(std::int32_t index);
    // The selected indices that name one of `events`, ascending.
    std::vector<std::int32_t> ValidSelectedEvents(const std::vector<Event>& events) const;
    // As SelectEvent, then, unless `noExpand`, widens the selection to the
    // linked groups; when the clicked event is in one, the group's earliest
    // event on the timeline becomes primary (the clicked one on a tie).
    void SelectEventWithLinks(std::int32_t index, const std::vector<Event>& events, bool noExpand);
    // Shift-click: selects the events of `order` (the list's display order)
    // between the primary event and `index`. The primary event stays the anchor.
    void SelectEventRange(std::int32_t index, const std::vector<std::int32_t>& order);
    // Control-click: adds or removes one event; it becomes primary either way.
    void ToggleEventSelection(std::int32_t index);
    // Keeps the selection on the same events across the deletion of event
    // `deleted`: it leaves the selection and every later index moves down.
    void RemoveEventFromSelection(std::int32_t deleted);
    // Adds every event that shares a linked folder with a selected event.
    void ExpandSelectionToLinkedGroups(const std::vector<Event>& events);
    // Exact comparison; an empty name is never a linked group.
    bool IsLinkedGroup(std::string_view folder) const;
    // The library tab's palettes: only `index` (none for -1), which becomes
    // the anchor; and Shift-click, every palette of `order` (the display
    // order) from the anchor to `index`, the anchor kept. Without an anchor
    // in `order`, Shift-click selects as a plain click does.
    void SelectLibraryEntry(std::int32_t index);
    void ExtendLibrarySelection(std::int32_t index, const std::vector<std::int32_t>& order);

    // The events list's order (every call) and, when the event count, layer
    // count or revision changed, its clip counts and weight summaries: up to
    // five unmuted layer weights, or five quantiles of more (event_list_cache.cpp).
    void RefreshEventListCache(std::span<const Event> events, std::span<const LayerResult> results,
                               std::int32_t revision);

    // The time shown across the timeline's lanes (viewEnd - viewStart).
    float ViewSpan() const { return viewEnd - viewStart; }
    // Multiplies the view's span by `factor` (never below 0.5 s nor past the
    // project's `duration`, nor wider than 110 % of the range being drawn in
    // curve draw mode) keeping `anchor` (seconds) at its place on screen.
    void ZoomViewAbout(float factor, float anchor, float duration);

    // A work area exists only with both ends set and the start first.
    bool HasWorkArea() const { return workAreaIn >= 0.0f && workAreaOut >= 0.0f && workAreaIn < workAreaOut; }
};

// A path the recent-projects list may hold: not empty, with at least one
// slash or backslash, and no control character other than TAB.
bool IsValidRecentProjectPath(std::string_view path);

// The application state. Owned by the UI thread, which alone writes it,
// except: the background job's active, done, cancel, progress and event
// count (the job thread writes done and progress), traceRunning and the
// analysis's framesDone (analysis thread), the export's running, progress,
// status and done (export thread), updateCheckRunning, updateInfo and
// PrefsSaveRequested (update thread), PendingMenuCommand (exchanged each
// frame). Background jobs read the settings members while they run.
extern AppState GlobalAppState;

}  // namespace korvel
