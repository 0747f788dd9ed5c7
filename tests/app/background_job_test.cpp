#include "app/background_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "project/app_state.h"

namespace korvel {
namespace {

// Every test starts and leaves the one job idle.
class BackgroundJobTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset() {
        BackgroundJob& job = GlobalAppState.backgroundJob;
        job.cancel.store(true);
        EndBackgroundJob(job);
        job.done.store(false);
        job.progress.store(-1.0f);
        job.label[0] = '\0';
        GlobalAppState.traceRunning.store(false);
        GlobalAppState.exportRunning.store(false);
    }

    static bool WaitFor(const std::atomic<bool>& flag) {
        for (int i = 0; i < 5000 && !flag.load(std::memory_order_acquire); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return flag.load(std::memory_order_acquire);
    }

    BackgroundJob& job = GlobalAppState.backgroundJob;
};

// A second request while one is active, or any request while the picture
// analysis runs, is dropped: its work is destroyed and the job is untouched.
TEST_F(BackgroundJobTest, RefusesWhileActiveOrWhileTheAnalysisRuns) {
    struct Case {
        const char* name;
        bool jobActive;
        bool traceRunning;
        bool accepted;
    };
    const Case cases[] = {
        {"idle", false, false, true},
        {"job active", true, false, false},
        {"analysis running", false, true, false},
        {"both", true, true, false},
        {"export running: it reads the voices unlocked", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.jobActive) {
            StartBackgroundJob("First", [] {}, false, 0.25f);
            ASSERT_TRUE(job.active.load());
        }
        GlobalAppState.traceRunning.store(c.traceRunning);
        GlobalAppState.exportRunning.store(!c.accepted && !c.jobActive && !c.traceRunning);

        auto token = std::make_shared<int>(0);
        std::weak_ptr<int> alive = token;
        StartBackgroundJob("Second", [token = std::move(token)] {}, true, 0.5f);

        if (c.accepted) {
            EXPECT_TRUE(job.active.load());
            EXPECT_STREQ(job.label, "Second");
            EXPECT_FLOAT_EQ(job.progress.load(), 0.5f);
            EXPECT_TRUE(job.cancellable);
            EXPECT_TRUE(job.snapshotRequested);
            EXPECT_FALSE(alive.expired()) << "the accepted work is kept";
        } else {
            EXPECT_TRUE(alive.expired()) << "refused work is destroyed, not queued";
            EXPECT_EQ(job.active.load(), c.jobActive);
            if (c.jobActive) {
                EXPECT_STREQ(job.label, "First");
                EXPECT_FLOAT_EQ(job.progress.load(), 0.25f);
                EXPECT_FALSE(job.cancellable);
            }
        }
    }
}

// A new job starts clean even after a cancelled one left its flags set.
TEST_F(BackgroundJobTest, StartResetsFlagsAndCutsTheLabel) {
    job.done.store(true);
    job.cancel.store(true);
    const std::string longLabel(100, 'x');
    StartBackgroundJob(longLabel.c_str(), [] {}, false, -1.0f);
    EXPECT_FALSE(job.done.load());
    EXPECT_FALSE(job.cancel.load());
    EXPECT_EQ(std::string(job.label), std::string(63, 'x'));
    EXPECT_FLOAT_EQ(job.progress.load(), -1.0f);
}

// The work runs on the worker thread, once; the job ends idle with its work
// destroyed so that a next job can start.
TEST_F(BackgroundJobTest, RunsOnTheWorkerAndEndsIdle) {
    std::atomic<int> runs{0};
    std::thread::id ranOn;
    StartBackgroundJob("Building...", [&] {
        ranOn = std::this_thread::get_id();
        runs.fetch_add(1);
        GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
    }, true, 0.0f);
    EXPECT_FALSE(job.threadStarted) << "the frame starts the worker, not the request";
    ASSERT_TRUE(LaunchBackgroundJobWorker(job));
    EXPECT_FALSE(LaunchBackgroundJobWorker(job)) << "one worker per job";
    ASSERT_TRUE(WaitFor(job.done));
    EndBackgroundJob(job);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(job.active.load());
    EXPECT_FALSE(job.threadStarted);
    EXPECT_FALSE(static_cast<bool>(job.work));

    StartBackgroundJob("Next", [] { GlobalAppState.backgroundJob.done.store(true); }, false, 0.0f);
    EXPECT_TRUE(job.active.load());
    EXPECT_TRUE(LaunchBackgroundJobWorker(job));
    ASSERT_TRUE(WaitFor(job.done));
}

// Quitting while a job runs cancels it and waits for it.
TEST_F(BackgroundJobTest, StopWorkersCancelsAndJoinsARunningJob) {
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    StartBackgroundJob("Building...", [&] {
        started.store(true);
        while (!GlobalAppState.backgroundJob.cancel.load()) std::this_thread::yield();
        finished.store(true);
        GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
    }, true, 0.0f);
    ASSERT_TRUE(LaunchBackgroundJobWorker(job));
    ASSERT_TRUE(WaitFor(started));
    StopWorkers();
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(job.worker.joinable());
}

// Xlib ends the process with exit() when the display is lost: a job thread
// left joinable must not turn that into an abort, finished or still running
// (a running body may wait on the UI thread, so it is let go, not waited for).
TEST(BackgroundJobExit, ExitWithTheWorkerLeftJoinableEndsWithItsCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        bool finishes;
    };
    const Case cases[] = {{"finished", true}, {"still running", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                static std::atomic<bool> started{false};
                static const bool finishes = c.finishes;
                BackgroundJob& job = GlobalAppState.backgroundJob;
                StartBackgroundJob("Building...", [] {
                    started.store(true);
                    if (finishes) GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
                    else
                        for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }, true, 0.0f);
                LaunchBackgroundJobWorker(job);
                while (!started.load()) std::this_thread::yield();
                while (finishes && !job.done.load()) std::this_thread::yield();
                std::exit(3);
            },
            ::testing::ExitedWithCode(3), "");
    }
}

// An export is never cut off: quitting waits for it to write its last file.
TEST_F(BackgroundJobTest, StopWorkersWaitsForARunningExport) {
    ExportThread& exportThread = GlobalAppState.exportThread;
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    ASSERT_TRUE(StartExportThread(exportThread, [&] {
        while (!release.load()) std::this_thread::yield();
        finished.store(true);
    }));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.store(true);
    });
    StopWorkers();
    releaser.join();
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(exportThread.joinable);
    EXPECT_FALSE(exportThread.running.load());

    StopWorkers();  // a second call finds nothing to join
}

}  // namespace
}  // namespace korvel
