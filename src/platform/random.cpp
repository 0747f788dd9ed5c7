#include "platform/random.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

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

    // Identities must still differ between files and runs, so mix the clock,
    // the process id, a stack address and a call counter into what is left
    // (std::random_device is no help here: it throws when it has no source).
    static std::atomic<std::uint64_t> calls{0};
    std::uint64_t state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) << 1) ^
        (static_cast<std::uint64_t>(getpid()) << 32) ^ reinterpret_cast<std::uintptr_t>(&state) ^
        (calls.fetch_add(1, std::memory_order_relaxed) * 0xD1B54A32D192ED03ull);
    for (; filled < count; ++filled) {
        // splitmix64
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        out[filled] = static_cast<unsigned char>(z ^ (z >> 31));
    }
    return false;
}

}  // namespace korvel
