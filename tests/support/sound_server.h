#pragma once
// A private PulseAudio server for tests that open a real audio stream: its
// own socket, configuration and null sinks, so the output runs with no sound
// card. Tests skip with the reason when it cannot start.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace korvel::test {

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Runs a shell command; its standard output, and whether it exited with 0.
inline bool Run(const std::string& command, std::string* out = nullptr) {
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[256];
    std::string text;
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    if (out != nullptr) *out = text;
    return pclose(pipe) == 0;
}

// PulseAudio on a socket in a temporary folder, with its own configuration
// (none of the system's or the user's), no sink until a test loads one, and
// PULSE_SERVER pointing at it (ALSA kept out) while the fixture lives. It
// runs as root too.
class PrivateSoundServer {
public:
    ~PrivateSoundServer() {
        Stop();
        server_.reset();
    }

    // Ends the daemon, as a crash or a restart of the sound server would.
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }

    // False with the reason when the daemon cannot be started. Again after
    // Stop, a new daemon on the same socket.
    bool Start(std::string& why) {
        const std::string socket = dir_.file("pulse.sock");
        const std::string log = dir_.file("daemon.log");
        // A fixed preferred rate: the server's default sample rate.
        WriteBytes(dir_.file("daemon.conf"), "default-sample-rate = 48000\nexit-idle-time = -1\n");
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a crashed test
            const std::string dir = dir_.path().string();
            setenv("HOME", dir.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
            setenv("PULSE_STATE_PATH", dir.c_str(), 1);
            setenv("PULSE_CONFIG", dir_.file("daemon.conf").c_str(), 1);
            unsetenv("PULSE_SERVER");
            if (FILE* f = std::freopen(log.c_str(), "w", stderr)) dup2(fileno(f), STDOUT_FILENO);
            const std::string protocol = "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                   "--disallow-exit", "--disable-shm=yes", "--use-pid-file=no", "--log-target=stderr", "-L",
                   protocol.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            why = "fork failed";
            return false;
        }
        if (!server_) server_.emplace("PULSE_SERVER", "unix:" + socket);
        // ALSA's default device may lead to this server too; with an empty
        // configuration ALSA finds nothing, so only the server's sinks count.
        WriteBytes(dir_.file("asound.conf"), "");
        if (!alsa_) alsa_.emplace("ALSA_CONFIG_PATH", dir_.file("asound.conf"));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                why = "pulseaudio ended at start: " + ReadBytes(log);
                return false;
            }
            if (access(socket.c_str(), F_OK) == 0 && Run("pactl info")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        why = "pulseaudio did not answer: " + ReadBytes(log);
        return false;
    }

    // Loads a null sink (its description is its name, so the audio library
    // tells sinks apart); the module's index, or -1.
    int LoadNullSink(const std::string& name, int channels = 2) {
        std::string out;
        if (!Run("pactl load-module module-null-sink sink_name=" + name + " channels=" + std::to_string(channels) +
                     " sink_properties=device.description=" + name,
                 &out))
            return -1;
        return std::atoi(out.c_str());
    }
    bool Unload(int module) { return Run("pactl unload-module " + std::to_string(module)); }
    bool SetDefaultSink(const std::string& name) { return Run("pactl set-default-sink " + name); }
private:
    TempDir dir_;
    pid_t pid_ = 0;
    std::optional<ScopedEnv> server_;
    std::optional<ScopedEnv> alsa_;
};

}  // namespace korvel::test
