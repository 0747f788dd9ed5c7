#pragma once
// The last stage of every build: all layers of the project, old and new, get
// their gains, fade limits, groups, time order and lanes; the results are
// published and the project marked built.
namespace korvel {

struct Project;

// Build thread. The caller holds a LayerStorageEdit (published_layers.h):
// the finish sorts and rewrites layers in place.
void FinishBuild(Project& project);

}  // namespace korvel
