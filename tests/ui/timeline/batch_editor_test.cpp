// The batch editor headless: what it reads from a selection (with indices
// out of range), mute and lock for all, the rebuild request, relative gain,
// absolute pitch, the tuning state from its counts, keywords applied only
// on Enter, the bus with a Fill in the selection, and which edits mark the
// project changed.
#include "ui/timeline/batch_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>

#include "engine/render_job.h"
#include "inspector_fixture.h"
#include "playback/playback_engine.h"
#include "project/project.h"
#include "ui/timeline/events_tab.h"
#include "ui/timeline/inspector_edits.h"

namespace korvel {
namespace {

class BatchEditorTest : public test::InspectorFixture {
protected:
    float Yb() const { return m_.height - m_.padding - Fh(); }
    void ClickMuteAll() { ClickAt(m_.padding + Fh() * 0.5f, m_.padding + Fh() * 0.5f); }
    void ClickBus() { ClickAt(m_.padding + m_.contentWidth - Fh() * 0.5f, Yb() + Fh() * 0.5f); }
    void SetVoices(const std::vector<std::int32_t>& events, const std::vector<std::int32_t>& layers) {
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.resize(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            LivePlaybackEngine.voices[i].eventIndex = events[i];
            LivePlaybackEngine.voices[i].resultIndex = layers[i];
        }
    }
};

float Db(float gain) { return 20.0f * std::log10(gain); }

// With no valid event every "all" holds, so Mute all unmutes nothing and
// the bus targets FX A; the batch form still shows for the count.
TEST_F(BatchEditorTest, NoValidEventTakesTheNoneDefaults) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Bloom), test::MakeEvent(5, 2, 0, EventKind::Bloom)};
    p.events[1].muted = true;
    s.selectedEvents = {7, 9};
    s.selectedEvent = 7;
    const BatchFacts facts = ReadBatchFacts(s, p);
    EXPECT_TRUE(facts.valid.empty());
    EXPECT_TRUE(facts.allMuted);
    EXPECT_TRUE(facts.allLocked);
    EXPECT_TRUE(facts.allOnB);
    EXPECT_FALSE(facts.anyNonClip);
    EXPECT_EQ(facts.meanGain, 1.0f);
    EXPECT_EQ(facts.meanPitch, 0.0f);

    ClickMuteAll();
    EXPECT_FALSE(p.events[0].muted);
    EXPECT_TRUE(p.events[1].muted) << "not selected";
    ASSERT_TRUE(BatchToggleBus(s, p));
    EXPECT_EQ(p.events[0].groupOverride, -1);
    EXPECT_EQ(p.events[1].groupOverride, -1);
}

// Mute all reaches every selected event's live voices (a layer muted on its
// own stays muted); lock all locks a mixed selection and unlocks a locked one.
TEST_F(BatchEditorTest, MuteAndLockAll) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2), test::MakeEvent(9, 2)};
    p.events[1].muted = true;
    p.results.resize(3);
    for (std::int32_t i = 0; i < 3; ++i) p.results[static_cast<std::size_t>(i)].eventIdx = i;
    p.results[1].muted = true;
    SetVoices({0, 1, 2}, {0, 1, 2});
    s.selectedEvents = {0, 1, 12};
    s.selectedEvent = 0;
    const std::int32_t revision = p.revision;

    ClickMuteAll();
    EXPECT_TRUE(p.events[0].muted && p.events[1].muted);
    EXPECT_FALSE(p.events[2].muted);
    EXPECT_EQ(p.revision, revision + 1);
    auto voiceMutes = [] {
        std::vector<bool> out;
        for (const Voice& v : LivePlaybackEngine.voices) out.push_back(v.muted);
        return out;
    };
    EXPECT_EQ(voiceMutes(), (std::vector<bool>{true, true, false}));
    ClickMuteAll();
    EXPECT_FALSE(p.events[0].muted || p.events[1].muted);
    EXPECT_EQ(voiceMutes(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(UndoStack.size(), 2u);

    p.events[0].locked = true;
    BatchToggleLock(s, p);
    EXPECT_TRUE(p.events[0].locked && p.events[1].locked);
    EXPECT_FALSE(p.events[2].locked);
    BatchToggleLock(s, p);
    EXPECT_FALSE(p.events[0].locked || p.events[1].locked);
}

TEST_F(BatchEditorTest, RebuildAsksForTheNonClipsOnly) {
    struct Case {
        const char* name;
        EventKind first, second;
        bool built, job;
        bool requested;
    };
    const Case cases[] = {
        {"mixed, built and idle", EventKind::Clip, EventKind::Bloom, true, false, true},
        {"only clips", EventKind::Clip, EventKind::Clip, true, false, false},
        {"never built", EventKind::Spot, EventKind::Bloom, false, false, false},
        {"a job runs", EventKind::Spot, EventKind::Bloom, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events = {test::MakeEvent(1, 2, 0, c.first), test::MakeEvent(5, 2, 0, c.second),
                    test::MakeEvent(9, 2, 0, EventKind::Fill)};
        for (Event& e : p.events) e.locked = true;
        p.built = c.built;
        s.backgroundJob.active.store(c.job);
        s.pendingRenderMode = 0;
        s.pendingRenderEvents.clear();
        s.selectedEvents = {0, 1, 5};
        EXPECT_EQ(BatchRequestRebuild(s, p), c.requested);
        if (c.requested) {
            EXPECT_EQ(s.pendingRenderMode, kRenderEventList);
            EXPECT_EQ(s.pendingRenderEvents, std::vector<std::int32_t>{1});
            EXPECT_TRUE(p.events[0].locked) << "a clip stays locked";
            EXPECT_FALSE(p.events[1].locked);
            EXPECT_TRUE(p.events[2].locked) << "not selected";
        } else {
            EXPECT_EQ(s.pendingRenderMode, 0);
            EXPECT_TRUE(UndoStack.empty());
        }
        s.backgroundJob.active.store(false);
        ClearUndoHistory();
    }
}

// Gain moves every event by the same dB from its own level, so their
// differences stay; the floor holds them without storing silence.
TEST_F(BatchEditorTest, GainShiftKeepsTheDifferences) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2), test::MakeEvent(9, 2)};
    p.events[1].gain = 0.5f;
    SetVoices({0, 1, 2}, {-1, -1, -1});
    s.selectedEvents = {0, 1};
    EXPECT_NEAR(Db(ReadBatchFacts(s, p).meanGain), -2.5f, 0.01f);

    BatchShiftGainDb(s, p, LivePlaybackEngine, -3.0f);
    EXPECT_NEAR(Db(p.events[0].gain), -3.0f, 1e-3f);
    EXPECT_NEAR(Db(p.events[1].gain), -9.0206f, 1e-3f);
    EXPECT_EQ(p.events[2].gain, 1.0f) << "not selected";
    EXPECT_NEAR(LivePlaybackEngine.voices[1].eventGain, p.events[1].gain, 1e-6f);
    EXPECT_EQ(LivePlaybackEngine.voices[2].eventGain, 1.0f);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty()) << "a light edit";

    BatchShiftGainDb(s, p, LivePlaybackEngine, -30.0f);
    EXPECT_NEAR(p.events[0].gain, 0.0631f, 1e-4f);
    EXPECT_NEAR(p.events[1].gain, 0.0631f, 1e-4f);
    s.unsavedChanges = false;
    BatchShiftGainDb(s, p, LivePlaybackEngine, -1.0f);
    EXPECT_FALSE(s.unsavedChanges) << "both held at the floor";

    // Dragging the field moves both by the drag's amount.
    p.events[0].gain = 1.0f;
    p.events[1].gain = 0.5f;
    Drag(m_.padding + 20.0f, Yb() + Fh() * 0.5f, -40.0f, 0.0f);
    EXPECT_LT(p.events[0].gain, 0.95f);
    EXPECT_NEAR(Db(p.events[0].gain) - Db(p.events[1].gain), 6.0206f, 1e-2f);
}

TEST_F(BatchEditorTest, PitchVariationIsSetAbsolutely) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2)};
    p.events[0].pitchVariation = 0.25f;
    p.events[1].pitchVariation = 0.75f;
    p.events[1].locked = true;
    s.selectedEvents = {0, 1};
    EXPECT_FLOAT_EQ(24.0f * ReadBatchFacts(s, p).meanPitch, 12.0f);
    BatchSetPitchVariation(s, p, 6.0f);
    EXPECT_FLOAT_EQ(p.events[0].pitchVariation, 0.25f);
    EXPECT_FLOAT_EQ(p.events[1].pitchVariation, 0.25f);
    EXPECT_FALSE(p.events[1].locked);
    EXPECT_TRUE(s.unsavedChanges);
    s.unsavedChanges = false;
    BatchSetPitchVariation(s, p, 6.0f);
    EXPECT_FALSE(s.unsavedChanges) << "nothing changed";
}

// The toggle follows the project while fewer events are forced off than
// follow; a click turns every event to the other state.
TEST_F(BatchEditorTest, TuningStateComesFromTheCounts) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> overrides;
        bool follows;
        std::int32_t after;
    };
    const Case cases[] = {
        {"two and two", {0, 0, 2, 2}, false, 0},
        {"more follow", {0, 0, 0, 2}, true, 2},
        {"more forced off", {0, 2, 2, 5}, false, 0},  // 5 counts as 2
        {"only the middle value", {1, 1}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.events.clear();
        s.selectedEvents.clear();
        for (std::size_t i = 0; i < c.overrides.size(); ++i) {
            p.events.push_back(test::MakeEvent(static_cast<float>(i) * 3.0f, 2));
            p.events.back().scaleTuneOverride = c.overrides[i];
            s.selectedEvents.insert(static_cast<std::int32_t>(i));
        }
        EXPECT_EQ(ReadBatchFacts(s, p).TuningFollows(), c.follows);
        BatchToggleScaleTuning(s, p);
        for (const Event& e : p.events) EXPECT_EQ(e.scaleTuneOverride, c.after);
    }
    EXPECT_FALSE(s.audioUpdateRequested.load()) << "no layers, nothing to rebuild";
}

// Typing changes no event; Enter copies the text into every selected event,
// unlocks them and empties the field.
TEST_F(BatchEditorTest, KeywordsApplyOnlyOnEnter) {
    p.events = {test::MakeEvent(1, 2), test::MakeEvent(5, 2), test::MakeEvent(9, 2)};
    p.events[0].locked = true;
    std::snprintf(p.events[1].keywords, sizeof(p.events[1].keywords), "%s", "old");
    s.selectedEvents = {0, 1};
    ClickAt(m_.padding + 20.0f, m_.padding + Fh() + m_.gap + Fh() * 0.5f);
    for (char ch : std::string("rain")) harness_.io().AddInputCharacter(static_cast<ImWchar>(ch));
    Frame();
    Frame();
    EXPECT_STREQ(p.events[0].keywords, "");
    EXPECT_STREQ(p.events[1].keywords, "old");
    EXPECT_FALSE(s.unsavedChanges);

    frames_.Press(ImGuiKey_Enter, body());
    EXPECT_STREQ(p.events[0].keywords, "rain");
    EXPECT_STREQ(p.events[1].keywords, "rain");
    EXPECT_STREQ(p.events[2].keywords, "") << "not selected";
    EXPECT_FALSE(p.events[0].locked);
    EXPECT_EQ(UndoStack.size(), 1u);

    // The field was emptied: the next text replaces the last, not adds to it.
    ClickAt(m_.padding + 20.0f, m_.padding + Fh() + m_.gap + Fh() * 0.5f);
    harness_.io().AddInputCharacter('x');
    Frame();
    frames_.Press(ImGuiKey_Enter, body());
    EXPECT_STREQ(p.events[1].keywords, "x");
}

// A Fill takes the bus's override and stereo flag but its layers stay in
// the background group; the other kind's layers move. With a Fill selected
// not every event is on FX B, so the toggle keeps targeting FX B.
TEST_F(BatchEditorTest, BusWithAFillInTheSelection) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Fill), test::MakeEvent(5, 2, 0, EventKind::Spot)};
    p.events[1].locked = true;
    p.results.resize(2);
    p.results[0].eventIdx = 0;
    p.results[1].eventIdx = 1;
    s.selectedEvents = {0, 1};
    s.selectedEvent = 0;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ClickBus();
        EXPECT_EQ(p.events[0].groupOverride, 2);
        EXPECT_EQ(p.events[0].stereo, p.trackLayout.groups[2].stereo);
        EXPECT_EQ(p.events[1].groupOverride, DefaultGroupForKind(p.events[1].shape) == 2 ? -1 : 2);
        EXPECT_FALSE(p.events[1].locked);
        EXPECT_EQ(p.results[0].group, 0);
        EXPECT_EQ(p.results[1].group, 2);
    }
    EXPECT_EQ(UndoStack.size(), 2u);

    // Without the Fill every event is on FX B now, and the toggle sends
    // them back to FX A.
    p.events.push_back(test::MakeEvent(9, 2, 0, EventKind::Bloom));
    p.events[2].groupOverride = 2;
    s.selectedEvents = {1, 2};
    ASSERT_TRUE(ReadBatchFacts(s, p).allOnB);
    ASSERT_TRUE(BatchToggleBus(s, p));
    EXPECT_EQ(EffectiveGroup(p.events[1]), 1);
    EXPECT_EQ(EffectiveGroup(p.events[2]), 1);
    EXPECT_EQ(p.results[1].group, 1);
}

TEST_F(BatchEditorTest, BusWaitsForARunningJob) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Spot), test::MakeEvent(5, 2, 0, EventKind::Spot)};
    s.selectedEvents = {0, 1};
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(BatchToggleBus(s, p));
    EXPECT_EQ(p.events[0].groupOverride, -1);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_NE(s.statusMessage.find("Busy"), std::string::npos);
}

// Drawing the form changes nothing; each light edit marks the project
// changed.
TEST_F(BatchEditorTest, IdleFramesMarkNothing) {
    p.events = {test::MakeEvent(1, 2, 0, EventKind::Fill), test::MakeEvent(5, 2, 0, EventKind::Bloom)};
    p.events[0].stereo = !p.trackLayout.groups[0].stereo;
    s.selectedEvents = {0, 1};
    s.selectedEvent = 1;
    for (int i = 0; i < 3; ++i) IdleFrame();
    EXPECT_FALSE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_EQ(p.events[0].stereo, !p.trackLayout.groups[0].stereo) << "the batch form copies no bus flag";
}

// The pitch drags (batch and single event) shorten their unit rather than
// cut the text ("±0 semito"): the widest value decides, 7 px a byte here.
TEST(PitchVariationField, UnitShortensToFitTheField) {
    const auto measure = [](const char* text) { return 7.0f * static_cast<float>(std::strlen(text)); };
    struct Case {
        float width;
        const char* want;
    };
    const Case cases[] = {
        {200.0f, "\xc2\xb1%.0f semitones"},
        {98.0f, "\xc2\xb1%.0f semitones"},  // "±24 semitones" exactly
        {97.0f, "\xc2\xb1%.0f st"},
        {49.0f, "\xc2\xb1%.0f st"},  // "±24 st" exactly
        {48.0f, "\xc2\xb1%.0f"},
        {0.0f, "\xc2\xb1%.0f"},
    };
    for (const Case& c : cases) EXPECT_STREQ(PitchVariationFormat(c.width, measure), c.want) << c.width;
}

}  // namespace
}  // namespace korvel
