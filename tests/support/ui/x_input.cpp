#include "support/ui/x_input.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cmath>
#include <thread>

namespace korvel::test {
namespace {

// The window that holds the screen's window-manager selection, or None when
// no manager runs. A manager that is ending may still be a process (an
// unreaped one) while it no longer manages the screen; this asks the screen.
Window ManagerOf(Display* display) {
    char name[32];
    std::snprintf(name, sizeof name, "WM_S%d", DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, name, False));
}

// Waits up to five seconds until a manager runs (`running`) or none does.
bool WaitForManager(Display* display, bool running) {
    for (int i = 0; i < 250; ++i) {
        if ((ManagerOf(display) != None) == running) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

WindowManager::WindowManager() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    if (!WaitForManager(display, false)) {  // another one runs
        XCloseDisplay(display);
        return;
    }
    // Started through a child that ends at once, so the manager is not our
    // child: its end later sends no signal that could interrupt a read from
    // the display (an X connection takes an interrupted read as lost).
    int ends[2];
    if (pipe(ends) != 0) {
        XCloseDisplay(display);
        return;
    }
    const pid_t starter = fork();
    if (starter == 0) {
        close(ends[0]);
        const pid_t manager = fork();
        if (manager == 0) {
            close(ends[1]);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            _exit(127);
        }
        const ssize_t written = write(ends[1], &manager, sizeof manager);
        _exit(written == static_cast<ssize_t>(sizeof manager) ? 0 : 1);
    }
    close(ends[1]);
    pid_t manager = -1;
    if (starter < 0 || read(ends[0], &manager, sizeof manager) != static_cast<ssize_t>(sizeof manager)) manager = -1;
    close(ends[0]);
    if (starter > 0) waitpid(starter, nullptr, 0);
    pid_ = manager;

    // A window mapped before the manager handles its requests would wait
    // for a map that never comes.
    const bool managing = pid_ > 0 && WaitForManager(display, true);
    XCloseDisplay(display);
    if (!managing && pid_ > 0) {
        Stop();
        pid_ = -1;
    }
}

void WindowManager::Stop() {
    kill(pid_, SIGTERM);
    // Not our child: wait until it has let go of the screen, so the next
    // manager starts alone.
    if (Display* display = XOpenDisplay(nullptr)) {
        WaitForManager(display, false);
        XCloseDisplay(display);
    }
}

WindowManager::~WindowManager() {
    if (pid_ > 0) Stop();
}

XInput::XInput(SDL_Window* window) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window != nullptr && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        window_ = info.info.x11.window;
}

XInput::~XInput() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

void XInput::WindowOrigin(int& x, int& y) {
    Window child = 0;
    x = y = 0;
    XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
}

void XInput::MoveTo(float x, float y) {
    int left = 0;
    int top = 0;
    WindowOrigin(left, top);
    XTestFakeMotionEvent(display_, DefaultScreen(display_), left + static_cast<int>(std::lround(x)),
                         top + static_cast<int>(std::lround(y)), CurrentTime);
    XSync(display_, False);
}

void XInput::Button(int button, bool down) {
    XTestFakeButtonEvent(display_, static_cast<unsigned int>(button), down ? True : False, CurrentTime);
    XSync(display_, False);
}

void XInput::Key(unsigned long keysym, bool down) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    XSync(display_, False);
}

}  // namespace korvel::test
