#include "engine/published_layers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "build_fixture.h"
#include "engine/build_events.h"
#include "library/library.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

// The UI draws the published layers while the build thread erases, appends
// past the reserve and finishes (sorts) them. Every layer it sees must be
// whole: one of the files the build places, at a time the events allow.
TEST(PublishedLayers, AReaderNeverSeesALayerMoveUnderIt) {
    const test::ScopedBuildSeed seed;
    Project project;
    std::vector<Palette> palettes = {MakePalette("All", {MakeFile("a"), MakeFile("b"), MakeFile("c")})};
    for (int i = 0; i < 60; ++i) {
        Event event = MakeEvent(EventKind::Spot, static_cast<float>(60 - i), 1.0f);
        event.pinnedFiles = {"/lib/a.wav", "/lib/b.wav", "/lib/c.wav"};
        event.pitchVariation = 0.5f;
        project.events.push_back(event);
    }

    std::atomic<bool> stop{false};
    std::atomic<long> seen{0};
    std::atomic<long> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const PublishedLayersView view(project);
            for (const LayerResult& layer : view.layers()) {
                const bool whole = layer.filepath.size() == 10 && layer.filepath.rfind("/lib/", 0) == 0 &&
                                   layer.eventIdx >= 0 && layer.eventIdx < 60 && layer.startTime > -1.0f &&
                                   layer.startTime < 62.0f;
                if (!whole) bad.fetch_add(1);
                seen.fetch_add(1);
            }
        }
    });
    for (int round = 0; round < 20; ++round) {
        {
            // Every build must grow the storage again.
            LayerStorageEdit edit(project);
            project.results.shrink_to_fit();
        }
        BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
        for (std::int32_t e = 0; e < 60; e += 7) BuildEvents(project, palettes, e, -1.0f, -1.0f, false, true);
    }
    stop.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(seen.load(), 0);
    EXPECT_EQ(project.results.size(), 180u);
    EXPECT_EQ(project.builtResultCount.load(), 180);
}

TEST(PublishedLayers, CountNeverExceedsTheLayersHeld) {
    Project project;
    project.results.resize(3);
    PublishBuiltLayers(project, 10);
    EXPECT_EQ(project.builtResultCount.load(), 3);
    {
        LayerStorageEdit edit(project);
        project.results.pop_back();
    }
    EXPECT_EQ(project.builtResultCount.load(), 2);
    EXPECT_EQ(PublishedLayersView(project, 1).layers().size(), 1u);
    EXPECT_EQ(PublishedLayersView(project).layers().size(), 2u);
    PublishBuiltLayers(project, -4);
    EXPECT_TRUE(PublishedLayersView(project).layers().empty());
}

}  // namespace
}  // namespace korvel
