#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <random>

namespace korvel {

bool FillRandomBytes(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t filled = 0;
    int failures = 0;
    while (filled < count) {
        ssize_t got = getrandom(out + filled, count - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        // ENOSYS or a source that keeps failing: give up after a few tries.
        if (++failures >= 8) break;
    }
    if (filled == count) return true;

    // Identities must still differ between files and runs, so mix the clock
    // and the process's own entropy source into what is left.
    std::random_device device;
    auto seed = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::mt19937_64 engine(seed ^ (static_cast<std::uint64_t>(device()) << 32));
    for (; filled < count; ++filled) out[filled] = static_cast<unsigned char>(engine());
    return false;
}

}  // namespace korvel
