#pragma once
// What the trace tab decides and does, apart from drawing: which
// suggestions count at the threshold, the tab's state, the source filter,
// the project's temporary lengthening for suggestions past its end, the
// recipe choice, the marker import and the import of suggestions and
// markers as events. UI thread; no UI library calls, so all of it is
// tested headless.
//
// [SECTION] Counting and the suggestion list
// [SECTION] Tab state and sources
// [SECTION] Import extent
// [SECTION] Recipe choice and marker import
// [SECTION] Importing events
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

struct AppState;
struct EventPreset;
struct Project;
struct TraceAnalysis;
struct TraceDetection;

// [SECTION] Counting and the suggestion list

// The intensity a suggestion needs: max(0.15, 0.85 × (1 − detail)²).
float TraceCountThreshold(float opticalDetail);
// The `opticalDetail` whose threshold is the level v (0..1, the threshold
// line's height); levels below 0.15 read as 0.15.
float OpticalDetailForLevel(float level);
// Shots never count; later peel layers need more intensity.
bool DetectionCounts(const TraceDetection& detection, float threshold);

// One entry of the review: a counting suggestion (source 0) or an imported
// marker (source 1), with its timeline-independent time.
struct TraceSuggestion {
    std::int32_t source = 0;
    std::int32_t index = 0;
    float time = 0.0f;
};
// The suggestions the source filter shows, sorted by time: counting
// detections of a finished read and every imported marker.
std::vector<TraceSuggestion> BuildSuggestionList(const AppState& state);
// The entries whose detection is accepted or whose marker is enabled.
std::int32_t CountImportable(const AppState& state, const std::vector<TraceSuggestion>& suggestions);
// Counting detections of a finished read, whatever the filter.
std::int32_t CountCountingDetections(const AppState& state);

// [SECTION] Tab state and sources

enum class TraceTabState : std::int32_t {
    Intro = 0,         // nothing read, nothing imported
    Reading = 1,       // a read runs and nothing is there yet
    NothingFound = 2,  // a finished read with nothing counting, no markers
    Review = 3,
};
TraceTabState DecideTraceTabState(const AppState& state);

// Whether a finished read or imported markers are there.
bool TraceSourcesPresent(const AppState& state);

// A click on a source pill: between two sources it shows a hidden one and
// hides a shown one only while the other shows. Returns true when the click
// asks for what is missing instead (the video dialog for the picture pill
// without a read or a video, the marker import for the markers pill without
// markers).
bool ClickPicturePill(AppState& state, bool videoLoaded);
bool ClickMarkersPill(AppState& state);

// The pills' close buttons. Clearing the picture stops a running read and
// clears its result and the selections of suggestions; clearing the
// markers forgets them and their scenes and gives back the view.
void ClearPictureSource(AppState& state);
void ClearMarkerSource(AppState& state, Project& project);

// [SECTION] Import extent

// Lengthens the project (and shows it whole) when a suggestion or marker
// ends past it, saving the view and duration the first time.
void ExtendProjectForImport(AppState& state, Project& project);
// Puts a saved view and duration back.
void RestoreViewAfterImport(AppState& state, Project& project);

// The per-frame steps before the tab draws: the hover reset, the automatic
// read of a loaded video, joining a finished read's thread, lengthening or
// restoring the project as sources come and go, and serving the timeline
// menu's import request. Changes to the project wait for the edit guard.
void TraceTabFrameSteps(AppState& state, Project& project);

// [SECTION] Recipe choice and marker import

// The chosen recipe (an index into RecipeList, -1 none). UI thread only.
extern std::int32_t traceRecipeIndex;
// The chosen recipe, or null when none is chosen or the list no longer
// holds it.
const EventPreset* ChosenTraceRecipe();
// Whether sources were present on the previous frame. UI thread only.
extern bool traceSourcesShown;

// Picks RecipeList entry `index` (anything else: none) and gives its weight
// centre to the counting, accepted suggestions and the enabled markers.
void ChooseTraceRecipe(AppState& state, std::int32_t index);

// Reads the session text at `path` into the imported markers and scenes;
// when it held markers, shows both sources and lengthens the project.
void ImportTraceMarkers(AppState& state, Project& project, const std::string& path);
// The same from the open-file dialog; a cancelled dialog changes nothing.
void ImportTraceMarkersWithDialog(AppState& state, Project& project);

// [SECTION] Importing events

// `composite` sampled at `count` points over [a, b] on the video's axis,
// frame by frame without interpolation; all 1 with fewer than two frames.
void SampleTraceCurve(const TraceAnalysis& analysis, float a, float b, float* out, int count);

// The folder names of an import.
std::string NextPictureFolderName(const Project& project);
std::string MarkerFolderName(const std::string& markerSourcePath);

// The import button: every counting, accepted suggestion and every enabled
// marker the filter shows, within the work area when there is one, then the
// scenes. Returns the number of events made. Marks the project changed; no
// undo step. Does nothing (0) while the edit guard is closed.
std::int32_t ImportTraceSuggestions(AppState& state, Project& project);
// The timeline menu's import: the accepted suggestions and the markers the
// menu chose, with no threshold and no range.
std::int32_t ImportTraceMenuTargets(AppState& state, Project& project);

}  // namespace korvel
