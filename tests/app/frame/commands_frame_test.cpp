// Taking commands in whole frames, headless: keys written into the UI
// library and the mailbox written between frames, the job filter during a
// live and a frozen job, key decoding that follows the keyboard layout, a
// focused text field, and the menu popup.
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <atomic>
#include <thread>

#include "app/background_job.h"
#include "app/commands.h"
#include "app/frame/command_actions.h"
#include "app/frame/frame.h"
#include "app/frame/menu.h"
#include "app/frame_work.h"
#include "app/shell.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

// A US keyboard: where SDL puts each key code.
std::int32_t UsLayout(std::int32_t key) {
    if (key >= 'a' && key <= 'z') return SDL_SCANCODE_A + (key - 'a');
    if (key >= '1' && key <= '9') return SDL_SCANCODE_1 + (key - '1');
    switch (key) {
        case '0': return SDL_SCANCODE_0;
        case SDLK_SPACE: return SDL_SCANCODE_SPACE;
        case SDLK_ESCAPE: return SDL_SCANCODE_ESCAPE;
        case SDLK_BACKSPACE: return SDL_SCANCODE_BACKSPACE;
        case SDLK_DELETE: return SDL_SCANCODE_DELETE;
        case SDLK_MINUS: return SDL_SCANCODE_MINUS;
        case SDLK_EQUALS: return SDL_SCANCODE_EQUALS;
        case SDLK_SEMICOLON: return SDL_SCANCODE_SEMICOLON;
        case SDLK_COMMA: return SDL_SCANCODE_COMMA;
        case SDLK_PERIOD: return SDL_SCANCODE_PERIOD;
        case SDLK_UP: return SDL_SCANCODE_UP;
        case SDLK_DOWN: return SDL_SCANCODE_DOWN;
        default: return 0;
    }
}

// A French keyboard moves A, Q, Z, W and M.
std::int32_t FrenchLayout(std::int32_t key) {
    switch (key) {
        case 'a': return SDL_SCANCODE_Q;
        case 'q': return SDL_SCANCODE_A;
        case 'z': return SDL_SCANCODE_W;
        case 'w': return SDL_SCANCODE_Z;
        case 'm': return SDL_SCANCODE_SEMICOLON;
        default: return UsLayout(key);
    }
}

class CommandFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        CommandScancodeLookup = UsLayout;
        AppState& s = GlobalAppState;
        s.PendingMenuCommand.store(0);
        s.activeTab = 0;
        s.selectedEvents.clear();
        s.selectedEvent = -1;
        s.pendingRenderMode = 0;
        s.playing = false;
        CurrentProject.events.clear();
        CurrentProject.results.clear();
        ClearUndoHistory();
    }
    void TearDown() override {
        release_.store(true);
        BackgroundJob& job = GlobalAppState.backgroundJob;
        job.cancel.store(true);
        EndBackgroundJob(job);
        job.done.store(false);
        job.progress.store(-1.0f);
        CommandScancodeLookup = nullptr;
        GlobalAppState.PendingMenuCommand.store(0);
        CurrentProject.events.clear();
    }
    // One frame with the key at `scancode` pressed (and released after).
    void FrameWithKey(int scancode, bool ctrl = false, bool shift = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeysDown[scancode] = true;
        io.KeyCtrl = ctrl;
        io.KeyShift = shift;
        ui.RunDrawUI();
        io.KeysDown[scancode] = false;
        io.KeyCtrl = false;
        io.KeyShift = false;
    }
    // Decodes the keys of one bare frame.
    std::int32_t Decode(int scancode, bool ctrl, bool shift = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeysDown[scancode] = true;
        io.KeyCtrl = ctrl;
        io.KeyShift = shift;
        ui.BeginFrame();
        const std::int32_t command = DecodeFrameKeys();
        ui.EndFrame();
        io.KeysDown[scancode] = false;
        io.KeyCtrl = false;
        io.KeyShift = false;
        ui.BeginFrame();
        ui.EndFrame();
        return command;
    }
    void StartJob(bool live) {
        release_.store(false);
        StartBackgroundJob(
            "Building...",
            [this] {
                BackgroundJob& job = GlobalAppState.backgroundJob;
                while (!release_.load() && !job.cancel.load()) std::this_thread::yield();
                job.done.store(true, std::memory_order_release);
            },
            true, 0.0f);
        GlobalAppState.backgroundJob.revealBuildProgress = live;
    }
    void FinishJob() {
        release_.store(true);
        while (!GlobalAppState.backgroundJob.done.load()) std::this_thread::yield();
    }
    std::atomic<bool> release_{false};
    test::UiHarness ui;
};

TEST_F(CommandFrameTest, MailboxKeysAndTheLaterPost) {
    AppState& s = GlobalAppState;
    s.PendingMenuCommand.store(CmdShowMixer);
    s.PendingMenuCommand.store(CmdShowLibrary);
    ui.RunDrawUI();
    EXPECT_EQ(s.activeTab, 2) << "only the later of two posts runs";
    EXPECT_EQ(s.PendingMenuCommand.load(), 0);

    s.PendingMenuCommand.store(CmdShowMixer);
    FrameWithKey(SDL_SCANCODE_5, true);
    EXPECT_EQ(s.activeTab, 4) << "the key command wins";
    ui.RunDrawUI();
    EXPECT_EQ(s.activeTab, 4) << "the menu command of that frame is lost, not deferred";
}

TEST_F(CommandFrameTest, LiveJobLetsOnlyItsCommandsThrough) {
    AppState& s = GlobalAppState;
    CurrentProject.events.resize(2);
    StartJob(true);
    ui.RunDrawUI();
    ASSERT_TRUE(s.backgroundJob.active.load());

    s.PendingMenuCommand.store(CmdSettings);  // Ctrl+, through the accelerator
    ui.RunDrawUI();
    EXPECT_EQ(s.activeTab, 5);
    s.viewStart = 3.0f;
    s.PendingMenuCommand.store(CmdZoomToFit);
    ui.RunDrawUI();
    EXPECT_EQ(s.viewStart, 0.0f);

    s.unsavedChanges = false;
    s.PendingMenuCommand.store(CmdNewProject);
    ui.RunDrawUI();
    EXPECT_EQ(CurrentProject.events.size(), 2u) << "Ctrl+N does nothing during a job";
    EXPECT_EQ(s.PendingMenuCommand.load(), 0) << "and is dropped, not deferred";
    FrameWithKey(SDL_SCANCODE_SPACE);
    EXPECT_FALSE(s.playing) << "keys are not decoded during a job";
    FinishJob();
    ui.RunDrawUI();
    ui.RunDrawUI();
    EXPECT_EQ(CurrentProject.events.size(), 2u);
}

TEST_F(CommandFrameTest, FrozenJobLeavesTheMailboxForLater) {
    AppState& s = GlobalAppState;
    StartJob(false);
    ui.RunDrawUI(0.1f);
    ui.RunDrawUI(0.1f);
    s.PendingMenuCommand.store(CmdShowMixer);
    ui.RunDrawUI(0.1f);
    EXPECT_EQ(s.PendingMenuCommand.load(), CmdShowMixer) << "the frame ends before taking it";
    EXPECT_EQ(s.activeTab, 0);
    FinishJob();
    for (int i = 0; i < 30 && s.backgroundJob.active.load(); ++i) ui.RunDrawUI(0.1f);
    ASSERT_FALSE(s.backgroundJob.active.load());
    if (s.PendingMenuCommand.load() != 0) ui.RunDrawUI(0.1f);
    EXPECT_EQ(s.activeTab, 3) << "it runs once the job has ended";
}

TEST_F(CommandFrameTest, KeysFollowTheLayout) {
    struct Case {
        const char* name;
        ScancodeLookupFn layout;
        int scancode;
        bool ctrl, shift;
        std::int32_t want;
    };
    const Case cases[] = {
        {"US: the key labelled W closes with Ctrl", UsLayout, SDL_SCANCODE_W, true, false, CmdCloseProject},
        {"French: the same key is Z and undoes", FrenchLayout, SDL_SCANCODE_W, true, false, CmdUndo},
        {"French: Ctrl+Shift+Z redoes", FrenchLayout, SDL_SCANCODE_W, true, true, CmdRedo},
        {"French: the key right of L is M and mutes", FrenchLayout, SDL_SCANCODE_SEMICOLON, false, false,
         CmdMuteToggle},
        {"French: the key labelled A is audio focus", FrenchLayout, SDL_SCANCODE_Q, false, false, CmdAudioFocus},
        {"US: Space plays", UsLayout, SDL_SCANCODE_SPACE, false, false, CmdPlayPause},
        {"US: Delete deletes", UsLayout, SDL_SCANCODE_DELETE, false, false, CmdDelete},
        {"no lookup: no key command", nullptr, SDL_SCANCODE_SPACE, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandScancodeLookup = c.layout;
        EXPECT_EQ(Decode(c.scancode, c.ctrl, c.shift), c.want);
    }
}

TEST_F(CommandFrameTest, HeldKeysRepeatOnlyWhereTheyMay) {
    ImGuiIO& io = ImGui::GetIO();
    for (int scancode : {SDL_SCANCODE_UP, SDL_SCANCODE_D}) {
        SCOPED_TRACE(scancode);
        io.KeysDown[scancode] = true;
        int commands = 0;
        for (int i = 0; i < 60; ++i) {
            ui.BeginFrame(1.0f / 60.0f);
            if (DecodeFrameKeys() != 0) ++commands;
            ui.EndFrame();
        }
        io.KeysDown[scancode] = false;
        ui.BeginFrame();
        ui.EndFrame();
        if (scancode == SDL_SCANCODE_UP) EXPECT_GT(commands, 3);
        else EXPECT_EQ(commands, 1);
    }
}

TEST_F(CommandFrameTest, TextFieldTakesDigitsButNotAccelerators) {
    AppState& s = GlobalAppState;
    ImGuiIO& io = ImGui::GetIO();
    char text[32] = {};
    const auto frame = [&](bool focus) {
        ui.BeginFrame();
        ImGui::Begin("##field");
        if (focus) ImGui::SetKeyboardFocusHere();
        ImGui::InputText("##text", text, sizeof(text));
        ImGui::End();
        SetFrameKeyCommand(DecodeFrameKeys());
        FrameCommands();
        FrameCommandsSecondGroup();
        ui.EndFrame();
    };
    frame(true);
    frame(false);
    frame(false);
    ASSERT_TRUE(io.WantTextInput);
    io.KeysDown[SDL_SCANCODE_1] = true;
    frame(false);
    io.KeysDown[SDL_SCANCODE_1] = false;
    EXPECT_TRUE(CurrentProject.events.empty()) << "typing 1 adds no Spot";

    SDL_Event event = {};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = SDLK_MINUS;
    event.key.keysym.mod = KMOD_LCTRL;
    CurrentProject.totalDuration = 60.0f;
    s.viewStart = 0.0f;
    s.viewEnd = 10.0f;
    EXPECT_TRUE(PreFilterKeyEvent(event)) << "the accelerator takes the key before the field";
    frame(false);
    EXPECT_NEAR(s.ViewSpan(), 14.0f, 1e-3f) << "Ctrl+- zooms out from inside the field";
}

TEST_F(CommandFrameTest, TraceReviewTurnsCtrlAIntoSelectingSuggestions) {
    AppState& s = GlobalAppState;
    s.activeTab = 1;
    s.markerEvents.resize(3);
    CurrentProject.events.resize(2);
    FrameWithKey(SDL_SCANCODE_A, true);
    EXPECT_EQ(s.selectedMarkers, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_TRUE(s.selectedEvents.empty()) << "no event is selected";
    FrameWithKey(SDL_SCANCODE_1);
    EXPECT_EQ(CurrentProject.events.size(), 2u) << "1 adds no event";
    s.markerEvents.clear();
    s.selectedMarkers.clear();
}

TEST_F(CommandFrameTest, MenuPopupOpensOnRequest) {
    PendingMenuPopup.requested = true;
    PendingMenuPopup.x = 10;
    PendingMenuPopup.y = 30;
    ui.RunDrawUI();
    EXPECT_FALSE(PendingMenuPopup.requested);
    EXPECT_EQ(GImGui->OpenPopupStack.Size, 1) << "the menu stays open";
}

// Resting the pointer on a submenu's row opens it, as a menu does, wholly
// beside its parent (never over the parent's arrow column); Escape closes
// the menu.
TEST_F(CommandFrameTest, MenuSubmenusOpenOnHoverBesideTheirParentAndEscapeCloses) {
    ImGuiIO& io = ui.io();
    PendingMenuPopup.requested = true;
    PendingMenuPopup.x = 10;
    PendingMenuPopup.y = 30;
    ui.RunDrawUI();
    ui.RunDrawUI();
    ASSERT_EQ(GImGui->OpenPopupStack.Size, 1);
    ImGuiWindow* menu = GImGui->OpenPopupStack[0].Window;
    ASSERT_NE(menu, nullptr);
    const ImVec2 row(menu->Pos.x + menu->WindowPadding.x + 10.0f,
                     menu->Pos.y + menu->WindowPadding.y + ImGui::GetFontSize() * 0.5f);
    EXPECT_GT(menu->WindowPadding.x, 0.0f) << "the arrows keep off the menu's edge";
    ui.MoveMouse(row.x, row.y);
    for (int i = 0; i < 4; ++i) ui.RunDrawUI();
    ASSERT_EQ(GImGui->OpenPopupStack.Size, 2) << "the submenu opened without a click";
    ImGuiWindow* submenu = GImGui->OpenPopupStack[1].Window;
    ASSERT_NE(submenu, nullptr);
    EXPECT_GE(submenu->Pos.x, menu->Pos.x + menu->Size.x - 0.5f) << "beside the parent, not over it";

    // The menu has the keyboard: Escape closes it and is no Escape command.
    GlobalAppState.selectedEvents = {0};
    CurrentProject.events.resize(1);
    // The harness maps the UI library's keys one to one; the command keys
    // are looked up by SDL scancode: the key is down at both.
    const int escape = io.KeyMap[ImGuiKey_Escape];
    io.KeysDown[escape] = io.KeysDown[SDL_SCANCODE_ESCAPE] = true;
    ui.RunDrawUI();
    io.KeysDown[escape] = io.KeysDown[SDL_SCANCODE_ESCAPE] = false;
    ui.RunDrawUI();
    EXPECT_EQ(GImGui->OpenPopupStack.Size, 0) << "Escape closes the menu";
    EXPECT_EQ(GlobalAppState.selectedEvents.size(), 1u) << "the key went to the menu";
}

}  // namespace
}  // namespace korvel
