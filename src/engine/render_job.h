#pragma once
// The entry into the build engine: the render requests the frame starts as
// the background job, the full-build driver, the post-build passes and the
// two smaller job bodies (render-cache rebuild, one event's voices).
#include <cstdint>
#include <vector>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct Project;

enum RenderMode : std::int32_t {
    kRenderBuild = 1,         // build the unlocked events (of the work area)
    kRenderRebuildAll = 2,    // the frame unlocks every event first
    kRenderRebuildEvent = 3,  // eventIndex
    kRenderEventList = 4,     // eventList, re-rendered incrementally
};

// What the frame hands to the build job; copied into the job's callable.
struct RenderRequest {
    std::int32_t mode = kRenderBuild;
    std::int32_t eventIndex = -1;
    std::vector<std::int32_t> eventList;
    float rangeStart = -1.0f;  // seconds; -1 when there is no range
    float rangeEnd = -1.0f;
    bool full = false;  // modes 1 and 2: the request goes to RenderAll
};

// The events whose layers a build replaces.
struct RebuildRange {
    const std::vector<Event>* events = nullptr;
    bool active = false;
    float start = -1.0f;
    float end = -1.0f;
};

// True when [time, time + duration) and [start, end) share a moment.
bool SpanOverlapsRange(float time, float duration, float start, float end);

// The layer belongs to an existing, unlocked event that the range (when
// active) overlaps.
bool IsResultInRebuildRange(const LayerResult& layer, const RebuildRange& range);

// [SECTION] Job bodies: all run on the background-job thread and end by
// setting the job's done flag.
void RenderJobEntry(const RenderRequest& request);
void RunRenderJob(const RenderRequest& request);
// The full build: every unlocked event in the range, voices rendered as it
// grows, cancellable between events.
void RenderAll(float rangeStart, float rangeEnd);
void RunRebuildCacheJob(bool keepPlaceholders);
void RunRenderEventJob(std::int32_t eventIndex);

// Silence protection (when the preference is on), deconfliction, density
// ducking, track allocation and the groups' lane counts, over the project.
void RunPostBuildPasses(Project& project);

}  // namespace korvel
