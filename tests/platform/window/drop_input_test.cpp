// Drops reaching the window as SDL events on a virtual display: the names
// are sorted into the drop state with the pointer where the drop happened.
#include "platform/window/drop_input.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/drops.h"
#include "app/shell.h"
#include "platform/window/host.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

void PushDropEvent(Uint32 type, const std::string& name = {}) {
    SDL_Event event{};
    event.type = type;
    event.drop.windowID = SDL_GetWindowID(MainWindowHandle);
    event.drop.file = name.empty() ? nullptr : SDL_strdup(name.c_str());  // the receiver frees it
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

class DropInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        GlobalAppState.dropState = DropState{};
        int exitCode = -1;
        ASSERT_TRUE(StartUp("", exitCode));
        ASSERT_NE(MainWindowHandle, nullptr);
    }
    void TearDown() override {
        ShutDown();
        GlobalAppState.dropState = DropState{};
    }

    test::TempDir runtime_;
    test::TempDir files_;
};

TEST_F(DropInputTest, ADropIsSortedWithThePointerWhereItHappened) {
    const std::string folder = files_.file("Rain.wav");  // a folder, whatever its name says
    std::filesystem::create_directories(folder);
    SDL_WarpMouseInWindow(MainWindowHandle, 300, 200);
    RunLoopPass();

    PushDropEvent(SDL_DROPBEGIN);
    PushDropEvent(SDL_DROPFILE, "/media/first.MP4");
    PushDropEvent(SDL_DROPFILE, "/media/door.WAV");
    PushDropEvent(SDL_DROPTEXT, "some dragged text");
    PushDropEvent(SDL_DROPFILE, folder);
    PushDropEvent(SDL_DROPFILE, "/media/second.mov");
    PushDropEvent(SDL_DROPFILE, "/media/notes.zip");
    PushDropEvent(SDL_DROPFILE, "/media/creak.flac");
    PushDropEvent(SDL_DROPCOMPLETE);
    // The window's own event handling, without a frame after it.
    SDL_Event event;
    while (SDL_PollEvent(&event)) HandleDropEvent(event);

    DropState& drop = GlobalAppState.dropState;
    EXPECT_EQ(drop.droppedVideo, "/media/second.mov");
    EXPECT_EQ(drop.droppedFolderPaths, std::vector<std::string>{folder});
    const std::vector<std::string> sounds = {"/media/door.WAV", "/media/creak.flac"};
    EXPECT_EQ(drop.arrivingAudio, sounds);
    EXPECT_TRUE(drop.hoverAudio && drop.hoverFolder && drop.hoverVideo);
    EXPECT_FALSE(drop.altAtDrop);
    EXPECT_FALSE(drop.receiving);
    EXPECT_NEAR(drop.dropX, 300.0f / UiScale, 1.0f);
    EXPECT_NEAR(drop.dropY, 200.0f / UiScale, 1.0f);
}

// Through the loop: the frame the drop arrives in offers the folders to the
// library tab and hands the sounds on with the targets it found.
TEST_F(DropInputTest, TheFrameOfTheDropHandsItsSoundsOn) {
    SDL_WarpMouseInWindow(MainWindowHandle, 120, 90);
    RunLoopPass();
    PushDropEvent(SDL_DROPBEGIN);
    PushDropEvent(SDL_DROPFILE, "/media/door.wav");
    PushDropEvent(SDL_DROPFILE, files_.path().string());
    PushDropEvent(SDL_DROPCOMPLETE);
    RunLoopPass();

    const DropState& drop = GlobalAppState.dropState;
    EXPECT_TRUE(drop.droppedFolderPaths.empty());  // offered for that one frame
    EXPECT_TRUE(drop.arrivingAudio.empty());
    EXPECT_FALSE(drop.hoverAudio || drop.hoverFolder || drop.hoverVideo);
    EXPECT_NEAR(drop.dropX, 120.0f / UiScale, 1.0f);
}

// A drop of sounds over nothing in particular, from the SDL events to the
// Clip events of the frame after it: one undo step, the engine ready.
TEST_F(DropInputTest, DroppedSoundsBecomeClipsInTheNextFrame) {
    const std::string readable = files_.file("door.wav");
    ASSERT_TRUE(test::WriteSoundFile(readable, test::MakeSine(440.0, 0.25, 48000), 1, 48000));
    const std::string unreadable = files_.file("broken.wav");
    ASSERT_TRUE(test::WriteBytes(unreadable, "not a sound"));
    CurrentProject = Project{};
    UndoStack.clear();
    GlobalAppState.selectedEvents.clear();
    GlobalAppState.selectedEvent = -1;
    GlobalAppState.playhead = 3.0f;

    PushDropEvent(SDL_DROPBEGIN);
    PushDropEvent(SDL_DROPFILE, readable);
    PushDropEvent(SDL_DROPFILE, unreadable);
    PushDropEvent(SDL_DROPCOMPLETE);
    RunLoopPass();  // the drop's own frame: the panels look at the pointer
    RunLoopPass();  // the next frame places the clips

    ASSERT_EQ(CurrentProject.events.size(), 2u);
    for (const Event& clip : CurrentProject.events) {
        EXPECT_TRUE(IsKind(clip.shape, EventKind::Clip));
        EXPECT_FLOAT_EQ(clip.time, 3.0f);
        EXPECT_GE(clip.duration, 0.1f);
        EXPECT_TRUE(clip.locked);
    }
    EXPECT_EQ(TextOf(CurrentProject.events[0].pinnedFile), readable);
    EXPECT_EQ(TextOf(CurrentProject.events[1].pinnedFile), unreadable);
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_TRUE(LivePlaybackEngine.ready.load());
    EXPECT_TRUE(GlobalAppState.dropState.droppedAudio.empty());
    CurrentProject = Project{};
    UndoStack.clear();
}

}  // namespace
}  // namespace korvel
