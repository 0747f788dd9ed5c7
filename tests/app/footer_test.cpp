// The footer's decisions: which left case wins, its texts and where the
// right-aligned parts go.
#include "app/footer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "library/library.h"

namespace korvel {
namespace {

TEST(Footer, LeftCasePrecedence) {
    struct Case {
        const char* name;
        bool exporting, liveJob, frozenJob, scanning, status;
        FooterLeft expected;
    };
    const Case cases[] = {
        {"export over everything", true, true, false, true, true, FooterLeft::Export},
        {"live build over a scan", false, true, false, true, true, FooterLeft::LiveBuild},
        {"a frozen job is not shown here", false, false, true, true, true, FooterLeft::Scan},
        {"scan over the status", false, false, false, true, true, FooterLeft::Scan},
        {"status alone", false, false, false, false, true, FooterLeft::Status},
        {"nothing", false, false, false, false, false, FooterLeft::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_unique<AppState>();
        auto library = std::make_unique<Library>();
        state->exportRunning.store(c.exporting);
        state->backgroundJob.active.store(c.liveJob || c.frozenJob);
        state->backgroundJob.revealBuildProgress = c.liveJob;
        library->scanning.store(c.scanning);
        state->statusTime = c.status ? 2.0f : 0.0f;
        EXPECT_EQ(FooterLeftCase(*state, *library), c.expected);
    }
}

TEST(Footer, TextsAndEscToStop) {
    BackgroundJob job;
    std::snprintf(job.label, sizeof job.label, "Building...");
    EXPECT_EQ(FooterBuildText(job, 40), "Building...  40 clips");
    job.jobEventTotal = 5;
    job.jobEventsDone.store(2);
    EXPECT_EQ(FooterBuildText(job, 7), "Building...  event 2 / 5  \xc2\xb7  7 clips");
    EXPECT_EQ(FooterSummary(12, 48000, 23.976f), "12 events   48 kHz   24 fps");
    EXPECT_EQ(FooterSummary(1, 44100, 25.0f), "1 events   44 kHz   25 fps");

    job.active.store(true);
    job.revealBuildProgress = true;
    EXPECT_TRUE(FooterShowsEscToStop(job));
    job.done.store(true);
    EXPECT_FALSE(FooterShowsEscToStop(job)) << "nothing left to stop";
    job.done.store(false);
    job.revealBuildProgress = false;
    EXPECT_FALSE(FooterShowsEscToStop(job)) << "a frozen job has its own Cancel";
}

TEST(Footer, EscToStopKeepsClearOfTheSummary) {
    const FooterRight r = PlaceFooterRight(0.0f, 1280.0f, 180.4f, 70.2f);
    EXPECT_FLOAT_EQ(r.summaryX, 1280.0f - 14.0f - 181.0f) << "14 units from the edge, width rounded up";
    EXPECT_LT(r.escX + 70.2f, r.summaryX);
}

TEST(Footer, SpinnerDotsFadeAlongTheCircle) {
    EXPECT_EQ(FooterSpinnerDotAlpha(0), 60);
    EXPECT_EQ(FooterSpinnerDotAlpha(3), 60 + 83);
    EXPECT_EQ(FooterSpinnerDotAlpha(7), 255);
}

}  // namespace
}  // namespace korvel
