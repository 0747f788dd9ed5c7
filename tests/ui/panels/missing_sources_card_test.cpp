// The missing-sources card with the real registry, relinking and render
// cache: tiny WAVs are written, registered, used by the project's layers,
// then moved, rewritten or deleted, and found again through fake dialogs.
#include "ui/panels/missing_sources_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "app/ui_layout.h"
#include "library/missing_sources.h"
#include "library/relink.h"
#include "library_fixture.h"
#include "panels_fixture.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::LibraryTabTest;

constexpr int kRate = 8000;

struct Source {
    std::string path;
    FileId id;
};

class MissingSourcesCardTest : public LibraryTabTest {
protected:
    void SetUp() override {
        LibraryTabTest::SetUp();
        Reset();
    }
    void TearDown() override {
        Reset();
        LibraryTabTest::TearDown();
    }
    // Everything a case of a table starts without.
    void Reset() {
        MissingSourcesCard = MissingSourcesCardState{};
        AppState& s = GlobalAppState;
        s.MissingSources.clear();
        s.statusMessage.clear();
        s.statusTime = 0.0f;
        s.unsavedChanges = false;
        s.backgroundJob.active.store(false);
        s.exportRunning.store(false);
        s.platformHooks = PlatformHooks{};
        s.projectSampleRate = kRate;
        CurrentProject = Project{};
        PrepareVoices(LivePlaybackEngine, kRate, 0);
    }

    // A WAV whose content no other test of the process writes (the registry
    // is process-wide and knows content it has seen), registered.
    Source Sound(const std::string& name) {
        static int written = 0;
        Source s;
        s.path = dir.file("orig/" + name);
        fs::create_directories(fs::path(s.path).parent_path());
        EXPECT_TRUE(test::WriteSoundFile(s.path, test::MakeSine(211.0 + 37.0 * ++written, 0.05, kRate, 1, 0.5), 1, kRate));
        s.id = ComputeFileId(s.path).id;
        EXPECT_FALSE(s.id.empty());
        return s;
    }
    // One event per source, each with one layer playing it.
    void UseInLayers(const std::vector<Source>& sources) {
        for (const Source& s : sources) {
            LayerResult layer;
            layer.eventIdx = static_cast<std::int32_t>(CurrentProject.events.size());
            layer.filepath = s.path;
            layer.fileId = s.id;
            layer.startTime = 0.1f * static_cast<float>(layer.eventIdx);
            layer.duration = 0.05f;
            layer.sourceDuration = 0.05f;
            CurrentProject.events.emplace_back();
            CurrentProject.results.push_back(layer);
        }
    }
    std::string Move(const Source& s, const std::string& to) {
        const std::string path = dir.file(to);
        fs::create_directories(fs::path(path).parent_path());
        fs::rename(s.path, path);
        return path;
    }
    static void Scan() { ScanMissingSources(true, 0.0); }
    static std::vector<std::string> ListedIds() {
        std::vector<std::string> ids;
        for (const MissingSource& m : GlobalAppState.MissingSources) ids.push_back(m.fileId);
        return ids;
    }
    // Whether layer `i`'s voice holds sound: a missing source renders silence.
    static bool VoiceSounds(std::size_t i) {
        const auto& voices = LivePlaybackEngine.voices;
        if (i >= voices.size()) return false;
        return std::any_of(voices[i].samplesL.begin(), voices[i].samplesL.end(),
                           [](float v) { return std::fabs(v) > 1e-3f; });
    }
};

TEST(LocateFileExtension, FromTheEntrysName) {
    struct Case {
        const char* name;
        const char* extension;
    };
    const Case cases[] = {
        {"Door Slam.wav", "wav"},   {"RAIN.FLAC", "FLAC"}, {"take.2.aif", "aif"},
        {"no extension", "wav"},   {"trailing.", "wav"},  {"(unknown file)", "wav"},
    };
    for (const Case& c : cases) EXPECT_EQ(LocateFileExtension(c.name), c.extension) << c.name;
}

TEST(MissingSourceUseText, PaletteCountOnlyWhenPalettesHoldIt) {
    struct Case {
        std::int32_t events, palettes;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, "used by 1 event"},
        {3, 0, "used by 3 events"},
        {1, 1, "used by 1 event \xC2\xB7 1 palette"},
        {2, 4, "used by 2 events \xC2\xB7 4 palettes"},
    };
    for (const Case& c : cases) {
        MissingSource entry;
        entry.eventCount = c.events;
        entry.paletteCount = c.palettes;
        EXPECT_EQ(MissingSourceUseText(entry), c.text);
    }
}

TEST_F(MissingSourcesCardTest, ActionsAndOutcomes) {
    enum class Act { RelinkAll, Locate, LocateFolder };
    enum class Setup { NothingBack, AllBack, OneMoved, OtherContent, Unreadable, Cancelled, FolderByContent, FolderEmpty };
    struct Case {
        const char* name;
        Setup setup;
        Act act;
        const char* status;  // "" = none
        std::size_t listed;  // entries left
        bool pending;        // a different-content file waits
        bool pathsMoved;     // the project's stored paths changed (and the project is marked changed)
    };
    const Case cases[] = {
        {"relink all finds nothing", Setup::NothingBack, Act::RelinkAll, "No matching files found", 3, false, false},
        {"relink all finds three", Setup::AllBack, Act::RelinkAll, "Relinked 3 files", 0, false, false},
        {"locate one moved file", Setup::OneMoved, Act::Locate, "Relinked 1 file", 2, false, true},
        {"locate a file of other content", Setup::OtherContent, Act::Locate, "", 3, true, false},
        {"locate a vanished file", Setup::Unreadable, Act::Locate, "Could not read the selected file", 3, false, false},
        {"locate cancelled", Setup::Cancelled, Act::Locate, "", 3, false, false},
        {"folder holding them renamed", Setup::FolderByContent, Act::LocateFolder, "Relinked 3 files", 0, false, true},
        {"folder holding nothing", Setup::FolderEmpty, Act::LocateFolder, "No matching files found", 3, false, false},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        const std::string tag = std::to_string(++round);
        const std::vector<Source> sources = {Sound(tag + "a.wav"), Sound(tag + "b.wav"), Sound(tag + "c.wav")};
        UseInLayers(sources);
        std::vector<std::string> parked;
        for (const Source& s : sources) parked.push_back(Move(s, "parked" + tag + "/" + fs::path(s.path).filename().string()));
        Scan();
        ASSERT_EQ(GlobalAppState.MissingSources.size(), 3u);
        const MissingSource first = GlobalAppState.MissingSources[0];
        const std::size_t firstLayer = static_cast<std::size_t>(
            std::find_if(sources.begin(), sources.end(), [&](const Source& s) { return s.id == first.fileId; }) -
            sources.begin());

        std::string chosen;
        std::string folder;
        switch (c.setup) {
            case Setup::NothingBack: break;
            case Setup::AllBack:
                for (std::size_t i = 0; i < sources.size(); ++i) fs::rename(parked[i], sources[i].path);
                break;
            case Setup::OneMoved: chosen = parked[firstLayer]; break;
            case Setup::OtherContent: chosen = Sound(tag + "other.wav").path; break;
            case Setup::Unreadable: chosen = dir.file("vanished.wav"); break;
            case Setup::Cancelled: break;
            case Setup::FolderByContent:
                // Other names, deeper down: found by content alone.
                for (std::size_t i = 0; i < parked.size(); ++i)
                    Move(Source{parked[i], {}}, "found" + tag + "/deep/renamed" + std::to_string(i) + ".WAV");
                folder = dir.file("found" + tag);
                break;
            case Setup::FolderEmpty:
                fs::create_directories(dir.file("empty" + tag));
                Sound(tag + "unrelated.wav");
                folder = dir.file("empty" + tag);
                break;
        }
        std::string offeredTitle, offeredExtension;
        GlobalAppState.platformHooks.openFileDialog = [&](const std::string& title, const std::string& extension) {
            offeredTitle = title;
            offeredExtension = extension;
            return chosen;
        };
        GlobalAppState.platformHooks.pickFolder = [&] { return folder; };
        const std::vector<std::string> pathsBefore = {CurrentProject.results[0].filepath,
                                                      CurrentProject.results[1].filepath,
                                                      CurrentProject.results[2].filepath};

        switch (c.act) {
            case Act::RelinkAll: RelinkAllMissingSources(); break;
            case Act::Locate:
                LocateMissingFile(first);
                EXPECT_EQ(offeredTitle, "Locate Missing File");
                EXPECT_EQ(offeredExtension, "wav");
                break;
            case Act::LocateFolder: LocateMissingFolder(); break;
        }

        EXPECT_EQ(GlobalAppState.statusMessage, c.status);
        EXPECT_EQ(GlobalAppState.MissingSources.size(), c.listed);
        EXPECT_EQ(!MissingSourcesCard.pendingForceRelinkId.empty(), c.pending);
        if (c.pending) {
            EXPECT_EQ(MissingSourcesCard.pendingForceRelinkId, first.fileId);
            EXPECT_EQ(MissingSourcesCard.pendingForceRelinkPath, chosen);
        }
        const bool moved = CurrentProject.results[0].filepath != pathsBefore[0] ||
                           CurrentProject.results[1].filepath != pathsBefore[1] ||
                           CurrentProject.results[2].filepath != pathsBefore[2];
        EXPECT_EQ(moved, c.pathsMoved);
        EXPECT_EQ(GlobalAppState.unsavedChanges, c.pathsMoved);  // a relink takes no undo step but is a change
        // Relinked layers are rendered at once; nothing is rendered after no relink.
        const bool rendered = c.listed < 3;
        EXPECT_EQ(LivePlaybackEngine.voices.size(), rendered ? 3u : 0u);
        if (rendered) {
            const std::vector<std::string> listed = ListedIds();
            for (std::size_t i = 0; i < 3; ++i) {
                const bool found = std::find(listed.begin(), listed.end(), sources[i].id) == listed.end();
                EXPECT_EQ(VoiceSounds(i), found) << "layer " << i;
            }
        }
    }
}

TEST_F(MissingSourcesCardTest, DifferentContentWaitsForUseAnywayOrCancel) {
    const std::vector<Source> sources = {Sound("door.wav"), Sound("rain.wav")};
    UseInLayers(sources);
    fs::remove(sources[0].path);
    fs::remove(sources[1].path);
    Scan();
    ASSERT_EQ(GlobalAppState.MissingSources.size(), 2u);
    const Source rewritten = Sound("door take 2.wav");
    GlobalAppState.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return rewritten.path; };
    const MissingSource door = *std::find_if(GlobalAppState.MissingSources.begin(), GlobalAppState.MissingSources.end(),
                                             [&](const MissingSource& m) { return m.fileId == sources[0].id; });

    // Cancel: nothing else changes.
    LocateMissingFile(door);
    EXPECT_EQ(MissingSourcesCard.pendingForceRelinkId, door.fileId);
    CancelPendingForceRelink();
    EXPECT_TRUE(MissingSourcesCard.pendingForceRelinkId.empty());
    EXPECT_TRUE(MissingSourcesCard.pendingForceRelinkPath.empty());
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 2u);
    EXPECT_TRUE(GlobalAppState.statusMessage.empty());
    EXPECT_EQ(CurrentProject.results[0].filepath, sources[0].path);

    // Use anyway: the identity takes the new file's content.
    LocateMissingFile(door);
    EXPECT_TRUE(UseAnywayForPendingFile());
    EXPECT_TRUE(MissingSourcesCard.pendingForceRelinkId.empty());
    EXPECT_EQ(GlobalAppState.statusMessage, "Relinked 1 file");
    EXPECT_EQ(ListedIds(), std::vector<std::string>{sources[1].id});
    EXPECT_EQ(CurrentProject.results[0].filepath, rewritten.path);
    EXPECT_TRUE(VoiceSounds(0));
    FileIdResult now;
    ASSERT_TRUE(LookupFileId(door.fileId, now));
    std::uint64_t fingerprint = 0, size = 0;
    ASSERT_TRUE(ComputeFileFingerprint(rewritten.path, fingerprint, size));
    EXPECT_EQ(now.fingerprint, fingerprint);
    EXPECT_EQ(now.size, size);

    // Use anyway whose file vanished meanwhile ends silently.
    GlobalAppState.statusMessage.clear();
    const Source later = Sound("rain take 2.wav");
    GlobalAppState.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return later.path; };
    LocateMissingFile(GlobalAppState.MissingSources[0]);
    fs::remove(later.path);
    EXPECT_FALSE(UseAnywayForPendingFile());
    EXPECT_TRUE(MissingSourcesCard.pendingForceRelinkId.empty());
    EXPECT_TRUE(GlobalAppState.statusMessage.empty());
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 1u);
}

// While a job or an export runs, the registry, the list and the message
// change at once; the project's paths and the voices, which the job or the
// export reads, wait for the guard to open.
TEST_F(MissingSourcesCardTest, ProjectPartWaitsForTheEditGuard) {
    struct Case {
        const char* name;
        bool job;
    };
    for (const Case& c : {Case{"background job", true}, Case{"export", false}}) {
        SCOPED_TRACE(c.name);
        Reset();
        const std::string tag = c.job ? "job" : "export";
        const std::vector<Source> sources = {Sound(tag + "a.wav"), Sound(tag + "b.wav")};
        UseInLayers(sources);
        const std::string moved = Move(sources[0], "moved" + tag + "/a.wav");
        fs::remove(sources[1].path);
        Scan();
        ASSERT_EQ(GlobalAppState.MissingSources.size(), 2u);
        const std::string folder = dir.file("moved" + tag);
        GlobalAppState.platformHooks.pickFolder = [&] { return folder; };

        std::atomic<bool>& guard = c.job ? GlobalAppState.backgroundJob.active : GlobalAppState.exportRunning;
        guard.store(true);
        EXPECT_TRUE(LocateMissingFolder());
        EXPECT_EQ(ResolvePathById(sources[0].id), moved);
        EXPECT_EQ(ListedIds(), std::vector<std::string>{sources[1].id});
        EXPECT_EQ(GlobalAppState.statusMessage, "Relinked 1 file");
        EXPECT_EQ(CurrentProject.results[0].filepath, sources[0].path);
        EXPECT_FALSE(GlobalAppState.unsavedChanges);
        EXPECT_TRUE(LivePlaybackEngine.voices.empty());

        ServeWaitingRelinkRefresh();  // still closed: still waiting
        EXPECT_EQ(CurrentProject.results[0].filepath, sources[0].path);
        EXPECT_TRUE(LivePlaybackEngine.voices.empty());

        guard.store(false);
        ServeWaitingRelinkRefresh();
        EXPECT_EQ(CurrentProject.results[0].filepath, moved);
        EXPECT_TRUE(GlobalAppState.unsavedChanges);
        ASSERT_EQ(LivePlaybackEngine.voices.size(), 2u);
        EXPECT_TRUE(VoiceSounds(0));
        EXPECT_FALSE(VoiceSounds(1));
        EXPECT_EQ(ListedIds(), std::vector<std::string>{sources[1].id});
        EXPECT_FALSE(MissingSourcesCard.projectRefreshWaiting);

        // Served once: a later frame renders nothing again.
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        ServeWaitingRelinkRefresh();
        EXPECT_TRUE(LivePlaybackEngine.voices.empty());
    }
}

// A search that finds nothing while the guard is closed still brings the
// stored paths up to date afterwards, but renders nothing.
TEST_F(MissingSourcesCardTest, NothingFoundWhileGuardedRendersNothingLater) {
    const std::vector<Source> sources = {Sound("lone.wav")};
    UseInLayers(sources);
    const std::string parked = Move(sources[0], "parked/lone.wav");
    Scan();
    GlobalAppState.backgroundJob.active.store(true);
    RelinkAllMissingSources();
    EXPECT_EQ(GlobalAppState.statusMessage, "No matching files found");
    // Meanwhile the file is found by hand elsewhere (another relink that
    // also waits).
    GlobalAppState.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return parked; };
    LocateMissingFile(GlobalAppState.MissingSources[0]);
    EXPECT_TRUE(GlobalAppState.MissingSources.empty());
    GlobalAppState.backgroundJob.active.store(false);
    ServeWaitingRelinkRefresh();
    EXPECT_EQ(CurrentProject.results[0].filepath, parked);
    EXPECT_TRUE(VoiceSounds(0));  // the later relink's render was kept
}

// The card drawn headless: the buttons reach the dialogs, and the warning
// with its two buttons shows under the pending entry only.
class MissingSourcesCardFrames : public MissingSourcesCardTest {
protected:
    std::function<void()> body() {
        return [] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            if (ImGui::BeginChild("##cardhost", ImVec2(360.0f, 600.0f), false)) DrawMissingSourcesCard(340.0f);
            ImGui::EndChild();
        };
    }
    ImGuiWindow* Host() {
        return test::FindActiveWindow("##cardhost");
    }
    // Where the button `label` of the entry `fileId` (of the header when
    // empty) answers the mouse, found by hovering over the card; false when
    // it is not drawn.
    bool FindButton(const std::string& fileId, const char* label, ImVec2& at) {
        frames_.Run(body());
        ImGuiWindow* host = Host();
        if (host == nullptr) return false;
        const ImGuiID scope = fileId.empty() ? host->ID : ImHashStr(fileId.c_str(), 0, host->ID);
        const ImGuiID target = ImHashStr(label, 0, scope);
        for (float y = host->Pos.y + 1.0f; y < host->Pos.y + 400.0f; y += 4.0f)
            for (float x = host->Pos.x + 2.0f; x < host->Pos.x + 340.0f; x += 12.0f) {
                harness_.MoveMouse(x, y);
                frames_.Run(body());
                if (ImGui::GetCurrentContext()->HoveredId == target) {
                    at = ImVec2(x, y);
                    return true;
                }
            }
        return false;
    }

    test::UiHarness harness_;
    test::PanelFrames frames_{harness_};
};

TEST_F(MissingSourcesCardFrames, WarningUnderThePendingEntryOnly) {
    const std::vector<Source> sources = {Sound("alpha.aif"), Sound("beta.wav")};
    UseInLayers(sources);
    for (const Source& s : sources) fs::remove(s.path);
    Scan();
    ASSERT_EQ(GlobalAppState.MissingSources.size(), 2u);
    const std::string alpha = GlobalAppState.MissingSources[0].fileId;
    const std::string beta = GlobalAppState.MissingSources[1].fileId;
    const Source other = Sound("gamma.wav");
    std::string offered;
    GlobalAppState.platformHooks.openFileDialog = [&](const std::string&, const std::string& extension) {
        offered = extension;
        return other.path;
    };

    ImVec2 at;
    ASSERT_TRUE(FindButton(beta, "Locate...##msFile", at));
    frames_.Click(at.x, at.y, body());
    EXPECT_EQ(offered, "wav");
    EXPECT_EQ(MissingSourcesCard.pendingForceRelinkId, beta);
    EXPECT_TRUE(FindButton(beta, "Use anyway##msForce", at));
    EXPECT_FALSE(FindButton(alpha, "Use anyway##msForce", at));

    ASSERT_TRUE(FindButton(alpha, "Locate...##msFile", at));
    frames_.Click(at.x, at.y, body());
    EXPECT_EQ(offered, "aif");
    EXPECT_EQ(MissingSourcesCard.pendingForceRelinkId, alpha);  // the newer answer replaces it
    EXPECT_FALSE(FindButton(beta, "Use anyway##msForce", at));

    ASSERT_TRUE(FindButton(alpha, "Cancel##msForceCancel", at));
    frames_.Click(at.x, at.y, body());
    EXPECT_TRUE(MissingSourcesCard.pendingForceRelinkId.empty());
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 2u);

    // The header's button: the files are gone for good.
    ASSERT_TRUE(FindButton("", "Relink all##msRelinkAll", at));
    frames_.Click(at.x, at.y, body());
    EXPECT_EQ(GlobalAppState.statusMessage, "No matching files found");
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 2u);
}

}  // namespace
}  // namespace korvel
