// The Clip's section of the inspector headless: the file name shortened in
// the middle, the file facts from the library or the file (with the full
// Broadcast WAVE description and nothing after it), the replace button with
// a fake open-file hook, and the sync-offset field's drag and typing.
#include "ui/timeline/clip_section.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "inspector_fixture.h"
#include "library/analysis.h"
#include "library/library.h"
#include "picture/timecode.h"
#include "playback/playback_engine.h"
#include "presets/recipes.h"
#include "project/fixed_text.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "ui/timeline/text_fit.h"

namespace korvel {
namespace {

// One unit per character and half a unit for the ellipsis: the cuts are
// checked in characters, not bytes.
float CharWidth(std::string_view text) {
    float n = 0.0f;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "\xe2\x80\xa6") == 0) {
            n += 0.5f;
            i += 2;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            n += 1.0f;
        }
    }
    return n;
}

bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

TEST(ClipTextFit, MiddleShortening) {
    struct Case {
        const char* name;
        std::string text;
        float width;
        std::string shown;
    };
    const std::string longName = "a_very_long_file_name_for_a_door_slam.wav";  // 41 bytes
    const Case cases[] = {
        {"fits as it is", "door.wav", 8.0f, "door.wav"},
        {"2 bytes: the tail alone", "ab", 1.5f, "\xe2\x80\xa6" "b"},
        {"3 bytes: head, ellipsis, tail", "abc", 2.5f, "a\xe2\x80\xa6" "c"},
        {"3 bytes without room for a head", "abc", 2.0f, "\xe2\x80\xa6" "c"},
        {"a long name keeps a 12-byte tail", longName, 20.0f, "a_very_\xe2\x80\xa6" "oor_slam.wav"},
        {"the longest head that fits", longName, 40.6f,
         longName.substr(0, 28) + "\xe2\x80\xa6" + longName.substr(29)},
        // Five two-byte characters: the byte limit of 5 falls inside one,
        // so the tail starts at the next character.
        {"non-ASCII: whole characters", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 4.0f,
         "\xc3\xa9\xe2\x80\xa6\xc3\xa9\xc3\xa9"},
        {"non-ASCII without room for a head", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 3.0f,
         "\xe2\x80\xa6\xc3\xa9\xc3\xa9"},
        {"one character longer than the limit", "\xf0\x9f\x94\x94", 0.5f, "\xe2\x80\xa6\xf0\x9f\x94\x94"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shown = ShortenMiddle(c.text, c.width, CharWidth);
        EXPECT_EQ(shown, c.shown);
        EXPECT_TRUE(ValidUtf8(shown));
    }
    // A non-ASCII name of three-byte characters, cut at every width.
    const std::string name = "\xe9\x9f\xb3\xe9\x9f\xbf_\xe3\x83\x89\xe3\x82\xa2\xe3\x81\xae\xe9\x9f\xb3.wav";
    for (float width = 1.0f; width < CharWidth(name); width += 1.0f) {
        SCOPED_TRACE(width);
        const std::string shown = ShortenMiddle(name, width, CharWidth);
        EXPECT_TRUE(ValidUtf8(shown)) << shown;
        const std::size_t cut = shown.find("\xe2\x80\xa6");
        ASSERT_NE(cut, std::string::npos);
        EXPECT_EQ(name.compare(0, cut, shown, 0, cut), 0) << "the head is the name's start";
        const std::string tail = shown.substr(cut + 3);
        EXPECT_LE(tail.size(), 12u);
        EXPECT_TRUE(name.ends_with(tail));
    }
}

// A description cut to two lines of ten characters.
TEST(ClipTextFit, DescriptionPrefixAndEndCuts) {
    const auto twoLines = [](std::string_view s) { return std::ceil(CharWidth(s) / 10.0f) <= 2.0f; };
    struct Case {
        const char* name;
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"fits", "twenty characters...", "twenty characters..."},
        {"cut with room for the ellipsis", "twenty-five characters...",
         "twenty-five charact\xe2\x80\xa6"},
        {"non-ASCII cut between characters", std::string(12, 'a') + std::string(10, 'x') + "\xc3\xbc\xc3\xbc",
         std::string(12, 'a') + std::string(7, 'x') + "\xe2\x80\xa6"},
        {"never below one character", "abc", "a\xe2\x80\xa6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fits = c.text == "abc" ? [](std::string_view) { return false; }
                                          : std::function<bool(std::string_view)>(twoLines);
        EXPECT_EQ(FitPrefix(c.text, fits), c.shown);
    }
    // A bed card's name loses one whole character a round.
    EXPECT_EQ(ShortenEnd("rain_on_roof.wav", 8.0f, 7, CharWidth), "rain_on\xe2\x80\xa6");
    EXPECT_EQ(ShortenEnd("r\xc3\xa4in_roof.wav", 5.0f, 7, CharWidth), "r\xc3\xa4in\xe2\x80\xa6");
    EXPECT_EQ(ShortenEnd("ab.wav", 2.0f, 7, CharWidth), "ab.wav") << "too short to cut";
}

TEST(ClipFacts, Texts) {
    struct Duration {
        float seconds;
        const char* text;
    };
    for (const Duration& c : {Duration{3725.0f, "1:02:05"}, Duration{3600.0f, "1:00:00"}, Duration{65.45f, "1:05.4"},
                              Duration{60.0f, "1:00.0"}, Duration{2.5f, "2.50s"}, Duration{0.004f, "0.00s"}}) {
        EXPECT_EQ(FactsDurationText(c.seconds), c.text) << c.seconds;
    }
    struct Rate {
        float rate;
        const char* text;
    };
    for (const Rate& c : {Rate{48000.0f, "48k"}, Rate{96000.0f, "96k"}, Rate{44100.0f, "44.1k"},
                          Rate{88200.0f, "88.2k"}, Rate{1000.0f, "1k"}, Rate{800.0f, "800"}}) {
        EXPECT_EQ(FactsRateText(c.rate), c.text) << c.rate;
    }
    struct Channels {
        std::int32_t count;
        const char* text;
    };
    for (const Channels& c : {Channels{1, "mono"}, Channels{2, "stereo"}, Channels{3, "3ch"}, Channels{4, "quad"},
                              Channels{6, "5.1"}, Channels{8, "7.1"}, Channels{16, "16ch"}, Channels{0, "mono"},
                              Channels{-2, "mono"}}) {
        EXPECT_EQ(FactsChannelsText(c.count), c.text) << c.count;
    }
    SoundFileFacts facts;
    facts.duration = 2.5f;
    facts.sampleRate = 48000.0f;
    facts.channels = 2;
    facts.bitsPerSample = 24;
    EXPECT_EQ(FactsLine(facts), "2.50s  48k  stereo  24-bit");
}

class ClipFactsFiles : public ::testing::Test {
protected:
    void TearDown() override { SoundLibrary.palettes.clear(); }

    // A 24-bit WAVE whose Broadcast WAVE description fills its 256 bytes
    // with no terminator, the originator straight after it.
    std::string FullDescriptionWave(const char* name) {
        const std::string path = dir_.file(name);
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr);
        if (file == nullptr) return path;
        SF_BROADCAST_INFO bext{};
        std::memset(bext.description, 'D', sizeof(bext.description));
        std::memcpy(bext.originator, "ORIGINATOR", 10);
        EXPECT_EQ(sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof(bext)), SF_TRUE);
        const std::vector<float> samples = test::MakeSine(440.0, 0.5, 48000, 2, 0.5);
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
        sf_close(file);
        return path;
    }

    test::TempDir dir_;
};

TEST_F(ClipFactsFiles, FullDescriptionStopsAtItsField) {
    const std::string path = FullDescriptionWave("bext.wav");
    const SoundFileFacts facts = ReadSoundFileFacts(path);
    ASSERT_TRUE(facts.valid);
    EXPECT_EQ(facts.description, std::string(256, 'D'));
    EXPECT_NEAR(facts.duration, 0.5f, 1e-4f);
    EXPECT_EQ(facts.sampleRate, 48000.0f);
    EXPECT_EQ(facts.channels, 2);
    EXPECT_EQ(facts.bitsPerSample, 24);
    // The library's analysis reads the same field the same way.
    LibraryFile record;
    FftState fft;
    AnalyzeAudioFile(path, record, &fft, 0);
    EXPECT_EQ(record.description, std::string(256, 'D'));
}

// Facts come from the first analysed library record of the path, else from
// the file, read once: an unreadable file keeps its empty entry even after
// it becomes readable.
TEST_F(ClipFactsFiles, FromTheLibraryElseFromTheFileOnce) {
    const std::string analysed = dir_.file("analysed.wav");
    ASSERT_TRUE(test::WriteSoundFile(analysed, test::MakeSine(440.0, 1.0, 48000), 1, 48000));
    const std::string unanalysed = dir_.file("Gl\xc3\xb6" "ckchen.wav");
    ASSERT_TRUE(test::WriteSoundFile(unanalysed, test::MakeSine(440.0, 1.0, 44100, 2), 2, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string unreadable = dir_.file("broken.wav");
    ASSERT_TRUE(test::WriteBytes(unreadable, "RIFF this is not audio"));

    Palette palette;
    LibraryFile record;
    record.path = analysed;
    record.sampleRate = 96000.0f;
    record.duration = 3725.0f;
    record.channels = 6;
    record.bitsPerSample = 32;
    record.description = "From the library";
    LibraryFile notAnalysed;
    notAnalysed.path = unanalysed;  // rate 0: never analysed, so it is passed over
    notAnalysed.channels = 8;
    palette.files = {notAnalysed, record};
    SoundLibrary.palettes = {palette};

    const SoundFileFacts fromLibrary = ClipFileFacts(SoundLibrary, analysed);
    EXPECT_TRUE(fromLibrary.valid);
    EXPECT_EQ(FactsLine(fromLibrary), "1:02:05  96k  5.1  32-bit");
    EXPECT_EQ(fromLibrary.description, "From the library");

    const SoundFileFacts fromFile = ClipFileFacts(SoundLibrary, unanalysed);
    EXPECT_TRUE(fromFile.valid);
    EXPECT_EQ(FactsLine(fromFile), "1.00s  44.1k  stereo  16-bit");

    EXPECT_FALSE(ClipFileFacts(SoundLibrary, unreadable).valid);
    EXPECT_FALSE(ClipFileFacts(SoundLibrary, dir_.file("missing.wav")).valid);
    ASSERT_TRUE(test::WriteSoundFile(unreadable, test::MakeSine(440.0, 1.0, 48000), 1, 48000));
    EXPECT_FALSE(ClipFileFacts(SoundLibrary, unreadable).valid) << "the cache entry stays";
}

// The section in the inspector form.
class ClipSectionTest : public test::InspectorFixture {
protected:
    void TearDown() override {
        s.platformHooks.openFileDialog = nullptr;
        s.statusMessage.clear();
        test::InspectorFixture::TearDown();
    }
    std::string SoundFile(const char* name, double seconds) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, seconds, 48000), 1, 48000));
        return path;
    }
    // A Clip of 4 s at 10 s with its sync point 1 s in, one layer starting
    // at 9 s and its live voice.
    void OneClip(const std::string& path = "") {
        Event clip = test::MakeEvent(9, 4, 1, EventKind::Clip);
        clip.locked = true;
        CopyText(clip.pinnedFile, path);
        p.events = {clip};
        p.results.assign(1, LayerResult{});
        p.results[0].eventIdx = 0;
        p.results[0].startTime = 9.0f;
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        LivePlaybackEngine.voices.assign(1, Voice{});
        LivePlaybackEngine.voices[0].eventIndex = 0;
        LivePlaybackEngine.voices[0].resultIndex = 0;
        LivePlaybackEngine.voices[0].startTime = 9.0f;
    }
    float VoiceStart() {
        std::lock_guard<std::mutex> lock(LivePlaybackEngine.voiceMutex);
        return LivePlaybackEngine.voices[0].startTime;
    }
    float RowWidth() const { return m_.contentWidth - Fh() - m_.gap; }
    // The offset field's right end on the bottom row.
    float FieldX() const { return m_.padding + RowWidth() - 6.0f; }
    float BottomY() const { return m_.height - m_.padding - Fh() * 0.5f; }
    // Lets the double-click time pass, so the next press is a single click.
    void Settle() {
        harness_.MoveMouse(2000.0f, 2000.0f);
        for (int i = 0; i < 30; ++i) Frame();
    }
    void DoubleClickField() {
        ClickAt(FieldX(), BottomY());
        ImGuiWindow* w = Scroll();
        ASSERT_NE(w, nullptr);
        frames_.Click(w->Pos.x + FieldX(), w->Pos.y + BottomY(), body());
    }
    void Type(const char* text) {
        for (const char* c = text; *c != '\0'; ++c) harness_.io().AddInputCharacter(static_cast<unsigned>(*c));
        Frame();
    }

    test::TempDir dir_;
};

TEST_F(ClipSectionTest, ReplaceByTheButton) {
    const std::string door = SoundFile("door.wav", 1.5);
    const std::string gone = dir_.file("gone.wav");
    const std::string tooLong = "/tmp/" + std::string(600, 'a') + ".wav";
    struct Case {
        const char* name;
        bool hook;
        std::string chosen;
        bool busy;
        ClipReplaceResult result;
        float duration;  // after
        std::size_t layers;
    };
    const Case cases[] = {
        {"no hook", false, door, false, ClipReplaceResult::Cancelled, 4.0f, 1},
        {"cancelled", true, "", false, ClipReplaceResult::Cancelled, 4.0f, 1},
        {"path too long", true, tooLong, false, ClipReplaceResult::PathTooLong, 4.0f, 1},
        {"a job reads the layers", true, door, true, ClipReplaceResult::Busy, 4.0f, 1},
        {"placed from the file", true, door, false, ClipReplaceResult::Replaced, 1.5f, 1},
        {"a missing file keeps the duration", true, gone, false, ClipReplaceResult::Replaced, 4.0f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip(dir_.file("old.wav"));
        SelectOne(0);
        Settle();
        const std::int32_t oldId = p.results[0].id;
        std::string title, extension;
        int asked = 0;
        s.platformHooks.openFileDialog = nullptr;
        if (c.hook) {
            s.platformHooks.openFileDialog = [&](const std::string& t, const std::string& e) {
                title = t;
                extension = e;
                ++asked;
                return c.chosen;
            };
        }
        s.backgroundJob.active.store(c.busy);
        s.statusMessage.clear();
        // The right column's second button, on the first row under the header.
        ClickAt(m_.padding + RowWidth() + m_.gap + Fh() * 0.5f, SecondRowY() + Fh() * 0.5f);
        s.backgroundJob.active.store(false);
        const Event& e = p.events[0];
        const bool replaced = c.result == ClipReplaceResult::Replaced;
        EXPECT_EQ(asked, c.hook && !c.busy ? 1 : 0);
        if (asked > 0) {
            EXPECT_EQ(title, "Replace Audio File");
            EXPECT_EQ(extension, "wav");
        }
        EXPECT_EQ(TextOf(e.pinnedFile), replaced ? c.chosen : dir_.file("old.wav"));
        EXPECT_EQ(UndoStack.size(), replaced ? 1u : 0u);
        EXPECT_NEAR(e.duration, c.duration, 1e-3f);
        ASSERT_EQ(p.results.size(), c.layers);
        if (replaced && c.layers > 0) {
            EXPECT_NE(p.results[0].id, oldId) << "placed afresh";
            EXPECT_EQ(e.pinnedFileId.empty(), c.chosen == gone) << "a missing file has no identity";
            EXPECT_TRUE(e.usePinnedFile);
        }
        if (c.result == ClipReplaceResult::PathTooLong) {
            EXPECT_EQ(s.statusMessage.rfind("Path too long", 0), 0u);
        }
        if (c.result == ClipReplaceResult::Busy) {
            EXPECT_EQ(s.statusMessage, kBusyEditStatus);
        }
        ClearUndoHistory();
    }
    EXPECT_EQ(ReplaceClipFile(s, p, 5, door), ClipReplaceResult::NotAClip);
}

// Two pixels of upward drag make one frame; the offset stays within
// [0, duration] and the layer and voice move the other way.
TEST_F(ClipSectionTest, OffsetDragByFrames) {
    struct Case {
        const char* name;
        float fps;
        float dy;
        float offset;  // from 1 s
    };
    const Case cases[] = {
        {"5 frames up at 25 fps", 25.0f, -10.0f, 1.2f},
        {"5 frames down", 25.0f, 10.0f, 0.8f},
        {"three pixels: one frame, the half dropped", 25.0f, -3.0f, 1.04f},
        {"24 fps", 24.0f, -48.0f, 2.0f},
        {"no rate counts as 25", 0.0f, -2.0f, 1.04f},
        {"held at the duration", 25.0f, -1000.0f, 4.0f},
        {"held at zero", 25.0f, 1000.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip();
        p.fps = c.fps;
        SelectOne(0);
        Settle();
        s.unsavedChanges = false;
        Drag(FieldX(), BottomY(), 0.0f, c.dy);
        const float moved = c.offset - 1.0f;
        EXPECT_NEAR(p.events[0].syncOffset, c.offset, 1e-4f);
        EXPECT_NEAR(p.results[0].startTime, 9.0f - moved, 1e-4f);
        EXPECT_NEAR(VoiceStart(), 9.0f - moved, 1e-4f);
        EXPECT_TRUE(s.unsavedChanges);
        EXPECT_TRUE(UndoStack.empty()) << "a light edit";
    }
    p.fps = 25.0f;
}

TEST_F(ClipSectionTest, OffsetRefusedWhileAJobReadsTheLayers) {
    OneClip();
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(SetClipSyncOffset(s, p, LivePlaybackEngine, 0, 2.0f));
    s.backgroundJob.active.store(false);
    EXPECT_EQ(p.events[0].syncOffset, 1.0f);
    EXPECT_EQ(p.results[0].startTime, 9.0f);
    EXPECT_EQ(s.statusMessage, kBusyEditStatus);
    EXPECT_FALSE(SetClipSyncOffset(s, p, LivePlaybackEngine, 0, 1.0f)) << "no change";
    EXPECT_FALSE(SetClipSyncOffset(s, p, LivePlaybackEngine, 3, 1.0f)) << "no such event";
}

// A double click types; Enter or a focus lost three frames later commits,
// Escape and text that is no timecode change nothing. Typing ends each time.
TEST_F(ClipSectionTest, OffsetTyping) {
    enum class End { Enter, FocusLost, Escape };
    struct Case {
        const char* name;
        const char* typed;
        End end;
        float offset;
    };
    const Case cases[] = {
        {"Enter", "00:00:02:10", End::Enter, 2.4f},
        {"focus lost", "00:00:03:00", End::FocusLost, 3.0f},
        {"held at the duration", "00:00:09:00", End::Enter, 4.0f},
        {"Escape", "00:00:02:10", End::Escape, 1.0f},
        {"too few numbers", "12:30", End::Enter, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClip();
        SelectOne(0);
        Settle();
        s.unsavedChanges = false;
        DoubleClickField();
        EXPECT_TRUE(ClipOffsetTyping());
        for (int i = 0; i < 3; ++i) Frame();  // the field takes the focus
        EXPECT_TRUE(ClipOffsetTyping());
        Type(c.typed);
        switch (c.end) {
            case End::Enter: frames_.Press(ImGuiKey_Enter, body()); break;
            case End::Escape: frames_.Press(ImGuiKey_Escape, body()); break;
            case End::FocusLost: ClickAt(m_.padding + 4.0f, m_.height * 0.5f); break;
        }
        Frame();
        EXPECT_FALSE(ClipOffsetTyping());
        EXPECT_NEAR(p.events[0].syncOffset, c.offset, 1e-4f);
        EXPECT_NEAR(VoiceStart(), 9.0f - (c.offset - 1.0f), 1e-4f);
        EXPECT_EQ(s.unsavedChanges, c.offset != 1.0f);
        EXPECT_TRUE(UndoStack.empty());
    }
}

// A time typed at any project rate reads back as the text typed.
TEST_F(ClipSectionTest, TypedTimecodeReadsBackAtEveryRate) {
    const float rates[] = {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 59.94f};
    const char* texts[] = {"00:00:10:15", "00:01:00:00", "00:00:59:23", "00:00:00:01"};
    for (float fps : rates) {
        for (const char* text : texts) {
            SCOPED_TRACE(std::to_string(fps) + " " + text);
            OneClip();
            p.events[0].duration = 100.0f;
            ASSERT_TRUE(CommitTypedClipOffset(s, p, LivePlaybackEngine, 0, fps, text));
            char back[32];
            FormatTimecode(fps, p.events[0].syncOffset, back, sizeof(back));
            EXPECT_STREQ(back, text);
        }
    }
}

// Every state of the section draws: no file, an unreadable file, a file
// with a long non-ASCII name and a full description, a muted clip.
TEST_F(ClipSectionTest, DrawsEveryState) {
    const std::string named = dir_.file("T\xc3\xbcrglocke_mit_sehr_langem_Namen_\xc3\xa4\xc3\xb6\xc3\xbc.wav");
    ASSERT_TRUE(test::WriteSoundFile(named, test::MakeSine(440.0, 1.0, 48000), 1, 48000));
    const std::string broken = dir_.file("broken.wav");
    ASSERT_TRUE(test::WriteBytes(broken, "not audio"));
    for (const std::string& path : {std::string(), broken, named}) {
        for (bool muted : {false, true}) {
            OneClip(path);
            p.events[0].muted = muted;
            SelectOne(0);
            harness_.MoveMouse(m_.padding + 20.0f, SecondRowY() + 4.0f);  // over the file line
            Frame();
            Frame();
            IdleFrame();
        }
    }
    EXPECT_FALSE(s.unsavedChanges) << "drawing changes nothing";
}

}  // namespace
}  // namespace korvel
