// The host in a real window on a virtual display: start-up, the window's
// size and scale, the hand-over between two copies, input batches, reading
// back what was drawn, textures and shutdown with workers running.
#include "platform/window/host.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/background_job.h"
#include "app/shell.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "picture/ref_audio.h"
#include "picture/video_player.h"
#include "platform/image_file.h"
#include "platform/window/gl_host.h"
#include "platform/window/video_texture.h"
#include "playback/audio_output.h"
#include "playback/output_hook.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/thumbnail.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

void SetDesktopDpi(int dpi) {
    const std::string command = "echo 'Xft.dpi: " + std::to_string(dpi) + "' | xrdb -merge";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The first frame reads the preferences and the library caches: a
        // fresh home each time, so earlier runs never change the colours.
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", runtime_.file("config").c_str(), 1);
        setenv("XDG_DATA_HOME", runtime_.file("data").c_str(), 1);
        SetDesktopDpi(96);
    }
    void TearDown() override {
        ShutDown();
        GlobalAppState.PendingOpenPath.clear();
        GlobalAppState.CloseRequested = false;
        GlobalAppState.PendingMenuCommand.store(0);
        GlobalAppState.launcherOpen = false;
        GlobalAppState.launcherDismissed = false;
    }

    void Start() {
        int exitCode = -1;
        ASSERT_TRUE(StartUp("", exitCode));
        ASSERT_NE(MainWindowHandle, nullptr);
        // The frames read back here lie under no launcher.
        GlobalAppState.launcherDismissed = true;
    }

    static void Passes(int count) {
        for (int i = 0; i < count; ++i) RunLoopPass();
    }

    static void PushKey(Uint32 type, SDL_Keycode key, Uint16 mod) {
        SDL_Event event{};
        event.type = type;
        event.key.windowID = SDL_GetWindowID(MainWindowHandle);
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.sym = key;
        event.key.keysym.scancode = SDL_GetScancodeFromKey(key);
        event.key.keysym.mod = mod;
        SDL_PushEvent(&event);
    }

    test::TempDir runtime_;
};

TEST_F(HostTest, WindowSizeAndMinimumFollowTheDesktopDpi) {
    struct Case {
        int dpi;
        float scale;
        int width, height, minWidth, minHeight;
    };
    const Case cases[] = {
        {96, 1.0f, 1280, 720, 960, 540},
        {144, 1.5f, 1920, 1080, 1440, 810},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        SetDesktopDpi(c.dpi);
        Start();
        EXPECT_FLOAT_EQ(UiScale, c.scale);
        int w = 0, h = 0;
        SDL_GetWindowSize(MainWindowHandle, &w, &h);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        SDL_GetWindowMinimumSize(MainWindowHandle, &w, &h);
        EXPECT_EQ(w, c.minWidth);
        EXPECT_EQ(h, c.minHeight);
        EXPECT_STREQ(SDL_GetWindowTitle(MainWindowHandle), "Korvel");
        EXPECT_NE(SDL_GetWindowFlags(MainWindowHandle) & SDL_WINDOW_BORDERLESS, 0u);

        // One frame: the UI works in units, the title bar's geometry is set.
        Passes(1);
        const ImGuiIO& io = ImGui::GetIO();
        EXPECT_FLOAT_EQ(io.DisplaySize.x, 1280.0f);
        EXPECT_FLOAT_EQ(io.DisplaySize.y, 720.0f);
        EXPECT_FLOAT_EQ(io.DisplayFramebufferScale.x, c.scale);
        EXPECT_GT(GlobalAppState.windowChrome.titleHeight, 0.0f);
        EXPECT_EQ(CaptionButtonRects[2].right, c.width) << "close button at the right edge, in pixels";
        ShutDown();
    }
    SetDesktopDpi(96);
}

TEST_F(HostTest, StartUpInstallsTheHostHooks) {
    Start();
    const AppState& state = GlobalAppState;
    EXPECT_TRUE(state.windowChrome.customTitleBar);
    EXPECT_TRUE(static_cast<bool>(state.platformHooks.closeWindow));
    EXPECT_TRUE(static_cast<bool>(state.platformHooks.drawMenuButton));
    EXPECT_TRUE(static_cast<bool>(state.platformHooks.drawCaptionButtons));
    EXPECT_TRUE(static_cast<bool>(state.platformHooks.readBackBuffer));
    EXPECT_TRUE(static_cast<bool>(state.platformHooks.openVideoDialog));
    EXPECT_FALSE(state.executableFolder.empty());
    EXPECT_TRUE(MainLoopRunning);
    // The live output pulls the mixer at the engine's rate, or stays closed
    // without a device and says so; the frame's device check is installed.
    const AudioOutput& output = LiveAudioOutput;
    EXPECT_TRUE(static_cast<bool>(output.render));
    EXPECT_EQ(output.playingFlag, &LivePlaybackEngine.playing);
    EXPECT_NE(output.rtaudio, nullptr);
    EXPECT_EQ(output.requestedRate, static_cast<std::uint32_t>(LivePlaybackEngine.sampleRate));
    EXPECT_TRUE(output.open || output.statusText == "Could not open audio device") << output.statusText;
    EXPECT_TRUE(static_cast<bool>(ProjectLifeCycle.recoverAudioDevice));
    ShutDown();
    EXPECT_FALSE(MainLoopRunning);
    EXPECT_FALSE(static_cast<bool>(GlobalAppState.platformHooks.closeWindow));
    EXPECT_EQ(output.rtaudio, nullptr);
    EXPECT_FALSE(output.open);
    EXPECT_FALSE(static_cast<bool>(ProjectLifeCycle.recoverAudioDevice));
}

TEST_F(HostTest, SecondCopyHandsItsProjectToTheFirst) {
    Start();
    Passes(1);
    const std::string path = runtime_.file("Reel 2.KVPROJ");
    ASSERT_TRUE(test::WriteBytes(path, R"({"format": "Korvel", "projectDescription": "Reel 2"})"));
    const std::string second = std::string("timeout 20 '") + KORVEL_EXECUTABLE + "' -x '" + path + "' >/dev/null";
    EXPECT_EQ(std::system(second.c_str()), 0) << "the second copy exits 0 after handing over";
    // The frame that takes the handed-over path opens it.
    for (int i = 0; i < 20 && GlobalAppState.projectPath != path; ++i) Passes(1);
    EXPECT_EQ(GlobalAppState.projectPath, path);
    EXPECT_EQ(GlobalAppState.projectDescription, "Reel 2");
    EXPECT_TRUE(GlobalAppState.PendingOpenPath.empty());
}

TEST_F(HostTest, NoDisplayEndsWithExitCodeOne) {
    const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 '") + KORVEL_EXECUTABLE +
                                "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

// The UI library keeps key states, not presses: a key pressed and released
// between two frames must still be down in one frame.
TEST_F(HostTest, KeyPressedAndReleasedInOneBatchIsSeen) {
    Start();
    Passes(1);
    const SDL_Scancode d = SDL_GetScancodeFromKey(SDLK_d);
    PushKey(SDL_KEYDOWN, SDLK_d, KMOD_NONE);
    PushKey(SDL_KEYUP, SDLK_d, KMOD_NONE);
    Passes(1);
    EXPECT_TRUE(ImGui::GetIO().KeysDown[d]);
    Passes(1);
    EXPECT_FALSE(ImGui::GetIO().KeysDown[d]);
}

TEST_F(HostTest, AcceleratorPostsItsCommandAndTheUiNeverSeesTheKey) {
    Start();
    Passes(1);
    GlobalAppState.activeTab = 0;
    const SDL_Scancode comma = SDL_GetScancodeFromKey(SDLK_COMMA);
    PushKey(SDL_KEYDOWN, SDLK_COMMA, KMOD_LCTRL);
    Passes(1);
    EXPECT_EQ(GlobalAppState.activeTab, 5) << "Ctrl+, reached the frame's commands";
    EXPECT_FALSE(ImGui::GetIO().KeysDown[comma]);

    // A later command replaces one not yet taken.
    PushKey(SDL_KEYDOWN, SDLK_COMMA, KMOD_LCTRL);
    PushKey(SDL_KEYDOWN, SDLK_e, KMOD_LCTRL | KMOD_LSHIFT);
    Passes(1);
    EXPECT_EQ(GlobalAppState.activeTab, 4);
    EXPECT_EQ(GlobalAppState.PendingMenuCommand.load(), 0);
}

TEST(Accelerators, ExactModifiers) {
    struct Case {
        const char* name;
        int key;
        bool ctrl, shift, alt;
        int command;
    };
    const Case cases[] = {
        {"Ctrl+N new", SDLK_n, true, false, false, 37},
        {"Ctrl+O open", SDLK_o, true, false, false, 38},
        {"Ctrl+Shift+S save as", SDLK_s, true, true, false, 39},
        {"Ctrl+Shift+E export", SDLK_e, true, true, false, 40},
        {"Ctrl+W close", SDLK_w, true, false, false, 41},
        {"Ctrl+Shift+1 launcher", SDLK_1, true, true, false, 45},
        {"Ctrl+comma settings", SDLK_COMMA, true, false, false, 42},
        {"Ctrl+= zoom in", SDLK_EQUALS, true, false, false, 14},
        {"Ctrl+- zoom out", SDLK_MINUS, true, false, false, 15},
        {"Ctrl+0 fit", SDLK_0, true, false, false, 46},
        {"F1 help", SDLK_F1, false, false, false, 44},
        {"Ctrl+S is the frame's save, not an accelerator", SDLK_s, true, false, false, 0},
        {"Ctrl+Shift+N", SDLK_n, true, true, false, 0},
        {"N alone", SDLK_n, false, false, false, 0},
        {"Alt+Ctrl+N", SDLK_n, true, false, true, 0},
        {"Ctrl+F1", SDLK_F1, true, false, false, 0},
        {"Ctrl+1 without Shift", SDLK_1, true, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AcceleratorCommand(c.key, c.ctrl, c.shift, c.alt), c.command);
    }
}

TEST_F(HostTest, BackBufferReadsTopRowFirst) {
    Start();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(MainWindowHandle, &w, &h);
    glViewport(0, 0, w, h);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, h / 2, w, h - h / 2);  // GL's y grows upwards: the top half
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);

    ThumbnailFrame frame;
    ASSERT_TRUE(ReadBackBuffer(frame));
    ASSERT_EQ(frame.width, w);
    ASSERT_EQ(frame.height, h);
    const std::uint8_t* top = frame.pixels.data();
    const std::uint8_t* bottom = frame.pixels.data() + frame.rowPitch * static_cast<std::size_t>(h - 1);
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[2], 255) << "top row is blue";
    EXPECT_EQ(bottom[0], 255) << "bottom row is red";
    EXPECT_EQ(bottom[2], 0);
}

// A save asks for a thumbnail; the frame reads what it drew before the swap.
TEST_F(HostTest, ThumbnailHoldsTheDrawnFrame) {
    Start();
    const std::string png = runtime_.file("film.thumb.png");
    GlobalAppState.pendingThumbnailPath = png;
    Passes(1);
    EXPECT_TRUE(GlobalAppState.pendingThumbnailPath.empty());
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(LoadImageRGBA(png, pixels, w, h));
    EXPECT_EQ(w, kThumbnailWidth);
    EXPECT_EQ(h, 225);
    // Below the title strip the window background covers the frame, not
    // the clear colour (0B0D10): read in the timeline's header column, where
    // no lane is drawn near the bottom.
    const std::size_t at = (static_cast<std::size_t>(h - 10) * static_cast<std::size_t>(w) + 10) * 4;
    const std::uint32_t bg = ThemePalette.windowBg;
    ASSERT_NE(bg & 0xFFFFFFu, 0x100D0Bu);
    EXPECT_NEAR(pixels[at + 0], bg & 0xFF, 1);
    EXPECT_NEAR(pixels[at + 1], bg >> 8 & 0xFF, 1);
    EXPECT_NEAR(pixels[at + 2], bg >> 16 & 0xFF, 1);
}

// A switch of theme reaches the drawn frame: the window background is read
// back in theme 0's and then theme 1's colour.
TEST_F(HostTest, DrawnFrameShowsTheThemesWindowBackground) {
    Start();
    for (int theme : {0, 1}) {
        SCOPED_TRACE(theme);
        SetTheme(theme);
        const std::string png = runtime_.file("theme" + std::to_string(theme) + ".png");
        GlobalAppState.pendingThumbnailPath = png;
        Passes(1);
        std::vector<std::uint8_t> pixels;
        int w = 0, h = 0;
        ASSERT_TRUE(LoadImageRGBA(png, pixels, w, h));
        const std::size_t at = (static_cast<std::size_t>(h - 10) * static_cast<std::size_t>(w) + 10) * 4;
        const std::uint32_t bg = ThemePalette.windowBg;
        EXPECT_NEAR(pixels[at + 0], bg & 0xFF, 1);
        EXPECT_NEAR(pixels[at + 1], bg >> 8 & 0xFF, 1);
        EXPECT_NEAR(pixels[at + 2], bg >> 16 & 0xFF, 1);
    }
    SetTheme(0);
}

TEST_F(HostTest, ImageFileBecomesATextureOfItsSize) {
    Start();
    const std::string png = runtime_.file("dot.png");
    const std::uint8_t dot[4] = {10, 20, 30, 255};
    ASSERT_TRUE(WritePngFile(png, dot, 1, 1));
    int w = 0, h = 0;
    void* texture = LoadTextureFromFile(png, w, h);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    GLint gw = 0, gh = 0;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(reinterpret_cast<std::uintptr_t>(texture)));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &gw);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &gh);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(gw, 1);
    EXPECT_EQ(gh, 1);
    DestroyTexture(texture);

    int kept = 7;
    EXPECT_EQ(LoadTextureFromFile(runtime_.file("missing.png"), kept, kept), nullptr);
    EXPECT_EQ(kept, 7);
    ASSERT_TRUE(test::WriteBytes(runtime_.file("bad.png"), "\x89PNG not really"));
    EXPECT_EQ(LoadTextureFromFile(runtime_.file("bad.png"), kept, kept), nullptr);
}

TEST_F(HostTest, VideoFramesReachTheVideoTexture) {
    Start();
    EXPECT_EQ(GlobalAppState.platformHooks.EngineOutputHook, &RefAudioOutputHook);
    EXPECT_EQ(EngineOutputHook.load(), &RefAudioOutputHook);  // the audio thread's copy
    ASSERT_EQ(GlobalVideoPlayer.device, &VideoTexture);
    test::TestVideoSpec spec;
    spec.solidColour = true;
    const std::string path = runtime_.file("red.mkv");
    ASSERT_TRUE(test::WriteTestVideo(path, spec));
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(GlobalVideoPlayer.Load(path.c_str()));
    ::testing::internal::GetCapturedStdout();
    ASSERT_NE(GlobalVideoPlayer.frameView, nullptr);
    const GLuint name = static_cast<GLuint>(reinterpret_cast<std::uintptr_t>(GlobalVideoPlayer.frameView));

    std::vector<std::uint8_t> pixels(64 * 32 * 4);
    glBindTexture(GL_TEXTURE_2D, name);
    GLint format = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(format, GL_RGBA8);
    for (std::size_t p : {std::size_t{0}, std::size_t{64 * 16 + 32}, std::size_t{64 * 32 - 1}}) {
        EXPECT_NEAR(pixels[p * 4 + 0], 200, 8) << p;
        EXPECT_NEAR(pixels[p * 4 + 1], 40, 8) << p;
        EXPECT_NEAR(pixels[p * 4 + 2], 40, 8) << p;
        EXPECT_EQ(pixels[p * 4 + 3], 255) << p;
    }
    // Shutdown closes the video and frees its texture while the context lives.
    ShutDown();
    EXPECT_FALSE(GlobalVideoPlayer.loaded);
    EXPECT_EQ(GlobalVideoPlayer.device, nullptr);
    EXPECT_EQ(VideoTexture.texture, 0u);
    EXPECT_EQ(EngineOutputHook.load(), nullptr);
}

TEST_F(HostTest, SnapshotStorageIsMadeOnlyAtANewSize) {
    Start();
    BackgroundJob& job = GlobalAppState.backgroundJob;
    job.snapshotRequested = true;
    Passes(1);
    EXPECT_FALSE(job.snapshotRequested);
    ASSERT_NE(BackBufferSnapshot.texture, 0u);
    EXPECT_EQ(job.snapshotView, reinterpret_cast<void*>(static_cast<std::uintptr_t>(BackBufferSnapshot.texture)));
    EXPECT_EQ(BackBufferSnapshot.allocations, 1);
    const unsigned texture = BackBufferSnapshot.texture;

    job.snapshotRequested = true;
    Passes(1);
    EXPECT_EQ(BackBufferSnapshot.allocations, 1);
    EXPECT_EQ(BackBufferSnapshot.texture, texture);

    ASSERT_TRUE(CaptureBackBufferSnapshot(640, 360));
    EXPECT_EQ(BackBufferSnapshot.allocations, 2);
    ASSERT_TRUE(CaptureBackBufferSnapshot(640, 360));
    EXPECT_EQ(BackBufferSnapshot.allocations, 2);
    EXPECT_EQ(BackBufferSnapshot.texture, texture) << "one texture, new storage";
    job.snapshotView = nullptr;
}

// Closing while a job waits for its cancel and an export writes: both end
// before the loop does, and the crash lock goes with a normal exit.
TEST_F(HostTest, CloseJoinsTheJobAndTheExportFirst) {
    Start();
    Passes(1);
    AppState& state = GlobalAppState;
    const std::string lock = runtime_.file("film.kvproj.lock");
    ASSERT_TRUE(test::WriteBytes(lock, "pid"));
    state.lockFilePath = lock;

    std::atomic<bool> jobSawCancel{false};
    StartBackgroundJob("Building...", [&] {
        while (!state.backgroundJob.cancel.load()) std::this_thread::yield();
        jobSawCancel.store(true);
        state.backgroundJob.done.store(true, std::memory_order_release);
    }, true, -1.0f);
    ASSERT_TRUE(LaunchBackgroundJobWorker(state.backgroundJob));

    std::atomic<bool> exportFinished{false};
    ASSERT_TRUE(StartExportThread(state.exportThread, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        exportFinished.store(true);
    }));

    state.CloseRequested = true;
    bool running = true;
    for (int i = 0; i < 5 && running; ++i) running = RunLoopPass();
    EXPECT_FALSE(running) << "the close hook ends the loop";
    EXPECT_TRUE(jobSawCancel.load());
    EXPECT_FALSE(state.backgroundJob.worker.joinable());
    EXPECT_TRUE(exportFinished.load());
    EXPECT_FALSE(state.exportThread.joinable);

    ShutDown();
    EXPECT_FALSE(std::filesystem::exists(lock));
    EXPECT_TRUE(state.lockFilePath.empty());
    EndBackgroundJob(state.backgroundJob);
}

}  // namespace
}  // namespace korvel
