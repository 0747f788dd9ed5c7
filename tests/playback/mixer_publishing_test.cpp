#include "playback/mixer_publishing.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include "playback/playback_engine.h"

namespace korvel {
namespace {

TEST(SettingsMailbox, TakesOnlyTheNewestPublishedRecordOnce) {
    SettingsMailbox<int> mailbox;
    int taken = -1;
    EXPECT_FALSE(mailbox.Take(taken)) << "nothing published yet";
    EXPECT_EQ(taken, -1);

    mailbox.Publish(1);
    mailbox.Publish(2);
    mailbox.Publish(3);
    ASSERT_TRUE(mailbox.Take(taken));
    EXPECT_EQ(taken, 3) << "records published between two takes collapse into the newest";
    EXPECT_FALSE(mailbox.Take(taken)) << "a record is taken once";

    // Alternating keeps working after every slot has been each role.
    for (int i = 10; i < 20; ++i) {
        mailbox.Publish(i);
        ASSERT_TRUE(mailbox.Take(taken));
        EXPECT_EQ(taken, i);
    }
}

// A record every field of which carries the same number: a torn copy (half
// of one publication, half of another) shows as fields that differ.
struct Stamped {
    std::array<std::int64_t, 16> fields = {};
};

TEST(SettingsMailbox, AReaderOnAnotherThreadNeverSeesATornOrOlderRecord) {
    auto mailbox = std::make_unique<SettingsMailbox<Stamped>>();
    constexpr std::int64_t kPublications = 200000;
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        Stamped record;
        for (std::int64_t n = 1; n <= kPublications; ++n) {
            record.fields.fill(n);
            mailbox->Publish(record);
        }
        writerDone.store(true);
    });

    std::int64_t last = 0;
    bool torn = false;
    bool backwards = false;
    Stamped seen;
    for (;;) {
        // Read before taking: once the writer is done, a failed take means
        // its last record has been seen.
        const bool done = writerDone.load();
        if (!mailbox->Take(seen)) {
            if (done) break;
            continue;
        }
        for (std::int64_t field : seen.fields) torn |= field != seen.fields[0];
        backwards |= seen.fields[0] <= last;
        last = seen.fields[0];
    }
    writer.join();
    EXPECT_FALSE(torn);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(last, kPublications) << "the last publication always arrives";
}

TEST(MixerPublishing, TheMixerRunsWithPublishedReverbSettingsOnly) {
    auto engine = std::make_unique<PlaybackEngine>();
    engine->reverb.size = 0.9f;
    engine->reverb.groupSends[2] = 0.75f;
    EXPECT_FALSE(ApplyPendingReverbChanges(*engine));
    EXPECT_FLOAT_EQ(engine->mixReverb.size, 0.5f) << "unpublished edits stay with the UI";

    PublishReverbSettings(*engine);
    engine->reverb.size = 0.1f;  // the UI goes on editing its own copy
    EXPECT_TRUE(ApplyPendingReverbChanges(*engine));
    EXPECT_FLOAT_EQ(engine->mixReverb.size, 0.9f);
    EXPECT_FLOAT_EQ(engine->mixReverb.groupSends[2], 0.75f);

    // Requests of the running state are served by the same call.
    RequestReverbReset(engine->reverbRequests, 44100);
    EXPECT_TRUE(ApplyPendingReverbChanges(*engine));
    EXPECT_EQ(engine->reverbState.sampleRate, 44100);
    EXPECT_FALSE(ApplyPendingReverbChanges(*engine));
}

}  // namespace
}  // namespace korvel
