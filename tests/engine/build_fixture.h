#pragma once
// Small records for build-engine tests: library files with chosen
// descriptors, events with flat curves, and a repeatable build seed.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/build_events.h"
#include "engine/build_random.h"
#include "library/library.h"
#include "project/event.h"
#include "project/project.h"

namespace korvel::test {

inline LibraryFile MakeFile(const std::string& name, float duration = 2.0f, const std::string& folder = "/lib") {
    LibraryFile file;
    file.name = name;
    file.path = folder + "/" + name + ".wav";
    file.duration = duration;
    file.bandEnergies = {0.2f, 0.6f, 1.0f, 0.5f, 0.1f};
    file.spectralWeight = 0.45f;
    file.crestDb = 12.0f;
    file.spectralFlux = 0.2f;
    file.temporalCentroid = 0.4f;
    file.attackTime = 0.05f;
    return file;
}

inline Palette MakePalette(const std::string& name, std::vector<LibraryFile> files, std::int32_t group = -1) {
    Palette palette;
    palette.name = name;
    palette.files = std::move(files);
    palette.trackGroup = group;
    return palette;
}

inline Event MakeEvent(EventKind kind, float time, float duration, float intensity = 0.5f, float weight = 0.5f) {
    Event event;
    event.shape = KindValue(kind);
    event.time = time;
    event.duration = duration;
    event.weight.fill(weight);
    event.intensity.fill(intensity);
    event.weightCenter = weight;
    return event;
}

// Builds `event` alone in `project` from a generator at `seed`, handing its
// plan to one kind's branch; gives back the generator's state afterwards so a
// test can count the branch's draws. An empty pool tests the no-candidate path.
template <class Branch>
std::uint32_t BuildOneEvent(Project& project, const std::vector<Palette>& palettes, std::uint32_t seed,
                            const Event& event, bool emptyPool, Branch&& branch, bool anyPoolIsGroupPool = false) {
    project.events = {event};
    project.results.clear();
    BuildContext build(project, palettes);
    build.random.state = seed;
    build.anyGroupPool = GatherCandidateFiles(palettes, -1, nullptr);
    if (anyPoolIsGroupPool) build.groupPools[0] = build.anyGroupPool;
    EventPlan plan = PlanEvent(build, 0);
    if (emptyPool) plan.pool.clear();
    branch(build, plan);
    return build.random.state;
}

// Every build in the scope starts from the same generator state.
class ScopedBuildSeed {
public:
    explicit ScopedBuildSeed(BuildSeedSource source = [] { return std::uint32_t{12345}; }) {
        SetBuildSeedSource(source);
    }
    ~ScopedBuildSeed() { SetBuildSeedSource(nullptr); }
    ScopedBuildSeed(const ScopedBuildSeed&) = delete;
    ScopedBuildSeed& operator=(const ScopedBuildSeed&) = delete;
};

}  // namespace korvel::test
