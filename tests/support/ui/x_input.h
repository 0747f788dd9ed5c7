#pragma once
// Real input on the virtual display: a window manager (openbox) for the
// test's life, and pointer and key events made by the X server's XTest
// extension, so they reach the program through the same path a user's do.
#include <sys/types.h>

#include <string>

struct SDL_Window;
typedef struct _XDisplay Display;

namespace korvel::test {

// Starts openbox on the current display and waits until it manages the
// screen; stops it when destroyed. `running()` is false when it could not
// be started (not installed, no display).
class WindowManager {
public:
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;
    bool running() const { return pid_ > 0; }

private:
    void Stop();
    pid_t pid_ = -1;
};

// The pointer and keyboard through XTest, in window pixels of `window`
// (translated to the screen by the X server, never by a cached position).
class XInput {
public:
    explicit XInput(SDL_Window* window);
    ~XInput();
    XInput(const XInput&) = delete;
    XInput& operator=(const XInput&) = delete;
    bool ready() const { return display_ != nullptr && window_ != 0; }

    void MoveTo(float x, float y);
    void Button(int button, bool down);
    void Key(unsigned long keysym, bool down);
    // The window's top left on the screen, as the X server has it.
    void WindowOrigin(int& x, int& y);

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
};

}  // namespace korvel::test
