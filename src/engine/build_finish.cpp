#include "engine/build_finish.h"

#include "engine/published_layers.h"
#include "project/project.h"

namespace korvel {

// Gains, fades, groups, order and lanes come with track allocation; until
// then the finish only publishes every layer and marks the build.
void FinishBuild(Project& project) {
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
    project.built = true;
    ++project.revision;
}

}  // namespace korvel
