#include "platform/executable_dir.h"

#include <unistd.h>

#include <vector>

namespace korvel {

std::string GetExecutableDir() {
    // readlink does not say how long the target is: grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos) return {};
            path.resize(slash == 0 ? 1 : slash);
            return path;
        }
        if (buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace korvel
