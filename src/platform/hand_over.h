#pragma once
// Single-instance hand-over: a second start with a project path gives the
// path to the copy that already runs and exits. The first copy listens on a
// Unix socket named after the program and the user and polls it once per
// frame without blocking.
//
// Message: "KVFL", the path's length as 4 bytes (most significant first),
// then the UTF-8 path. The listener reads bytes from another process, so it
// accepts only its own user, reads at most kHandOverMaxBytes, drops a
// message that is not complete within a second, and ignores anything that
// does not start with "KVFL".
#include <cstddef>
#include <string>
#include <vector>

namespace korvel {

inline constexpr std::size_t kHandOverMaxBytes = 4096;
inline constexpr std::size_t kHandOverHeaderBytes = 8;
inline constexpr double kHandOverTimeoutSeconds = 1.0;

std::string EncodeHandOverMessage(const std::string& path);

enum class HandOverParse { NeedMore, Complete, Invalid };

// Reads one message from the bytes received so far. Complete: `path` holds
// the bytes up to the first zero within the stated length. Invalid: another
// code, a length of 0 or past the cap, or an empty path.
HandOverParse ParseHandOverMessage(const char* data, std::size_t size, std::string& path);

// The socket's address: "$XDG_RUNTIME_DIR/Korvel-<uid>.sock" when the
// variable is set and the path fits, else the abstract name "Korvel-<uid>".
// `abstract` tells which; for an abstract name the result excludes the
// leading zero byte.
std::string HandOverSocketName(bool& abstract);

// Second copy: sends the path, made absolute against this process's working
// folder, to a running copy of this user. True when one took the whole
// message; false when none listens (a stale socket refuses) or the listener
// runs as another user.
bool SendHandOver(const std::string& path);

class HandOverListener {
public:
    HandOverListener() = default;
    ~HandOverListener();
    HandOverListener(const HandOverListener&) = delete;
    HandOverListener& operator=(const HandOverListener&) = delete;

    // Binds the socket. A socket file that refuses connections was left by
    // a copy that crashed: it is removed and bound again. False when a live
    // copy holds the name or the socket cannot be made.
    bool Open();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Accepts waiting connections and reads what has arrived, never
    // waiting. `now` is any clock in seconds. True with `path` set when a
    // message completed; the others stay for the next call.
    bool Poll(double now, std::string& path);

    std::size_t PendingConnections() const { return pending_.size(); }

private:
    struct Connection {
        int fd = -1;
        double start = 0.0;
        std::string bytes;
    };
    void Drop(std::size_t index);

    int fd_ = -1;
    std::string boundPath_;  // removed on close; empty for an abstract name
    std::vector<Connection> pending_;
};

}  // namespace korvel
