#include "support/ui/x_input.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace korvel::test {
namespace {

// The window manager's check window on the root, which it sets once it
// manages the screen.
bool ManagerAnnounced(Display* display) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &after, &data);
    const bool set = status == Success && data != nullptr && count == 1;
    if (data != nullptr) XFree(data);
    return set;
}

}  // namespace

WindowManager::WindowManager() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
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

    bool announced = false;
    for (int i = 0; i < 200 && pid_ > 0 && !announced; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        announced = ManagerAnnounced(display);
        if (kill(pid_, 0) != 0) pid_ = -1;  // it ended
    }
    XCloseDisplay(display);
    if (!announced && pid_ > 0) {
        Stop();
        pid_ = -1;
    }
}

void WindowManager::Stop() {
    kill(pid_, SIGTERM);
    // Not our child: wait until it is gone, so the next manager starts alone.
    for (int i = 0; i < 200 && kill(pid_, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
