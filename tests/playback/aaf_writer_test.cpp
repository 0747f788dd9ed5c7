// The AAF writer end to end: files written through the loader and the
// runtime library, rebuilt with the independent readers in tests/support
// (mobs, each track's sequence, gain groups, timecode and marker slots).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "playback/aaf_loader.h"
#include "playback/aaf_writer.h"
#include "aaf_session_reader.h"
#include "support/aaf_reader.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::aafr::Object;

std::string Bytes(const void* p, std::size_t n) { return std::string(static_cast<const char*>(p), n); }
std::string AuidBytes(const aafUID_t& u) {
    return Bytes(&u.Data1, 4) + Bytes(&u.Data2, 2) + Bytes(&u.Data3, 2) + Bytes(u.Data4, 8);
}
bool Is(const Object& o, const aafUID_t& cls) { return Bytes(o.classId.data(), 16) == AuidBytes(cls); }

std::int64_t Int(const Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    if (!p) return -999999;
    std::int64_t x = 0;
    for (std::size_t i = p->value.size(); i-- > 0;) x = x << 8 | static_cast<unsigned char>(p->value[i]);
    if (p->value.size() == 4) x = static_cast<std::int32_t>(x);
    return x;
}

std::u16string Str(const Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    return p ? test::aafr::DecodeUtf16(p->value) : u"<none>";
}

std::vector<const Object*> Elements(const Object& o, std::uint16_t pid) {
    std::vector<const Object*> out;
    if (const test::aafr::Property* p = o.Find(pid))
        for (const Object& e : p->objects) out.push_back(&e);
    return out;
}

const Object* Strong(const Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    return p && p->objects.size() == 1 ? &p->objects.front() : nullptr;
}

// A rational stored in an indirect value: "n/d".
std::string IndirectRational(const Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    if (!p || p->value.size() != 25) return "?";
    auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p->value[at + i]);
        return static_cast<std::int32_t>(v);
    };
    return std::to_string(word(17)) + "/" + std::to_string(word(21));
}

// One component as a short text: F filler, C clip (length:start),
// T transition (length/cut point), G gain or dissolve group with its
// parameters (K constant, V varying with its point count) around its input.
std::string Describe(const Object& c) {
    if (Is(c, AUID_AAFFiller)) return "F" + std::to_string(Int(c, 0x0202));
    if (Is(c, AUID_AAFSourceClip)) return "C" + std::to_string(Int(c, 0x0202)) + ":" + std::to_string(Int(c, 0x1201));
    if (Is(c, AUID_AAFTransition)) return "T" + std::to_string(Int(c, 0x0202)) + "/" + std::to_string(Int(c, 0x1802));
    if (Is(c, AUID_AAFOperationGroup)) {
        std::string out = "G[";
        for (const Object* p : Elements(c, 0x0b03)) {
            if (Is(*p, AUID_AAFConstantValue)) out += "K" + IndirectRational(*p, 0x4d01);
            if (Is(*p, AUID_AAFVaryingValue)) out += "V" + std::to_string(Elements(*p, 0x4e02).size());
        }
        out += "](";
        for (const Object* in : Elements(c, 0x0b02)) out += Describe(*in);
        return out + ")";
    }
    return "?";
}

struct Rebuilt {
    test::aafr::File file;
    std::vector<const Object*> sourceMobs, masterMobs, compositionMobs;
};

Rebuilt Read(const std::string& path) {
    Rebuilt r;
    r.file = test::aafr::Read(test::ReadBytes(path));
    if (!r.file.ok) return r;
    const Object* header = Strong(r.file.root, 0x0002);
    const Object* content = header ? Strong(*header, 0x3b03) : nullptr;
    if (!content) return r;
    for (const Object* m : Elements(*content, 0x1901)) {
        if (Is(*m, AUID_AAFSourceMob)) r.sourceMobs.push_back(m);
        if (Is(*m, AUID_AAFMasterMob)) r.masterMobs.push_back(m);
        if (Is(*m, AUID_AAFCompositionMob)) r.compositionMobs.push_back(m);
    }
    return r;
}

struct Slot {
    std::int64_t id = 0;
    std::u16string name;
    std::vector<std::string> components;
    const Object* segment = nullptr;
};

std::vector<Slot> Slots(const Object& mob) {
    std::vector<Slot> out;
    for (const Object* s : Elements(mob, 0x4403)) {
        Slot slot;
        slot.id = Int(*s, 0x4801);
        slot.name = Str(*s, 0x4802);
        slot.segment = Strong(*s, 0x4803);
        if (slot.segment)
            for (const Object* c : Elements(*slot.segment, 0x1001)) slot.components.push_back(Describe(*c));
        out.push_back(std::move(slot));
    }
    return out;
}

// A clip list of `n` one-file clips on track 0, filled as a case needs.
AAFClipList Clips(std::size_t n, const std::string& essence = "/audio/boom.wav") {
    AAFClipList c;
    for (std::size_t i = 0; i < n; ++i) {
        c.essencePaths.push_back(essence);
        c.clipNames.push_back("boom");
        c.positions.push_back(0);
        c.lengths.push_back(1000);
        c.sourceOffsets.push_back(0);
        c.sourceLengths.push_back(48000);
        c.tracks.push_back(0);
    }
    return c;
}

class AAFWriterTest : public ::testing::Test {
protected:
    void SetUp() override { AAFRuntimeLibraryPath = nullptr; }
    std::string Path(const char* name) const { return dir_.file(name); }
    test::TempDir dir_;
};

TEST_F(AAFWriterTest, SharedFormSharesOneSourceAndMasterMobPerEssenceFile) {
    AAFClipList clips = Clips(10);
    for (std::size_t i = 0; i < 10; ++i) {
        clips.positions[i] = static_cast<std::int64_t>(i) * 2000;
        clips.sourceOffsets[i] = static_cast<std::int64_t>(i) * 100;
    }
    clips.clipNames[0] = "first \xF0\x9F\x94\x8A cut";  // a character beyond 16 bits
    ASSERT_TRUE(WriteAAFSessionShared(Path("shared.aaf"), clips, {"FX 1"}, 48000, {}));
    ASSERT_TRUE(WriteAAFSession(Path("plain.aaf"), clips, {"FX 1"}, 48000, {}));

    const Rebuilt shared = Read(Path("shared.aaf"));
    ASSERT_TRUE(shared.file.ok) << shared.file.error;
    EXPECT_EQ(shared.sourceMobs.size(), 1u);
    ASSERT_EQ(shared.masterMobs.size(), 1u);
    // Whole, as a surrogate pair.
    EXPECT_EQ(Str(*shared.masterMobs[0], 0x4402), u"first \U0001F50A cut");
    EXPECT_EQ(Str(*shared.sourceMobs[0], 0x4402), u"first \U0001F50A cut");
    const Rebuilt plain = Read(Path("plain.aaf"));
    ASSERT_TRUE(plain.file.ok) << plain.file.error;
    EXPECT_EQ(plain.sourceMobs.size(), 10u);
    EXPECT_EQ(plain.masterMobs.size(), 10u);

    // The shared clips play from their offsets; the plain ones from 0.
    const std::vector<Slot> sharedSlots = Slots(*shared.compositionMobs.at(0));
    ASSERT_EQ(sharedSlots.size(), 2u);
    EXPECT_EQ(sharedSlots[1].components.at(2), "C1000:100");
    EXPECT_EQ(Slots(*plain.compositionMobs.at(0)).at(1).components.at(2), "C1000:0");

    // The master mob plays the source mob, which describes the WAVE file.
    const Object* masterClip = Strong(*Elements(*shared.masterMobs[0], 0x4403).at(0), 0x4803);
    ASSERT_NE(masterClip, nullptr);
    EXPECT_EQ(masterClip->Find(0x1101)->value, shared.sourceMobs[0]->Find(0x4401)->value);
    const Object* descriptor = Strong(*shared.sourceMobs[0], 0x4701);
    ASSERT_NE(descriptor, nullptr);
    const std::array<std::uint8_t, 44> summary = MakeWaveSummary(48000, 48000);
    ASSERT_NE(descriptor->Find(0x3801), nullptr);  // WAVEDescriptor::Summary
    EXPECT_EQ(descriptor->Find(0x3801)->value, Bytes(summary.data(), 44));
    EXPECT_EQ(Str(*Elements(*descriptor, 0x2f01).at(0), 0x4001), u"file:///audio/boom.wav");
    // Every composition clip references a master mob that exists.
    for (const std::string& c : sharedSlots[1].components) EXPECT_EQ(c[0] == 'C' || c[0] == 'F', true) << c;
}

TEST_F(AAFWriterTest, SequencesLayClipsFadesAndOverlapsOnTheTimeline) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> positions, lengths;
        std::vector<std::int32_t> fadeIns, fadeOuts;
        std::vector<std::vector<std::string>> lanes;  // the track's slots, its own first
    };
    const std::vector<Case> cases = {
        {"three overlapping clips", {0, 900, 1800}, {1000, 1000, 1000}, {}, {},
         {{"C1000:0", "T100/50", "C1000:0", "T100/50", "C1000:0"}}},
        {"fades shortened to half a clip", {1000}, {1000}, {800}, {900},
         {{"F1500", "T500/0", "C1000:0", "T500/500", "F500"}}},
        {"a clip at a negative position", {-200}, {1000}, {}, {}, {{"C800:200"}}},
        // Clips that a sequence could only hold by moving them take lanes of
        // their own (formerly laid end to end, or cut, in one sequence).
        {"equal positions take a lane each", {0, 0}, {500, 500}, {}, {}, {{"C500:0"}, {"C500:0"}}},
        {"a fade-in at the same position as a clip", {0, 0}, {1000, 1000}, {0, 400}, {},
         {{"C1000:0"}, {"F400", "T400/0", "C1000:0"}}},
        {"a clip inside the one before it", {0, 100}, {1000, 50}, {}, {}, {{"C1000:0"}, {"F100", "C50:0"}}},
        {"an overlap longer than the clip has left after its crossfade", {0, 900, 950}, {1000, 1000, 1000}, {}, {},
         {{"C1000:0", "T100/50", "C1000:0"}, {"F950", "C1000:0"}}},
        {"zero-length clips are left out", {0, 10}, {0, 100}, {}, {}, {{"F10", "C100:0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AAFClipList clips = Clips(c.positions.size());
        clips.positions = c.positions;
        clips.lengths = c.lengths;
        clips.fadeIns = c.fadeIns;
        clips.fadeOuts = c.fadeOuts;
        testing::internal::CaptureStdout();
        const bool written = WriteAAFSessionShared(Path("seq.aaf"), clips, {}, 48000, {});
        const std::string lines = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(written) << lines;
        const Rebuilt r = Read(Path("seq.aaf"));
        ASSERT_TRUE(r.file.ok) << r.file.error;
        const std::vector<Slot> slots = Slots(*r.compositionMobs.at(0));
        ASSERT_EQ(slots.size(), 1 + c.lanes.size());
        for (std::size_t lane = 0; lane < c.lanes.size(); ++lane) {
            EXPECT_EQ(slots[1 + lane].id, static_cast<std::int64_t>(lane) + 1);
            EXPECT_EQ(slots[1 + lane].name, lane == 0 ? u"Track 1" : u"Track 1 (" + std::u16string(1, static_cast<char16_t>(u'1' + lane)) + u")");
            EXPECT_EQ(slots[1 + lane].components, c.lanes[lane]);
        }
    }
}

TEST_F(AAFWriterTest, AClipInsideAnotherMovesNoLaterClip) {
    // A [0, 10000), B [2000, 4000) inside it, C at 12000, D crossfading
    // into C; a second track after it keeps its own slot.
    AAFClipList clips = Clips(5);
    clips.positions = {0, 2000, 12000, 14000, 500};
    clips.lengths = {10000, 2000, 3000, 3000, 1000};
    clips.tracks = {0, 0, 0, 0, 1};
    for (std::size_t i = 0; i < 5; ++i) {
        clips.essencePaths[i] = "/audio/clip" + std::to_string(i) + ".wav";
        clips.clipNames[i] = "clip" + std::to_string(i);
    }
    ASSERT_TRUE(WriteAAFSessionShared(Path("contained.aaf"), clips, {"FX 1", "FX 2"}, 48000, {}));
    const test::session::Session s = test::session::Read(Path("contained.aaf"));
    ASSERT_TRUE(s.file.ok) << s.file.error;
    std::vector<std::tuple<std::string, std::string, std::int64_t, std::int64_t>> placed;
    for (const test::session::Track& t : s.tracks)
        for (const test::session::Clip& c : t.clips) placed.emplace_back(t.name, c.name, c.position, c.length);
    const std::vector<std::tuple<std::string, std::string, std::int64_t, std::int64_t>> want = {
        {"FX 1", "clip0", 0, 10000},  {"FX 1", "clip2", 12000, 3000}, {"FX 1", "clip3", 14000, 3000},
        {"FX 1 (2)", "clip1", 2000, 2000}, {"FX 2", "clip4", 500, 1000}};
    EXPECT_EQ(placed, want);
}

TEST_F(AAFWriterTest, GainsBecomeNestedGroups) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        float gain;
        bool envelope;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"unity", 1.0f, false, "C1000:0"},
        {"envelope only", 1.0f, true, "G[V64](C1000:0)"},
        {"gain and envelope", 2.0f, true, "G[V64](G[K171798688/85899345](C1000:0))"},
        {"constant gain alone", 2.0f, false, "G[K171798688/85899345](C1000:0)"},
        {"above the cap", 30.0f, false, "G[K2147483600/85899345](C1000:0)"},
        {"at the cap", 25.0f, false, "G[K2147483600/85899345](C1000:0)"},
        {"not a number", nan, false, "C1000:0"},
        {"infinite", inf, false, "C1000:0"},
        {"negative", -2.0f, false, "C1000:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AAFClipList clips = Clips(1);
        clips.gains = {c.gain};
        ClipGainEnvelope envelope;
        envelope.present = c.envelope;
        envelope.points.fill(0.5f);
        envelope.points[3] = nan;
        envelope.points[4] = inf;
        clips.envelopes = {envelope};
        ASSERT_TRUE(WriteAAFSessionShared(Path("gain.aaf"), clips, {}, 48000, {}));
        const Rebuilt r = Read(Path("gain.aaf"));
        ASSERT_TRUE(r.file.ok) << r.file.error;
        const std::vector<Slot> slots = Slots(*r.compositionMobs.at(0));
        ASSERT_EQ(slots.at(1).components.size(), 1u);
        EXPECT_EQ(slots[1].components[0], c.want);
        if (c.envelope) {
            // Points as thousandths at j/63; the non-finite ones made usable.
            const Object* group = Elements(*slots[1].segment, 0x1001).at(0);
            const Object* varying = Elements(*group, 0x0b03).at(0);
            const std::vector<const Object*> points = Elements(*varying, 0x4e02);
            ASSERT_EQ(points.size(), 64u);
            EXPECT_EQ(IndirectRational(*points[0], 0x1a02), "500/1000");
            EXPECT_EQ(IndirectRational(*points[3], 0x1a02), "1000/1000");
            EXPECT_EQ(IndirectRational(*points[4], 0x1a02), "25000/1000");
            EXPECT_EQ(Int(*points[63], 0x1a03), std::int64_t{63} << 32 | 63);
        }
    }
}

TEST_F(AAFWriterTest, SlotIdsStayUniqueAndTheTimecodeSlotIsAsGiven) {
    struct Case {
        int tracks;
        std::int64_t lastAudio, markerSlot;
    };
    const std::vector<Case> cases = {{3, 3, 5}, {98, 98, 101}, {99, 99, 101}, {100, 101, 102}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tracks);
        AAFClipList clips = Clips(static_cast<std::size_t>(c.tracks));
        for (int t = 0; t < c.tracks; ++t) clips.tracks[static_cast<std::size_t>(t)] = t;
        ASSERT_TRUE(WriteAAFSessionShared(Path("slots.aaf"), clips, {"Dialog"}, 48000, {{10, "m"}}));
        const Rebuilt r = Read(Path("slots.aaf"));
        ASSERT_TRUE(r.file.ok) << r.file.error;
        const std::vector<Slot> slots = Slots(*r.compositionMobs.at(0));
        ASSERT_EQ(slots.size(), static_cast<std::size_t>(c.tracks) + 2);
        std::vector<std::int64_t> ids;
        for (const Slot& s : slots) ids.push_back(s.id);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "duplicate slot ID";
        EXPECT_EQ(slots[0].id, 100);
        EXPECT_EQ(slots[0].name, u"TC");
        EXPECT_EQ(slots[1].name, u"Dialog");
        EXPECT_EQ(slots[2].name, u"Track 2");
        EXPECT_EQ(slots[slots.size() - 2].id, c.lastAudio);
        EXPECT_EQ(slots.back().id, c.markerSlot);
        // The timecode: start 0, 25 frames per second, non-drop, to the end.
        const Object& tc = *slots[0].segment;
        EXPECT_EQ(Int(tc, 0x1501), 0);
        EXPECT_EQ(Int(tc, 0x1502), 25);
        EXPECT_EQ(Int(tc, 0x1503), 0);
        EXPECT_EQ(Int(tc, 0x0202), 1000);
    }

    // An empty clip list: only the timecode slot, 60 seconds long.
    ASSERT_TRUE(WriteAAFSession(Path("empty.aaf"), AAFClipList{}, {}, 48000, {}));
    const Rebuilt r = Read(Path("empty.aaf"));
    ASSERT_TRUE(r.file.ok) << r.file.error;
    const std::vector<Slot> slots = Slots(*r.compositionMobs.at(0));
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(Int(*slots[0].segment, 0x0202), 48000 * 60);
}

TEST_F(AAFWriterTest, MarkersInPositionOrderWithoutNegativeOnes) {
    const std::vector<AAFMarker> markers = {
        {48000, "Impact, 1.00 s"}, {0, "Start"}, {-1, "before the start"}, {24000, "Rise \xF0\x9F\x94\x8A"}};
    ASSERT_TRUE(WriteAAFSessionShared(Path("markers.aaf"), Clips(1), {}, 48000, markers));
    const Rebuilt r = Read(Path("markers.aaf"));
    ASSERT_TRUE(r.file.ok) << r.file.error;
    const std::vector<Slot> slots = Slots(*r.compositionMobs.at(0));
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_EQ(slots[2].id, 3);
    const std::vector<const Object*> events = Elements(*slots[2].segment, 0x1001);
    ASSERT_EQ(events.size(), 3u);
    const std::vector<std::pair<std::int64_t, std::u16string>> want = {
        {0, u"Start"}, {24000, u"Rise \U0001F50A"}, {48000, u"Impact, 1.00 s"}};
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(Is(*events[i], AUID_AAFCommentMarker));
        EXPECT_EQ(Int(*events[i], 0x0601), want[i].first);
        EXPECT_EQ(Str(*events[i], 0x0602), want[i].second);
        EXPECT_EQ(Int(*events[i], 0x0202), 0);
    }
}

TEST(AAFWriterText, FileUrlsStringsAndTheWaveSummary) {
    struct UrlCase {
        std::string path, want;
    };
    const std::vector<UrlCase> urls = {
        {"/tmp/a.wav", "file:///tmp/a.wav"},
        {"/tmp/my cue.wav", "file:///tmp/my%20cue.wav"},
        {"C:\\out\\x.wav", "file://C%3A%5Cout%5Cx.wav"},
        {"/t/\xC3\xA9-_.~", "file:///t/%C3%A9-_.~"},
        {"", "file://"},
    };
    for (const UrlCase& c : urls) EXPECT_EQ(MakeFileURL(c.path), c.want) << c.path;

    struct StringCase {
        std::string utf8;
        std::u16string want;
    };
    const std::vector<StringCase> strings = {
        {"", std::u16string(1, u'\0')},
        {"a b", std::u16string(u"a b") + u'\0'},
        {"\xC3\xA9", std::u16string(u"\u00e9") + u'\0'},
        {"\xE4\xB8\xAD", std::u16string(u"\u4e2d") + u'\0'},
        {"x\xF0\x9F\x94\x8Ay", std::u16string(u"x\xD83D\xDD0Ay") + u'\0'},  // a surrogate pair
        {"\xF4\x8F\xBF\xBF", std::u16string(u"\xDBFF\xDFFF") + u'\0'},      // U+10FFFF
        {"\xC3", std::u16string(u"\xFFFD") + u'\0'},                   // lead byte at the end
        {"\xE4\xB8", std::u16string(u"\xFFFD\xFFFD") + u'\0'},        // too short for its lead
        {"\x80z", std::u16string(u"\xFFFDz") + u'\0'},                 // stray continuation
        {"\xC3z", std::u16string(u"\xFFFDz") + u'\0'},                 // lead without its continuation
        {"\xC0\xAF", std::u16string(u"\xFFFD\xFFFD") + u'\0'},        // overlong "/"
        {"\xED\xA0\x80", std::u16string(u"\xFFFD\xFFFD\xFFFD") + u'\0'},  // an encoded surrogate
        {"\xF4\x90\x80\x80", std::u16string(u"\xFFFD\xFFFD\xFFFD\xFFFD") + u'\0'},  // beyond U+10FFFF
    };
    for (const StringCase& c : strings) EXPECT_EQ(Utf8ToAAFString(c.utf8), c.want) << c.utf8;
    // Paths keep every byte: one that starts no character is U+DC00 + the byte.
    EXPECT_EQ(PathToAAFString("/a\xE9\xF0\x9F\x94\x8A/\xFF"),
              std::u16string(u"/a\xDCE9\xD83D\xDD0A/\xDCFF") + u'\0');

    const std::array<std::uint8_t, 44> s = MakeWaveSummary(1000, 48000);
    const std::string want = std::string("RIFF") + Bytes("\xDC\x0B\0\0", 4) + "WAVEfmt " + Bytes("\x10\0\0\0\x01\0\x01\0", 8) +
                             Bytes("\x80\xBB\0\0\x80\x32\x02\0\x03\0\x18\0", 12) + "data" + Bytes("\xB8\x0B\0\0", 4);
    EXPECT_EQ(Bytes(s.data(), 44), want);
    // The data size saturates at 32 bits.
    const std::array<std::uint8_t, 44> huge = MakeWaveSummary(std::int64_t{1} << 40, 48000);
    EXPECT_EQ(Bytes(huge.data() + 40, 4), Bytes("\xFF\xFF\xFF\xFF", 4));
}

TEST_F(AAFWriterTest, FailedLoadsAreTriedAgainAndUnwritableFoldersFail) {
    UnloadAAFDLL();
    AAFPluginsRegistered = false;
    AAFRuntimeLibraryPath = "/nonexistent/libAAFCOAPI.so";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAAFSession(Path("a.aaf"), Clips(1), {}, 48000, {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[AAF] AAFLoad FAILED hr=0x8007007E\n");
    EXPECT_FALSE(AAFPluginsRegistered);

    AAFRuntimeLibraryPath = nullptr;
    EXPECT_TRUE(WriteAAFSession(Path("a.aaf"), Clips(1), {}, 48000, {}));
    EXPECT_TRUE(AAFPluginsRegistered);
    AAFDLL* loaded = AAFDLLInstance;
    ASSERT_NE(loaded, nullptr);
    // The second export keeps the loaded library.
    EXPECT_TRUE(WriteAAFSession(Path("b.aaf"), Clips(1), {}, 48000, {}));
    EXPECT_EQ(AAFDLLInstance, loaded);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAAFSession("/nonexistent folder/x.aaf", Clips(1), {}, 48000, {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("[AAF] OpenNewModifyEx FAILED hr=0x", 0), 0u);

    // A runtime call refused while building mobs ends the write: the file is
    // not reported written.
    AAFClipList broken = Clips(1);
    broken.sourceLengths[0] = -5;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAAFSessionShared(Path("c.aaf"), broken, {}, 48000, {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[AAF] SetLength FAILED hr=0x80120053\n");
}

}  // namespace
}  // namespace korvel
