#pragma once
// The program's host: the one SDL window with its OpenGL context and the UI
// library, the main loop with its busy and idle rule, and the start-up and
// shutdown around them.
//
// [SECTION] Window and loop state
// [SECTION] Start-up, loop and shutdown
// [SECTION] Title-bar hooks
#include <array>
#include <cstdint>
#include <string>

#include "platform/window_hit_test.h"

struct SDL_Window;
union SDL_Event;

namespace korvel {

// [SECTION] Window and loop state
// All of it belongs to the UI thread.

extern SDL_Window* MainWindowHandle;  // null before start-up and after shutdown
// Minimise, maximise, close in window pixels, written by DrawCaptionButtons
// each frame and read by the hit test.
extern std::array<PixelRect, 3> CaptionButtonRects;
// 0 none, 1 minimise, 2 maximise, 3 close: the caption button under the
// pointer in the last frame.
extern int HoveredCaptionButton;

// Timing of the frames since start-up, for the idle benchmark.
struct HostFrameStats {
    std::int64_t frames = 0;
    double drawSeconds = 0.0;    // DrawUI
    double renderSeconds = 0.0;  // UI library render, draw, read-backs and swap
    double waitSeconds = 0.0;    // asleep waiting for input
};
extern HostFrameStats FrameStats;

// [SECTION] Start-up, loop and shutdown

// The whole run: start-up, the loop until the window closes, shutdown.
// Exit code 0 after a normal run and after handing the project path to a
// running copy; 1 when SDL, the window or the OpenGL context cannot be had
// (no display included).
int RunKorvel(int argc, char** argv);

// Start-up with the command line's project path already taken. Returns
// false when the program is to end at once, with `exitCode` set (0 after a
// hand-over, 1 on failure; whatever was made is released then).
bool StartUp(const std::string& commandLinePath, int& exitCode);

// One pass of the loop: take input (waiting up to 50 ms when idle), save
// requested preferences, poll the hand-over, draw one frame. False once the
// window has been closed.
bool RunLoopPass();

// After the loop: stops the workers, releases everything start-up made.
// Safe to call after a start-up that failed half-way.
void ShutDown();

// The closeWindow hook: ends the loop after the current pass; the window
// itself is destroyed by shutdown.
void DestroyMainWindow();

// One frame: the UI library's frame around DrawUI, drawn and presented.
// Does nothing while a frame is being drawn or when the loop is not running.
void RenderFrame();

// Applied before the UI library sees an event: the shortcuts that must work
// while a text field has the keyboard post their command and swallow the
// key. True when the event was taken.
bool PreFilterKeyEvent(const SDL_Event& event);

// The command of the accelerator a key press makes (exact Ctrl and Shift,
// no Alt), or 0.
int AcceleratorCommand(int keycode, bool ctrl, bool shift, bool alt);

// [SECTION] Title-bar hooks

// Draws the menu button at x in the current UI window and advances x past
// it; a click raises PendingMenuPopup. Returns the new x.
float DrawMenuButton(float& x, float titleHeight);

// Draws minimise, maximise or restore, and close at the right edge of the
// current UI window and acts on a click. Returns the left edge of the block
// in window pixels.
int DrawCaptionButtons(float titleHeight);

}  // namespace korvel
