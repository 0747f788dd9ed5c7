#include "engine/build_random.h"

#include <atomic>
#include <ctime>

namespace korvel {

namespace {

// Written by tests before a build, read by every build (job thread, preview
// thread); atomic so neither needs a lock.
std::atomic<BuildSeedSource> gBuildSeedSource{nullptr};

}  // namespace

std::uint32_t CalendarTimeSeed() { return static_cast<std::uint32_t>(std::time(nullptr)); }

void SetBuildSeedSource(BuildSeedSource source) { gBuildSeedSource.store(source); }

std::uint32_t TakeBuildSeed() {
    const BuildSeedSource source = gBuildSeedSource.load();
    return source != nullptr ? source() : CalendarTimeSeed();
}

}  // namespace korvel
