// The export tab: the button's rules drawn and clicked, the request built
// from a chosen path, the option rows, and real exports started from the
// button on the export thread and finished by the frame.
#include "ui/panels/export_tab.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/ui_layout.h"
#include "panels_fixture.h"
#include "playback/aaf_writer.h"
#include "playback/export_thread.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::PanelFrames;
using test::UiHarness;

constexpr int kRate = 48000;

class ExportTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        savedAaf_ = ExportAafHandler;
        savedCreate_ = ExportThreadCreate;
        layout_.panelWidth = 460.0f;
        layout_.topAreaHeight = 600.0f;
    }
    void TearDown() override {
        JoinExportThread(GlobalAppState.exportThread);
        ExportAafHandler = savedAaf_;
        ExportThreadCreate = savedCreate_;
        Reset();
    }
    static void Reset() {
        AppState& s = GlobalAppState;
        s.exportSettings.exportFormatAAF = true;
        s.exportSettings.exportFormatWAV = true;
        s.exportSettings.exportWavMixdown = true;
        s.exportSettings.exportWavStems = s.exportSettings.exportWavTracks = s.exportSettings.exportWavClips = false;
        s.exportWavLayout = s.exportSpatialMode = s.exportWavLUFSIndex = 0;
        s.exportSettings.exportReverbStem = true;
        s.exportSettings.handleDuration = 1.0f;
        s.exportSettings.handleFullSource = false;
        s.workAreaIn = s.workAreaOut = -1.0f;
        s.exportRunning.store(false);
        s.exportDone.store(false);
        s.exportDoneTime = 0.0;
        s.exportCompleteCallback = nullptr;
        s.backgroundJob.active.store(false);
        s.platformHooks = PlatformHooks{};
        s.unsavedChanges = false;
        s.statusMessage.clear();
        s.statusTime = 0.0f;
        SetExportStatus(s, "");
        CurrentProject = Project{};
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        LivePlaybackEngine.ready.store(false);
        LivePlaybackEngine.reverb = ReverbSettings{};
    }

    std::function<void()> body() {
        return [this] {
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            DrawExportTab(ImGui::GetWindowDrawList(), layout_);
        };
    }
    static ImGuiWindow* Window(const char* name) {
        return test::FindActiveWindow(name);
    }
    // The middle of the export button's left part, where every label has text.
    ImVec2 ButtonPoint() {
        frames_.Run(body());
        ImGuiWindow* panel = Window("##export_panel");
        EXPECT_NE(panel, nullptr);
        if (panel == nullptr) return ImVec2(0, 0);
        const float footer = ImGui::GetFrameHeight() + 24.0f;
        return ImVec2(panel->Pos.x + 16.0f + 12.0f, panel->Pos.y + layout_.topAreaHeight - footer * 0.5f);
    }
    // Where the widget `id` of the content child answers the mouse: found by
    // hovering down the column at `x` (from the child's left).
    ImVec2 FindContentItem(const char* id, float x) {
        frames_.Run(body());
        ImGuiWindow* content = Window("##exp_content");
        EXPECT_NE(content, nullptr);
        if (content == nullptr) return ImVec2(0, 0);
        const ImGuiID target = ImHashStr(id, 0, content->ID);
        for (float y = content->Pos.y + 1.0f; y < content->Pos.y + content->Size.y; y += 2.0f) {
            harness_.MoveMouse(content->Pos.x + x, y);
            frames_.Run(body());
            if (ImGui::GetCurrentContext()->HoveredId == target) return ImVec2(content->Pos.x + x, y);
        }
        ADD_FAILURE() << "no widget " << id;
        return ImVec2(0, 0);
    }
    void Click(ImVec2 at) { frames_.Click(at.x, at.y, body()); }

    UiHarness harness_;
    PanelFrames frames_{harness_};
    UILayout layout_;
    ExportAafFn savedAaf_ = nullptr;
    ExportThreadCreateFn savedCreate_ = nullptr;
};

TEST_F(ExportTabTest, ButtonLabelEnablingAndTooltip) {
    struct Case {
        const char* name;
        bool aaf, wav, anyOutput, ready, hook, layers, running;
        const char* label;
        bool enabled;
        const char* tooltip;  // null: none
    };
    const Case cases[] = {
        {"both formats, all there", true, true, true, true, true, true, false, " Export AAF + WAV", true, nullptr},
        {"AAF alone needs no rendered voices", true, false, false, false, true, true, false, " Export AAF", true,
         nullptr},
        {"WAV alone", false, true, true, true, true, true, false, " Export WAV", true, nullptr},
        {"no format", false, false, true, true, true, true, false, " Export", false, "Select at least one format"},
        {"no layers", true, true, true, true, true, false, false, " Export AAF + WAV", false,
         "Build the timeline first"},
        {"no dialog hook", true, true, true, true, false, true, false, " Export AAF + WAV", false,
         "Build the timeline first"},
        {"no layers outranks no format", false, false, true, true, true, false, false, " Export", false,
         "Build the timeline first"},
        {"WAV without an output type", false, true, false, true, true, true, false, " Export WAV", false,
         "Select at least one WAV output type"},
        {"WAV before the voices are rendered", true, true, true, false, true, true, false, " Export AAF + WAV",
         false, "Waiting for audio cache..."},
        {"a running export outranks the rest", false, false, false, false, false, false, true, " Exporting...",
         false, "Export in progress..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        AppState& s = GlobalAppState;
        s.exportSettings.exportFormatAAF = c.aaf;
        s.exportSettings.exportFormatWAV = c.wav;
        s.exportSettings.exportWavMixdown = false;
        s.exportSettings.exportWavClips = c.anyOutput;  // any one of the four counts
        s.exportRunning.store(c.running);
        LivePlaybackEngine.ready.store(c.ready);
        if (c.layers) CurrentProject.results.emplace_back();
        int asked = 0;
        if (c.hook) s.platformHooks.pickExportLocation = [&] {
            ++asked;
            return std::string();  // cancelled: nothing starts, nothing changes
        };

        const ExportButtonLook look = ExportButtonFor(s, {c.layers, c.hook, c.ready});
        EXPECT_EQ(look.label, std::string("\xEE\x82\x9A") + c.label);
        EXPECT_EQ(look.enabled, c.enabled);
        EXPECT_STREQ(look.tooltip, c.tooltip);

        Click(ButtonPoint());
        EXPECT_EQ(asked, c.enabled ? 1 : 0) << "the drawn button asks for a destination only when enabled";
        EXPECT_EQ(s.exportRunning.load(), c.running) << "a cancelled dialog starts nothing";
        EXPECT_FALSE(s.unsavedChanges);
    }
    GlobalAppState.exportRunning.store(false);
}

TEST_F(ExportTabTest, RequestFromTheChosenPathAndSettings) {
    struct Case {
        const char* name;
        std::string path;
        float in, out;
        bool fullSource;
        float startTC;
        std::string folder, base;
        float rangeStart, rangeEnd, handle;
        std::int32_t timecode;
    };
    const Case cases[] = {
        {"work area set", "/tmp/out/Cue.wav", 10.0f, 20.0f, false, 0.0f, "/tmp/out", "Cue.wav", 10.0f, 20.0f, 1.5f, 0},
        {"work area backwards: whole project", "/tmp/out/Cue", 20.0f, 10.0f, false, 0.0f, "/tmp/out", "Cue", -1.0f,
         -1.0f, 1.5f, 0},
        {"empty work area: whole project", "/tmp/out/Cue", 5.0f, 5.0f, false, 0.0f, "/tmp/out", "Cue", -1.0f, -1.0f,
         1.5f, 0},
        {"only an in point", "/tmp/out/Cue", 5.0f, -1.0f, false, 0.0f, "/tmp/out", "Cue", -1.0f, -1.0f, 1.5f, 0},
        {"full source handles", "/tmp/out/Cue", -1.0f, -1.0f, true, 0.0f, "/tmp/out", "Cue", -1.0f, -1.0f, 1.5f, 0},
        {"no file name", "/tmp/out/", -1.0f, -1.0f, false, 0.0f, "/tmp/out", "Korvel", -1.0f, -1.0f, 1.5f, 0},
        {"no folder part", "Cue", -1.0f, -1.0f, false, 0.0f, "Cue", "Cue", -1.0f, -1.0f, 1.5f, 0},
        {"under the root", "/Cue", -1.0f, -1.0f, false, 0.0f, "/", "Cue", -1.0f, -1.0f, 1.5f, 0},
        {"start timecode truncated", "/o/Cue", -1.0f, -1.0f, false, 3599.9f, "/o", "Cue", -1.0f, -1.0f, 1.5f, 3599},
        {"negative timecode toward zero", "/o/Cue", -1.0f, -1.0f, false, -2.7f, "/o", "Cue", -1.0f, -1.0f, 1.5f, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState s;
        s.workAreaIn = c.in;
        s.workAreaOut = c.out;
        s.exportSettings.handleDuration = 1.5f;
        s.exportSettings.handleFullSource = c.fullSource;
        s.exportSettings.exportFormatAAF = false;
        s.exportSettings.exportWavClips = true;
        s.exportSettings.exportAAFMarkers = true;
        s.exportSettings.fadeInDuration = 0.02f;
        s.projectSampleRate = 96000;
        Project p;
        p.startTC = c.startTC;
        p.fps = 25.0f;
        p.totalDuration = 42.0f;
        std::strcpy(p.trackLayout.groups[2].name, "Rain");
        const ExportRequest r = BuildExportRequest(c.path, s, p);
        EXPECT_EQ(r.outputFolder, c.folder);
        EXPECT_EQ(r.baseName, c.base);
        EXPECT_EQ(r.rangeStart, c.rangeStart);
        EXPECT_EQ(r.rangeEnd, c.rangeEnd);
        EXPECT_EQ(r.exportSettings.handleDuration, c.handle);
        EXPECT_EQ(r.exportSettings.handleFullSource, c.fullSource) << "the whole record travels";
        EXPECT_EQ(r.startTimecodeSeconds, c.timecode);
        EXPECT_FALSE(r.exportSettings.exportFormatAAF);
        EXPECT_TRUE(r.exportSettings.exportFormatWAV && r.exportSettings.exportWavMixdown &&
                    r.exportSettings.exportWavClips && r.exportSettings.exportReverbStem);
        EXPECT_TRUE(r.exportSettings.exportAAFMarkers && r.exportWithHandles && r.exportFillVirtual);
        EXPECT_FALSE(r.snapToFrames);
        EXPECT_EQ(r.exportSettings.fadeInDuration, 0.02f);
        EXPECT_EQ(r.sampleRate, 96000);
        EXPECT_EQ(r.fps, 25.0f);
        EXPECT_EQ(r.totalDuration, 42.0f);
        EXPECT_EQ(r.groupNames, (std::vector<std::string>{"BG", "FX A", "Rain"}));
    }
}

TEST_F(ExportTabTest, ChannelLineAndWetStem) {
    const std::pair<std::int32_t, const char*> lines[] = {
        {0, ""},
        {1, "Channels: L R C LFE Ls Rs"},
        {2, "Channels: L R C LFE Ls Rs Lrs Rrs Ltf Rtf Ltr Rtr"},
        {3, "Channels: W Y Z X (ACN / SN3D)"},
        {-4, ""},
        {17, "Channels: W Y Z X (ACN / SN3D)"},
    };
    for (const auto& [index, line] : lines) EXPECT_EQ(ExportChannelLine(index), line) << index;

    struct Case {
        bool aaf, wav, reverb, enabled;
        const char* tooltipStart;
    };
    const Case cases[] = {
        {true, false, true, true, "Separate reverb (wet)"},
        {false, true, true, true, "Separate reverb (wet)"},
        {false, false, true, false, "Select a format above first"},
        {true, true, false, false, "Enable reverb in the Mixer tab first"},
        {false, false, false, false, "Enable reverb in the Mixer tab first"},
    };
    for (const Case& c : cases) {
        AppState s;
        s.exportSettings.exportFormatAAF = c.aaf;
        s.exportSettings.exportFormatWAV = c.wav;
        const WetStemLook look = WetStemFor(s, c.reverb);
        EXPECT_EQ(look.enabled, c.enabled) << c.aaf << c.wav << c.reverb;
        EXPECT_EQ(std::string(look.tooltip).rfind(c.tooltipStart, 0), 0u) << look.tooltip;
    }
}

TEST_F(ExportTabTest, OptionChangesMarkTheProjectAndDisabledRowsStayPut) {
    const ImVec2 aaf = FindContentItem("AAF Session", 8.0f);
    const ImVec2 sourceChannels = FindContentItem("Source channels", 130.0f);

    // A click inside a disabled section changes nothing.
    GlobalAppState.exportSettings.exportFormatAAF = false;
    Click(sourceChannels);
    EXPECT_TRUE(GlobalAppState.exportSettings.exportAAFSourceChannels);
    EXPECT_FALSE(GlobalAppState.unsavedChanges);

    Click(aaf);
    EXPECT_TRUE(GlobalAppState.exportSettings.exportFormatAAF);
    EXPECT_TRUE(GlobalAppState.unsavedChanges) << "the project file keeps the export flags";
    GlobalAppState.unsavedChanges = false;
    Click(sourceChannels);
    EXPECT_FALSE(GlobalAppState.exportSettings.exportAAFSourceChannels);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
}

TEST_F(ExportTabTest, TheJobsSettingsAreLockedWhileAnExportRuns) {
    for (const char* id : {"##wavlayout", "##spatmode", "##wavlufs"}) {
        SCOPED_TRACE(id);
        Reset();
        const ImVec2 at = FindContentItem(id, 150.0f);
        GlobalAppState.exportRunning.store(true);
        Click(at);
        EXPECT_TRUE(ImGui::GetCurrentContext()->OpenPopupStack.empty()) << "no list opens while the job reads it";
        GlobalAppState.exportRunning.store(false);
        Click(at);
        EXPECT_FALSE(ImGui::GetCurrentContext()->OpenPopupStack.empty()) << "it opens once the export ended";
        harness_.SetKey(ImGuiKey_Escape, true);
        frames_.Run(body());
        harness_.SetKey(ImGuiKey_Escape, false);
        frames_.Run(body());
    }
}

// A project of two layers read from WAVs the test writes, rendered into
// the live engine as a build leaves it.
class ExportTabRun : public ExportTabTest {
protected:
    void SetUp() override {
        ExportTabTest::SetUp();
        GlobalAppState.projectSampleRate = kRate;
        for (int i = 0; i < 2; ++i) {
            const std::string path = dir_.file("src" + std::to_string(i) + ".wav");
            ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(300.0 + 200.0 * i, 0.5, kRate, 1, 0.3), 1, kRate));
            LayerResult layer;
            layer.name = "Layer" + std::to_string(i);
            layer.filepath = path;
            layer.sourceDuration = 0.5f;
            layer.startTime = 0.25f + 0.5f * static_cast<float>(i);
            layer.duration = 0.5f;
            layer.group = i + 1;
            CurrentProject.results.push_back(layer);
        }
        CurrentProject.totalDuration = 2.0f;
        RebuildCache(false);
        ASSERT_TRUE(LivePlaybackEngine.ready.load());
        SetUiClockSeconds(10.0);  // 0 is the frame's "not seen yet"
        GlobalAppState.platformHooks.pickExportLocation = [this] { return dir_.file("Out/Cue"); };
        GlobalAppState.exportSettings.exportFormatAAF = false;
    }
    // Presses the button, waits for the thread's done flag, then lets the
    // frame finish the export as it does after its hold.
    void ExportAndFinish() {
        testing::internal::CaptureStdout();
        Click(ButtonPoint());
        for (int i = 0; i < 10000 && !GlobalAppState.exportDone.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(GlobalAppState.exportDone.load());
        FrameExportFinished();
        AdvanceUiClock(1.0);
        FrameExportFinished();
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(GlobalAppState.exportRunning.load()) << "the tab is idle again";
    }

    test::TempDir dir_;
};

TEST_F(ExportTabRun, ExportPostsTheJobsFinalLine) {
    ExportAndFinish();
    EXPECT_TRUE(fs::exists(dir_.path() / "Out" / "Cue.wav"));
    EXPECT_EQ(GlobalAppState.statusMessage, "Export complete \u2014 1 file");
    EXPECT_GT(GlobalAppState.statusTime, 0.0f);

    // Without the AAF runtime the AAF part fails; the WAV still goes out,
    // and the message must say so rather than "Export complete".
    const char* const savedRuntime = AAFRuntimeLibraryPath;
    AAFRuntimeLibraryPath = "/nonexistent/libAAFCOAPI.so";
    GlobalAppState.exportSettings.exportFormatAAF = true;
    GlobalAppState.statusMessage.clear();
    ExportAndFinish();
    EXPECT_EQ(GlobalAppState.statusMessage, "AAF export FAILED \u2014 1 WAV written");
    AAFRuntimeLibraryPath = savedRuntime;
}

TEST_F(ExportTabRun, AThreadThatCannotStartReturnsToIdle) {
    ExportThreadCreate = [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; };
    testing::internal::CaptureStdout();
    Click(ButtonPoint());
    testing::internal::GetCapturedStdout();
    const AppState& s = GlobalAppState;
    EXPECT_FALSE(s.exportRunning.load());
    EXPECT_FALSE(s.exportDone.load());
    EXPECT_FALSE(static_cast<bool>(s.exportCompleteCallback));
    EXPECT_EQ(s.statusMessage.rfind("Export FAILED", 0), 0u) << s.statusMessage;
    EXPECT_FALSE(fs::exists(dir_.path() / "Out"));
    const ExportButtonLook look = ExportButtonFor(s, {true, true, true});
    EXPECT_TRUE(look.enabled) << "the button works again";
    EXPECT_NE(look.label.find(" Export WAV"), std::string::npos);
}

}  // namespace
}  // namespace korvel
