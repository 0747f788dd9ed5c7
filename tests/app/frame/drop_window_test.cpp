// A drop from the desktop in a real window on the virtual display: the
// pointer where the drop happens decides what the dropped sounds become.
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/drops.h"
#include "app/shell.h"
#include "library/library.h"
#include "platform/window/host.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"
#include "support/ui/window_frame.h"

namespace korvel {
namespace {

void PushDropEvent(Uint32 type, const std::string& name = {}) {
    SDL_Event event{};
    event.type = type;
    event.drop.windowID = SDL_GetWindowID(MainWindowHandle);
    event.drop.file = name.empty() ? nullptr : SDL_strdup(name.c_str());  // the receiver frees it
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

class DropWindowTest : public test::WindowFrameTest {
protected:
    void TearDown() override {
        GlobalAppState.activeTab = 0;
        GlobalAppState.dropState = DropState{};
        WindowFrameTest::TearDown();
    }

    // Drops `files` with the pointer at (x, y) in UI units, then lets the
    // drop's own frame and the one after it run.
    void DropAt(float x, float y, const std::vector<std::string>& files) {
        SDL_WarpMouseInWindow(MainWindowHandle, static_cast<int>(x * UiScale), static_cast<int>(y * UiScale));
        RunLoopPass();
        PushDropEvent(SDL_DROPBEGIN);
        for (const std::string& file : files) PushDropEvent(SDL_DROPFILE, file);
        PushDropEvent(SDL_DROPCOMPLETE);
        RunLoopPass();
        RunLoopPass();
    }

    test::TempDir sounds_;
};

// Over the library tab's panel the sounds become a new palette whose name is
// being edited; the same drop over the video area becomes Clip events.
TEST_F(DropWindowTest, SoundsDroppedOnTheLibraryPanelMakeAPalette) {
    const std::string door = sounds_.file("door.wav");
    ASSERT_TRUE(test::WriteSoundFile(door, test::MakeSine(440.0, 0.25, 48000), 1, 48000));
    AppState& s = GlobalAppState;
    CurrentProject = Project{};
    s.activeTab = 2;
    const std::size_t palettesBefore = SoundLibrary.palettes.size();
    const float width = ImGui::GetIO().DisplaySize.x;
    const float panelY = s.windowChrome.titleHeight + 60.0f;

    DropAt(width - 40.0f, panelY, {door});
    ASSERT_EQ(SoundLibrary.palettes.size(), palettesBefore + 1);
    const Palette& made = SoundLibrary.palettes.back();
    ASSERT_EQ(made.files.size(), 1u);
    EXPECT_EQ(made.files[0].path, door);
    EXPECT_EQ(s.renamingPaletteIndex, static_cast<std::int32_t>(SoundLibrary.palettes.size()) - 1);
    EXPECT_EQ(TextOf(s.paletteRenameBuffer), made.name);
    EXPECT_TRUE(CurrentProject.events.empty()) << "no Clip events";
    EXPECT_TRUE(s.dropState.droppedAudio.empty());

    // Left of the panel, over the picture: no palette, a Clip event.
    s.renamingPaletteIndex = -1;
    DropAt(40.0f, panelY, {door});
    EXPECT_EQ(SoundLibrary.palettes.size(), palettesBefore + 1);
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_TRUE(IsKind(CurrentProject.events[0].shape, EventKind::Clip));
    CurrentProject = Project{};
}

}  // namespace
}  // namespace korvel
