#include "platform/hand_over.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace korvel {

namespace {

constexpr char kCode[4] = {'K', 'V', 'F', 'L'};
// Connections a frame keeps open at once; more wait in the listen queue.
constexpr std::size_t kMaxPendingConnections = 8;

// Fills `address` for the socket name; returns the address length.
socklen_t MakeAddress(sockaddr_un& address, bool& abstract) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string name = HandOverSocketName(abstract);
    if (abstract) {
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    }
    std::memcpy(address.sun_path, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
}

// Whether the process at the other end of a connected socket runs as this
// user: paths go only to our own copy, and only our own copies give us one.
bool PeerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == getuid();
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string EncodeHandOverMessage(const std::string& path) {
    const auto length = static_cast<std::uint32_t>(path.size());
    std::string message(kCode, sizeof kCode);
    for (int shift = 24; shift >= 0; shift -= 8) message.push_back(static_cast<char>((length >> shift) & 0xFF));
    message += path;
    return message;
}

HandOverParse ParseHandOverMessage(const char* data, std::size_t size, std::string& path) {
    const std::size_t codeBytes = size < sizeof kCode ? size : sizeof kCode;
    if (std::memcmp(data, kCode, codeBytes) != 0) return HandOverParse::Invalid;
    if (size < kHandOverHeaderBytes) return HandOverParse::NeedMore;

    std::uint32_t length = 0;
    for (std::size_t i = 4; i < kHandOverHeaderBytes; ++i) {
        length = (length << 8) | static_cast<unsigned char>(data[i]);
    }
    if (length == 0 || length > kHandOverMaxBytes - kHandOverHeaderBytes) return HandOverParse::Invalid;
    if (size < kHandOverHeaderBytes + length) return HandOverParse::NeedMore;

    const char* text = data + kHandOverHeaderBytes;
    const void* zero = std::memchr(text, '\0', length);
    const std::size_t textLength = zero != nullptr ? static_cast<const char*>(zero) - text : length;
    if (textLength == 0) return HandOverParse::Invalid;
    path.assign(text, textLength);
    return HandOverParse::Complete;
}

std::string HandOverSocketName(bool& abstract) {
    const std::string name = "Korvel-" + std::to_string(getuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        std::string path = std::string(runtime) + "/" + name + ".sock";
        if (path.size() < sizeof(sockaddr_un::sun_path)) {
            abstract = false;
            return path;
        }
    }
    abstract = true;
    return name;
}

bool SendHandOver(const std::string& relativeOrAbsolute) {
    if (relativeOrAbsolute.empty()) return false;
    // The running copy has a working folder of its own: a relative path is
    // made whole against the folder this copy was started in.
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(relativeOrAbsolute, error).lexically_normal();
    const std::string path = error ? relativeOrAbsolute : whole.string();
    if (path.size() > kHandOverMaxBytes - kHandOverHeaderBytes) return false;
    sockaddr_un address;
    bool abstract = false;
    const socklen_t length = MakeAddress(address, abstract);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool sent = false;
    // An abstract name can be taken by any local user: one that is not us
    // gets no path, and this copy starts on its own.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && PeerIsThisUser(fd)) {
        sent = WriteAll(fd, EncodeHandOverMessage(path));
    }
    close(fd);
    return sent;
}

HandOverListener::~HandOverListener() { Close(); }

bool HandOverListener::Open() {
    Close();
    sockaddr_un address;
    bool abstract = false;
    const socklen_t length = MakeAddress(address, abstract);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;

    int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), length);
    if (bound != 0 && errno == EADDRINUSE && !abstract) {
        // A live copy accepts; a file left by a crash refuses.
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        if (probe >= 0) close(probe);
        if (!live) {
            unlink(address.sun_path);
            bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), length);
        }
    }
    if (bound != 0 || listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    if (!abstract) boundPath_ = address.sun_path;
    return true;
}

void HandOverListener::Close() {
    while (!pending_.empty()) Drop(pending_.size() - 1);
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!boundPath_.empty()) {
        unlink(boundPath_.c_str());
        boundPath_.clear();
    }
}

void HandOverListener::Drop(std::size_t index) {
    close(pending_[index].fd);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool HandOverListener::Poll(double now, std::string& path) {
    if (fd_ < 0) return false;

    while (pending_.size() < kMaxPendingConnections) {
        const int client = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) break;
        if (!PeerIsThisUser(client)) {
            close(client);
            continue;
        }
        pending_.push_back(Connection{client, now, {}});
    }

    for (std::size_t i = 0; i < pending_.size();) {
        Connection& c = pending_[i];
        bool closed = false;
        char buffer[1024];
        while (c.bytes.size() < kHandOverMaxBytes) {
            const std::size_t room = kHandOverMaxBytes - c.bytes.size();
            const ssize_t n = recv(c.fd, buffer, room < sizeof buffer ? room : sizeof buffer, 0);
            if (n > 0) {
                c.bytes.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }

        std::string received;
        const HandOverParse result = ParseHandOverMessage(c.bytes.data(), c.bytes.size(), received);
        if (result == HandOverParse::Complete) {
            Drop(i);
            path = std::move(received);
            return true;
        }
        if (result == HandOverParse::Invalid || closed || now - c.start > kHandOverTimeoutSeconds) {
            Drop(i);
            continue;
        }
        ++i;
    }
    return false;
}

}  // namespace korvel
