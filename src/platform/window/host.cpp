#include "platform/window/host.h"

#include <GL/gl.h>
#include <SDL.h>
#include <X11/Xlib.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "app/background_job.h"
#include "app/commands.h"
#include "app/frame/fonts.h"
#include "app/frame/frame.h"
#include "app/frame/theme_style.h"
#include "app/frame/title_bar.h"
#include "app/frame_work.h"
#include "app/shell.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "dsp/reverb.h"
#include "library/library.h"
#include "picture/ref_audio.h"
#include "picture/video_player.h"
#include "platform/command_line.h"
#include "platform/display_scale.h"
#include "platform/executable_dir.h"
#include "platform/hand_over.h"
#include "platform/http_client.h"
#include "platform/window/drop_input.h"
#include "platform/window/file_dialogs.h"
#include "platform/window/gl_host.h"
#include "presets/preferences.h"
#include "ui/panels/export_tab.h"
#include "ui/panels/library_tab.h"
#include "ui/panels/mixer_tab.h"
#include "ui/panels/settings_tab.h"
#include "ui/panels/trace_tab.h"
#include "ui/timeline/events_tab.h"
#include "platform/window/video_texture.h"
#include "playback/audio_output.h"
#include "playback/live_mixer.h"
#include "playback/output_hook.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/bounce.h"
#include "project/project_life.h"
#include "project/thumbnail.h"
#include "ui/timeline/event_menu.h"
#include "ui/timeline/timeline_view.h"

// [SECTION] Window and loop state
// [SECTION] Hit test and window events
// [SECTION] Input pump
// [SECTION] Frame
// [SECTION] Start-up
// [SECTION] Loop and shutdown

namespace korvel {

// [SECTION] Window and loop state

SDL_Window* MainWindowHandle = nullptr;
std::array<PixelRect, 3> CaptionButtonRects = {};
int HoveredCaptionButton = 0;
HostFrameStats FrameStats;

namespace {

// UI thread, all of them.
SDL_GLContext GlContext = nullptr;
bool SdlStarted = false;
bool UiContextMade = false;
bool UiBackendsStarted = false;
bool QuitLoop = false;       // the closeWindow hook ends the loop
bool FrameInProgress = false;
bool SwapWaits = false;      // the driver took swap interval 1
Uint64 LastPresentCounter = 0;
HandOverListener HandOver;
// Input held back for the next frame: the UI library keeps key states, not
// presses, so a key released in the batch that pressed it waits a frame.
std::vector<SDL_Event> HeldEvents;
WindowHitArea LastHitArea = WindowHitArea::Client;
Uint32 LastDragHitTicks = 0;
// The pointer in window pixels as the last handled mouse event put it. The
// X server measures event positions from the window itself, so they hold
// after the window manager moves or maximises the window, where SDL's
// cached window position (which the UI library's back end subtracts from
// the global position) may be stale. Unknown until the first mouse event.
bool PointerKnown = false;
int PointerX = 0;
int PointerY = 0;
// Left, right and middle button as the handled events left them, and
// whether each went down since the last frame (a click shorter than a frame
// still counts).
std::array<bool, 3> ButtonDown = {};
std::array<bool, 3> ButtonPressed = {};

int ButtonIndex(Uint8 button) {
    switch (button) {
        case SDL_BUTTON_LEFT: return 0;
        case SDL_BUTTON_RIGHT: return 1;
        case SDL_BUTTON_MIDDLE: return 2;
        default: return -1;
    }
}

constexpr char kLogoFile[] = "/korvel_logo_2026_6.png";
constexpr Uint32 kDoubleClickMilliseconds = 500;

double Seconds() {
    return static_cast<double>(SDL_GetPerformanceCounter()) / static_cast<double>(SDL_GetPerformanceFrequency());
}

// The desktop's font DPI ("Xft.dpi"), 0 when the display has none.
float ReadDesktopDpi() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 0.0f;
    const char* resources = XResourceManagerString(display);
    const float dpi = resources != nullptr ? ParseXftDpi(resources) : 0.0f;
    XCloseDisplay(display);
    return dpi;
}

bool WindowMaximised() {
    return MainWindowHandle != nullptr && (SDL_GetWindowFlags(MainWindowHandle) & SDL_WINDOW_MAXIMIZED) != 0;
}

void ToggleMaximised() {
    if (WindowMaximised()) {
        SDL_RestoreWindow(MainWindowHandle);
    } else {
        SDL_MaximizeWindow(MainWindowHandle);
    }
}

// [SECTION] Hit test and window events

SDL_HitTestResult HitTestCallback(SDL_Window* window, const SDL_Point* point, void*) {
    const WindowChrome& chrome = GlobalAppState.windowChrome;
    WindowHitGeometry geometry;
    SDL_GetWindowSize(window, &geometry.width, &geometry.height);
    geometry.maximised = (SDL_GetWindowFlags(window) & SDL_WINDOW_MAXIMIZED) != 0;
    geometry.uiScale = UiScale;
    geometry.titleHeight = chrome.titleHeight;
    geometry.dragLeft = chrome.dragLeft;
    geometry.dragRight = chrome.dragRight;
    geometry.captionButtons = CaptionButtonRects;
    LastHitArea = HitTestWindow(geometry, point->x, point->y);
    switch (LastHitArea) {
        case WindowHitArea::Client: return SDL_HITTEST_NORMAL;
        case WindowHitArea::Drag: return SDL_HITTEST_DRAGGABLE;
        case WindowHitArea::ResizeTop: return SDL_HITTEST_RESIZE_TOP;
        case WindowHitArea::ResizeTopLeft: return SDL_HITTEST_RESIZE_TOPLEFT;
        case WindowHitArea::ResizeTopRight: return SDL_HITTEST_RESIZE_TOPRIGHT;
        case WindowHitArea::ResizeLeft: return SDL_HITTEST_RESIZE_LEFT;
        case WindowHitArea::ResizeRight: return SDL_HITTEST_RESIZE_RIGHT;
        case WindowHitArea::ResizeBottom: return SDL_HITTEST_RESIZE_BOTTOM;
        case WindowHitArea::ResizeBottomLeft: return SDL_HITTEST_RESIZE_BOTTOMLEFT;
        case WindowHitArea::ResizeBottomRight: return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
    }
    return SDL_HITTEST_NORMAL;
}

// SDL takes clicks on the frame areas for itself, so the caption's double
// click is two of its hit-test events close together.
void OnHitTestEvent() {
    if (LastHitArea != WindowHitArea::Drag) {
        LastDragHitTicks = 0;
        return;
    }
    const Uint32 now = SDL_GetTicks();
    if (LastDragHitTicks != 0 && now - LastDragHitTicks <= kDoubleClickMilliseconds) {
        ToggleMaximised();
        LastDragHitTicks = 0;
    } else {
        LastDragHitTicks = now;
    }
}

void HandleEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEMOTION:
            PointerKnown = true;
            PointerX = event.motion.x;
            PointerY = event.motion.y;
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            PointerKnown = true;
            PointerX = event.button.x;
            PointerY = event.button.y;
            const int index = ButtonIndex(event.button.button);
            if (index >= 0) {
                const bool down = event.type == SDL_MOUSEBUTTONDOWN;
                ButtonDown[static_cast<std::size_t>(index)] = down;
                if (down) ButtonPressed[static_cast<std::size_t>(index)] = true;
            }
            break;
        }
        case SDL_QUIT:
            GlobalAppState.CloseRequested = true;
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) GlobalAppState.CloseRequested = true;
            if (event.window.event == SDL_WINDOWEVENT_HIT_TEST) OnHitTestEvent();
            break;
        default:
            // The UI library has no use for drops; their names are freed here.
            if (HandleDropEvent(event)) return;
            break;
    }
    ImGui_ImplSDL2_ProcessEvent(&event);
}

// [SECTION] Input pump


// Takes one batch of events: everything queued when busy; when idle, waits
// up to 50 ms for the first one.
void PumpEvents(bool busy) {
    std::vector<SDL_Event> batch;
    batch.swap(HeldEvents);
    SDL_Event event;
    if (!busy && batch.empty()) {
        const double before = Seconds();
        const int got = SDL_WaitEventTimeout(&event, 50);
        FrameStats.waitSeconds += Seconds() - before;
        if (got == 0) return;
        batch.push_back(event);
    }
    while (SDL_PollEvent(&event) != 0) batch.push_back(event);

    std::unordered_set<int> pressed;  // scancodes pressed in this batch
    bool dropText = false;
    bool buttonSeen = false;  // a mouse button went down or up in this batch
    bool motionSeen = false;  // the pointer moved in this batch
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const SDL_Event& e = batch[i];
        // Pointer moves and button changes take turns by frame: a click is
        // seen where it was made, and a drag's first frame does not carry
        // the pointer's way to the press.
        const bool button = e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP;
        const bool turn = (buttonSeen && e.type == SDL_MOUSEMOTION) || (motionSeen && button);
        if ((e.type == SDL_KEYUP && pressed.count(e.key.keysym.scancode) != 0) || turn) {
            HeldEvents.assign(batch.begin() + static_cast<std::ptrdiff_t>(i), batch.end());
            break;
        }
        if (button) buttonSeen = true;
        if (e.type == SDL_MOUSEMOTION) motionSeen = true;
        if (PreFilterKeyEvent(e)) {
            dropText = true;  // the key's character, if any, follows it
            continue;
        }
        if (e.type == SDL_TEXTINPUT && dropText) {
            dropText = false;
            continue;
        }
        if (e.type == SDL_KEYDOWN) pressed.insert(e.key.keysym.scancode);
        dropText = false;
        HandleEvent(e);
    }
}

// [SECTION] Frame

// Replaces the back end's pointer (global position minus SDL's cached window
// position) with the position the mouse events gave, in window pixels. Kept
// while a button is held, when the pointer may leave the window; otherwise
// a pointer outside the window points at nothing.
void FeedPointer(ImGuiIO& io) {
    // The buttons too follow the handled events, not SDL's latest state, so
    // that a press held back for the next frame is not seen early. With
    // nothing held back both agree, except where a release never reached the
    // window (the window manager took the pointer): SDL's state wins then.
    const Uint32 state = SDL_GetMouseState(nullptr, nullptr);
    const Uint32 masks[3] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK};
    for (std::size_t i = 0; i < 3; ++i) {
        if (HeldEvents.empty()) ButtonDown[i] = (state & masks[i]) != 0;
        io.MouseDown[i] = ButtonDown[i] || ButtonPressed[i];
        ButtonPressed[i] = false;
    }
    if (io.MousePos.x == -FLT_MAX || io.MousePos.y == -FLT_MAX) return;  // not ours this frame
    if (!PointerKnown) {
        SDL_GetMouseState(&PointerX, &PointerY);
        PointerKnown = true;
    }
    const bool held = io.MouseDown[0] || io.MouseDown[1] || io.MouseDown[2];
    if (!held && SDL_GetMouseFocus() != MainWindowHandle) {
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        return;
    }
    io.MousePos = ImVec2(static_cast<float>(PointerX), static_cast<float>(PointerY));
}

void DrawUIGuarded() {
    // Anything thrown from the frame's work ends only this frame's drawing;
    // the UI library's stacks are unwound so the frame still renders.
    try {
        DrawUI();
    } catch (...) {
    }
    ImGui::ErrorCheckEndFrameRecover(nullptr);
}

// Without a swap that waits for the display (a virtual display, a minimised
// window) busy frames would spin: they are held to 60 a second.
void PaceFrame() {
    const bool hidden = (SDL_GetWindowFlags(MainWindowHandle) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) != 0;
    const double frequency = static_cast<double>(SDL_GetPerformanceFrequency());
    Uint64 now = SDL_GetPerformanceCounter();
    if ((!SwapWaits || hidden) && LastPresentCounter != 0) {
        const double elapsed = static_cast<double>(now - LastPresentCounter) / frequency;
        const double minimum = 1.0 / 60.0;
        if (elapsed < minimum) {
            SDL_Delay(static_cast<Uint32>((minimum - elapsed) * 1000.0));
            now = SDL_GetPerformanceCounter();
        }
    }
    LastPresentCounter = now;
}

}  // namespace

void RenderFrame() {
    if (FrameInProgress || !MainLoopRunning || MainWindowHandle == nullptr) return;
    FrameInProgress = true;

    int drawableWidth = 0;
    int drawableHeight = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    SDL_GL_GetDrawableSize(MainWindowHandle, &drawableWidth, &drawableHeight);
    SDL_GetWindowSize(MainWindowHandle, &windowWidth, &windowHeight);

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    // The UI works in UI units: window pixels over the scale.
    ImGuiIO& io = ImGui::GetIO();
    FeedPointer(io);
    io.DisplaySize = ImVec2(static_cast<float>(windowWidth) / UiScale, static_cast<float>(windowHeight) / UiScale);
    if (io.DisplaySize.x > 0.0f && io.DisplaySize.y > 0.0f) {
        io.DisplayFramebufferScale = ImVec2(static_cast<float>(drawableWidth) / io.DisplaySize.x,
                                            static_cast<float>(drawableHeight) / io.DisplaySize.y);
    }
    if (io.MousePos.x != -FLT_MAX && io.MousePos.y != -FLT_MAX) {
        io.MousePos = ImVec2(io.MousePos.x / UiScale, io.MousePos.y / UiScale);
    }
    NewUiFrame();

    const double drawStart = Seconds();
    DrawUIGuarded();
    const double renderStart = Seconds();

    ImGui::Render();
    glViewport(0, 0, drawableWidth, drawableHeight);
    glClearColor(0.043f, 0.051f, 0.063f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());

    BackgroundJob& job = GlobalAppState.backgroundJob;
    if (job.snapshotRequested && !CaptureBackBufferSnapshot(drawableWidth, drawableHeight))
        SnapshotCopyFinished(job, false, nullptr);
    CaptureProjectThumbnail();
    SDL_GL_SwapWindow(MainWindowHandle);

    FrameStats.frames += 1;
    FrameStats.drawSeconds += renderStart - drawStart;
    FrameStats.renderSeconds += Seconds() - renderStart;
    PaceFrame();
    FrameInProgress = false;
}

bool PreFilterKeyEvent(const SDL_Event& event) {
    if (event.type != SDL_KEYDOWN) return false;
    const Uint16 mod = event.key.keysym.mod;
    const int command = AcceleratorCommand(event.key.keysym.sym, (mod & KMOD_CTRL) != 0, (mod & KMOD_SHIFT) != 0,
                                           (mod & KMOD_ALT) != 0);
    if (command == 0) return false;
    GlobalAppState.PendingMenuCommand.store(command);
    return true;
}

int AcceleratorCommand(int keycode, bool ctrl, bool shift, bool alt) {
    return AcceleratorCommandFor(keycode, ctrl, shift, alt);
}

// [SECTION] Start-up

namespace {

bool StartFailed(int& exitCode) {
    exitCode = 1;
    ShutDown();
    return false;
}

// Without a display SDL falls back to drawing off screen, where nobody
// would see the window: that is a failed start unless asked for by name.
bool OnRealDisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return false;
    const std::string name = driver;
    if (name == "x11" || name == "wayland") return true;
    const char* requested = SDL_getenv("SDL_VIDEODRIVER");
    return requested != nullptr && name == requested;
}

SDL_GLContext CreateGlContext(SDL_Window* window) {
    // 3.3 core; 3.2 is the least the UI library's renderer needs.
    for (int minor : {3, 2}) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
        if (SDL_GLContext context = SDL_GL_CreateContext(window)) return context;
    }
    return nullptr;
}

void InstallPlatformHooks() {
    AppState& state = GlobalAppState;
    PlatformHooks& hooks = state.platformHooks;
    hooks.closeWindow = [] { DestroyMainWindow(); };
    hooks.drawMenuButton = [](float& x, float titleHeight) { return DrawMenuButton(x, titleHeight); };
    if (state.windowChrome.customTitleBar) {
        hooks.drawCaptionButtons = [](float titleHeight) { return DrawCaptionButtons(titleHeight); };
    }
    hooks.EngineOutputHook = RefAudioOutputHook;
    SetEngineOutputHook(hooks.EngineOutputHook);
    hooks.openFileDialog = ShowOpenFileDialog;
    hooks.openVideoDialog = ShowVideoOpenDialog;
    // The strip's geometry is laid out again each frame; only its gestures matter.
    ProjectLifeHooks.resetTimelineState = [] { Timeline = TimelineState{}; };
    ProjectLifeCycle.saveProject = SaveProject;
    ProjectLifeCycle.runPendingProjectAction = RunPendingProjectAction;
    ProjectLifeCycle.autoSaveProject = AutoSaveProject;
    hooks.saveFileDialog = ShowSaveFileDialog;
    hooks.pickFolder = PickFolderDialog;
    hooks.pickExportLocation = ShowExportSaveDialog;
    hooks.revealInExplorer = RevealInExplorer;
    hooks.openDocument = ShellOpen;
    hooks.openUrl = ShellOpen;
    hooks.HttpGetHook = [](HttpResponse& response, const std::string& url) { response = HttpGet(url); };
    hooks.readBackBuffer = [](ThumbnailFrame& frame) { return ReadBackBuffer(frame); };
    EventMenuServices.bounceSelectionToClip = [] { return BounceSelectionToClip(); };
    EventMenuServices.revertBounce = [](std::int32_t index) { return RevertBounce(index); };
}

}  // namespace

bool StartUp(const std::string& commandLinePath, int& exitCode) {
    exitCode = 0;
    AppState& state = GlobalAppState;

    // A copy that already runs opens the project instead.
    if (!commandLinePath.empty() && SendHandOver(commandLinePath)) return false;

    // Without a Wayland session SDL's Wayland probe only prints complaints.
    if (SDL_getenv("WAYLAND_DISPLAY") == nullptr) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return StartFailed(exitCode);
    SdlStarted = true;
    if (!OnRealDisplay()) return StartFailed(exitCode);

    UiScale = UiScaleFromDpi(ReadDesktopDpi());
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    MainWindowHandle = SDL_CreateWindow(
        "Korvel", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, static_cast<int>(1280.0f * UiScale),
        static_cast<int>(720.0f * UiScale),
        SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN);
    if (MainWindowHandle == nullptr) return StartFailed(exitCode);
    SDL_SetWindowMinimumSize(MainWindowHandle, static_cast<int>(960.0f * UiScale), static_cast<int>(540.0f * UiScale));

    GlContext = CreateGlContext(MainWindowHandle);
    if (GlContext == nullptr || SDL_GL_MakeCurrent(MainWindowHandle, GlContext) != 0) return StartFailed(exitCode);
    // Refused by virtual displays; frames are then paced by PaceFrame.
    SwapWaits = SDL_GL_SetSwapInterval(1) == 0;

    // Without hit-test support the system draws the frame and caption.
    WindowChrome& chrome = state.windowChrome;
    chrome.customTitleBar = SDL_SetWindowHitTest(MainWindowHandle, HitTestCallback, nullptr) == 0;
    if (!chrome.customTitleBar) SDL_SetWindowBordered(MainWindowHandle, SDL_TRUE);
    chrome.titleLeftPad = 12.0f;
    chrome.captionButtonsWidth = 142.0f;
    SDL_ShowWindow(MainWindowHandle);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    UiContextMade = true;
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;

    state.executableFolder = GetExecutableDir();
    LoadFonts(state.executableFolder, UiScale, state);
    std::printf("[UI] uiScale=%.2f, autoFontPreset=Medium\n", static_cast<double>(UiScale));
    std::fflush(stdout);

    InitHttpClient();
    InstallPlatformHooks();
    MainTabPanels[0] = DrawEventsTab;
    MainTabPanels[1] = DrawTraceTab;
    MainTabPanels[2] = DrawLibraryTab;
    MainTabPanels[3] = DrawMixerTab;
    MainTabPanels[4] = DrawExportTab;
    MainTabPanels[5] = DrawSettingsTab;
    ShellThemeHooks.applyTheme = ApplyThemeToStyle;
    ApplyTheme();

    if (!ImGui_ImplSDL2_InitForOpenGL(MainWindowHandle, GlContext) || !ImGui_ImplOpenGL3_Init("#version 150")) {
        UiBackendsStarted = true;
        return StartFailed(exitCode);
    }
    UiBackendsStarted = true;

    state.logoTexture = LoadTextureFromFile(state.executableFolder + kLogoFile, state.logoWidth, state.logoHeight);
    GlobalVideoPlayer.device = &VideoTexture;

    // Audio: the engine runs at the project's rate; the output hook is in
    // place before the stream starts. No device is a normal state: the
    // output stays closed and says so on the status line.
    PlaybackEngine& engine = LivePlaybackEngine;
    SetPlaybackSampleRate(engine, state.projectSampleRate);
    ResetReverb(engine.reverbState, engine.sampleRate);
    StartAudioOutput(LiveAudioOutput, AudioRenderCallback, &engine.playing,
                     static_cast<std::uint32_t>(std::max(engine.sampleRate, 0)));
    ProjectLifeCycle.recoverAudioDevice = [] { RecoverAudioDevice(LiveAudioOutput); };

    // A second copy without a project path runs without the listener.
    HandOver.Open();

    if (!commandLinePath.empty()) state.PendingOpenPath = commandLinePath;
    QuitLoop = false;
    MainLoopRunning = true;
    return true;
}

// [SECTION] Loop and shutdown

void DestroyMainWindow() {
    QuitLoop = true;
    if (MainWindowHandle != nullptr) SDL_HideWindow(MainWindowHandle);
}

bool RunLoopPass() {
    if (!MainLoopRunning || QuitLoop) return false;
    AppState& state = GlobalAppState;

    LoopInputState input;
    const ImGuiIO& io = ImGui::GetIO();
    input.wantsTextInput = io.WantTextInput;
    input.popupOpen = !GImGui->OpenPopupStack.empty();
    input.widgetActive = ImGui::IsAnyItemActive();
    input.queuedInput = !HeldEvents.empty();
    PumpEvents(MainLoopBusy(state, SoundLibrary, input));

    if (state.PrefsSaveRequested.exchange(false)) {
        SavePrefs();
    }

    std::string handedOver;
    if (HandOver.Poll(UiClockSeconds(), handedOver)) {
        state.PendingOpenPath = std::move(handedOver);
        if ((SDL_GetWindowFlags(MainWindowHandle) & SDL_WINDOW_MINIMIZED) != 0) SDL_RestoreWindow(MainWindowHandle);
        SDL_RaiseWindow(MainWindowHandle);
    }

    RenderFrame();
    // The menu the title bar asks for (PendingMenuPopup) is shown by the
    // frame's command handling.
    return !QuitLoop;
}

void ShutDown() {
    AppState& state = GlobalAppState;
    MainLoopRunning = false;

    // The crash lock survives only a crash (and another window's lock is
    // left to that window).
    DeleteCrashLock();
    StopWorkers();
    // Saving the preferences comes here once it is built. The stream stops
    // before the hook it calls is taken back. The video closes while its
    // texture's context still exists; closing stops its sound's decoding
    // worker.
    ProjectLifeCycle.recoverAudioDevice = nullptr;
    ShutDownAudioOutput(LiveAudioOutput);
    SetEngineOutputHook(nullptr);
    GlobalVideoPlayer.Close();
    GlobalVideoPlayer.device = nullptr;

    HandOver.Close();
    if (UiBackendsStarted) {
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplSDL2_Shutdown();
        UiBackendsStarted = false;
    }
    if (UiContextMade) {
        ImGui::DestroyContext();
        UiContextMade = false;
    }
    if (GlContext != nullptr) {
        DestroyTexture(state.logoTexture);
        ReleaseBackBufferSnapshot();
        SDL_GL_DeleteContext(GlContext);
        GlContext = nullptr;
    }
    state.logoTexture = nullptr;
    state.logoWidth = state.logoHeight = 0;
    if (MainWindowHandle != nullptr) {
        SDL_DestroyWindow(MainWindowHandle);
        MainWindowHandle = nullptr;
    }
    if (SdlStarted) {
        SDL_Quit();
        SdlStarted = false;
    }
    state.platformHooks = PlatformHooks{};
    ShellThemeHooks.applyTheme = nullptr;
    ShellThemeHooks.setDefaultFont = nullptr;
    state.fonts = FontTable{};  // they lived in the destroyed context's atlas
    HeldEvents.clear();
    PointerKnown = false;
    ButtonDown = {};
    ButtonPressed = {};
    CaptionButtonRects = {};
    HoveredCaptionButton = 0;
    LastPresentCounter = 0;
    QuitLoop = false;
}

int RunKorvel(int argc, char** argv) {
    int exitCode = 0;
    if (!StartUp(GetCommandLineProjectPath(argc, argv), exitCode)) return exitCode;
    while (RunLoopPass()) {
    }
    ShutDown();
    return 0;
}

}  // namespace korvel
