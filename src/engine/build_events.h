#pragma once
// The build proper: turning the selected events of a project into placed
// layers. One call gathers the candidate pools once, removes the layers it
// will replace, re-syncs every Clip and Bed event, plans each selected event
// (keywords, group, pool, pinned files, band profile, layer count) and hands
// it to its kind's builder, then finishes all layers.
#include <array>
#include <cstdint>
#include <vector>

#include "engine/build_random.h"
#include "engine/build_routines.h"
#include "engine/candidate_pool.h"
#include "engine/keyword_query.h"
#include "project/project.h"

namespace korvel {

struct Palette;

// What one BuildEvents call shares across its events.
struct BuildContext {
    BuildContext(Project& buildProject, const std::vector<Palette>& libraryPalettes)
        : project(buildProject), palettes(libraryPalettes) {}

    Project& project;
    const std::vector<Palette>& palettes;
    BuildRandom random;  // seeded once per call
    std::array<CandidatePool, kTrackGroupCount> groupPools;
    CandidatePool anyGroupPool;
    // Sounds already placed: seeded from the project's layers, grown by
    // every sound this call draws, so early events steer later ones.
    std::vector<UsedSound> usedInBuild;
    bool rangeActive = false;
    float rangeStart = -1.0f;
    float rangeEnd = -1.0f;
};

// The planning of one selected event, handed to its kind's builder.
struct EventPlan {
    std::int32_t eventIndex = -1;
    float eventStart = 0.0f;  // time - syncOffset: where the curves begin
    std::vector<KeywordTerm> terms;
    std::int32_t group = 0;
    std::int32_t layerCap = 8;
    CandidatePool pool;
    BandWeights bandProfile = {};  // grown as layers are chosen
    float peakIntensity = 0.0f;
    std::int32_t plannedLayers = 0;
    std::int32_t pinnedLayers = 0;
};

// Build thread (background job, or the recipe preview with its own
// project). Reads `palettes` without a lock: the UI merges no scan while a
// job runs. eventIndex -1 builds every unlocked event the range selects
// (a range is active when rangeStart >= 0 and rangeEnd > rangeStart).
void BuildEvents(Project& project, const std::vector<Palette>& palettes, std::int32_t eventIndex,
                 float rangeStart, float rangeEnd, bool keepExisting, bool keepCaches);

// Plans one event (everything but the pinned files). Exposed for tests and
// for the re-roll of one layer.
EventPlan PlanEvent(const BuildContext& build, std::int32_t eventIndex);

// Where the sync point sits on the event's curves: syncOffset / duration
// limited to 0..1, or 0.5 for an event without length.
float SyncFraction(const Event& event);

// Sorts the candidates best first and picks one, weighted by score: one
// draw when there are two or more and their scores sum above 0, else the
// best without a draw. Returns an index into the sorted list; the list
// must not be empty.
std::size_t DrawWeighted(std::vector<ScoredCandidate>& candidates, BuildRandom& random);

// Appends a finished layer of the event being built.
void AppendEventLayer(BuildContext& build, LayerResult&& layer);

}  // namespace korvel
