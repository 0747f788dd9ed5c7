#include "platform/thread_checks.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace korvel {
namespace {

TEST(ThreadChecks, TheMainThreadIsTheUiThreadAndOthersNameThemselves) {
    EXPECT_EQ(CurrentThreadRole(), ThreadRole::Ui);
    ThreadRole before = ThreadRole::Ui, after = ThreadRole::Other;
    std::thread([&] {
        before = CurrentThreadRole();
        SetThreadRole(ThreadRole::Job);
        after = CurrentThreadRole();
    }).join();
    EXPECT_EQ(before, ThreadRole::Other) << "a new thread has no role until it names one";
    EXPECT_EQ(after, ThreadRole::Job);
    EXPECT_EQ(CurrentThreadRole(), ThreadRole::Ui) << "each thread its own";
}

#if KORVEL_THREAD_CHECKS
TEST(ThreadChecks, AMutexKnowsOnlyItsOwnHolder) {
    CheckedMutex mutex;
    EXPECT_FALSE(mutex.HeldByThisThread());
    {
        const std::lock_guard lock(mutex);
        EXPECT_TRUE(mutex.HeldByThisThread());
        bool elsewhere = true;
        std::thread([&] { elsewhere = mutex.HeldByThisThread(); }).join();
        EXPECT_FALSE(elsewhere) << "held, but not by that thread";
    }
    EXPECT_FALSE(mutex.HeldByThisThread());
    ASSERT_TRUE(mutex.try_lock());
    EXPECT_TRUE(mutex.HeldByThisThread());
    mutex.unlock();
}

TEST(ThreadChecksDeathTest, AFailedCheckStopsWithOneBracketedLine) {
    CheckedMutex mutex;
    EXPECT_DEATH(KORVEL_CHECK_HELD(mutex), R"(\[ThreadCheck\] mutex is not held at .*thread_checks_test\.cpp)");
    EXPECT_DEATH(
        {
            SetThreadRole(ThreadRole::Job);
            KORVEL_CHECK_THREAD(ui);
        },
        R"(\[ThreadCheck\] not on the ui thread)");
    EXPECT_DEATH(
        {
            SetThreadRole(ThreadRole::Export);
            KORVEL_CHECK_THREAD(audio);
        },
        R"(\[ThreadCheck\] not on the audio thread)");
}
#endif

}  // namespace
}  // namespace korvel
